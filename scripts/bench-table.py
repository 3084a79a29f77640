#!/usr/bin/python3
"""Turns Google Benchmark JSON (from stdin or a file) into a Markdown table
that sets each of our benchmarks beside its peer's: Ours_X/N against
<Peer>_X/N, with the throughput ratio ours / peer."""

from bench_machine import machine_line, read_results


def main():
    data = read_results()
    rows = {}
    for bench in data["benchmarks"]:
        if bench.get("run_type") == "aggregate" and bench.get("aggregate_name") != "median":
            continue
        name = bench.get("run_name", bench["name"])
        who, _, rest = name.partition("_")
        rows.setdefault(rest, {})[who] = bench["bytes_per_second"]
    print("| benchmark | input bytes | ours MB/s | peer | peer MB/s | ours / peer |")
    print("|---|---:|---:|---|---:|---:|")
    for rest, by_who in rows.items():
        ours = by_who.pop("Ours", None)
        for peer, value in by_who.items():
            what, _, size = rest.partition("/")
            print(f"| {what} | {size} | {ours / 1e6:.0f} | {peer} | {value / 1e6:.0f} "
                  f"| {ours / value:.2f} |")
    ctx = data["context"]
    print(f"\n{machine_line(ctx)}; median of {ctx.get('repetitions', 'the')} repetitions.")

if __name__ == "__main__":
    main()
