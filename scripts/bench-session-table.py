#!/usr/bin/python3
"""Turns the session benchmark's Google Benchmark JSON (bench/smtp_session_bench,
from stdin or a file) into the README's Markdown tables: per-session times of
ours and of curl beside the server's own time for the same sessions, system
calls per session, and the ratios curl / ours (above 1: ours is faster)."""
from bench_machine import curl_version, machine_line, read_results


def fmt_syscalls(row):
    calls = row.get("syscalls", -1)
    if calls < 0:
        return "n/a"
    start = row.get("syscalls_process_start")
    if start is None:
        return f"{calls:.0f}"
    return f"{calls - start:.0f} (+{start:.0f} to start the process)"


def main():
    data = read_results()
    rows = {}
    for bench in data["benchmarks"]:
        who = bench["name"].split("_", 1)[0]
        rows[(who, bench.get("label", ""))] = bench

    names = {"Ours": "CSmtp", "Curl": f"curl {curl_version()}"}

    print("| client | trusted CAs | sessions | median ms | p95 ms | max ms "
          "| server: median ms | p95 ms | max ms | client - server, most ms "
          "| system calls per session |")
    print("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---|")
    for (who, label), row in rows.items():
        print(f"| {names.get(who, who)} | {label} | {row['sessions']:.0f} "
              f"| {row['median_ms']:.2f} | {row['p95_ms']:.2f} | {row['max_ms']:.2f} "
              f"| {row['server_median_ms']:.2f} | {row['server_p95_ms']:.2f} "
              f"| {row['server_max_ms']:.2f} | {row['max_gap_ms']:.2f} | {fmt_syscalls(row)} |")

    print()
    print("| trusted CAs | curl / ours, client's median | curl / ours, server's median |")
    print("|---|---:|---:|")
    for (who, label), ours in rows.items():
        peer = rows.get(("Curl", label))
        if who != "Ours" or peer is None:
            continue
        print(f"| {label} | {peer['median_ms'] / ours['median_ms']:.2f} "
              f"| {peer['server_median_ms'] / ours['server_median_ms']:.2f} |")

    print(f"\n{machine_line(data['context'])}.")

if __name__ == "__main__":
    main()
