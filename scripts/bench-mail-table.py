#!/usr/bin/python3
"""Turns the mail benchmark's Google Benchmark JSON (bench/smtp_mail_bench, from
stdin or a file) into the README's Markdown tables: whole-process times of ours
(with the default trace to the system log, and with no trace) and of curl for
the test mail and the large mails, the server's own time for the same sessions,
time per body line, system calls of one run, and the ratios curl / ours (above
1: ours is faster)."""
from bench_machine import curl_version, machine_line, read_results

ORDER = ["Ours", "OursNullTrace", "Curl"]


def fmt_calls(row, key):
    calls = row.get(key, -1)
    return "n/a" if row.get("syscalls", -1) < 0 else f"{calls:,.0f}"


def main():
    data = read_results()
    rows = {}
    for bench in data["benchmarks"]:
        # Mail/<who>/<body>/iterations:N
        _, who, body = bench["name"].split("/")[:3]
        rows[(body, who)] = bench

    names = {"Ours": "CSmtp, trace to syslog", "OursNullTrace": "CSmtp, no trace",
             "Curl": f"curl {curl_version()}"}
    bodies = sorted({body for body, _ in rows}, key=lambda b: -1 if b == "test" else int(b))

    print("| mail | client | runs | median ms | p95 ms | max ms | server: median ms "
          "| µs per line | µs per line above the test mail | system calls | of them writes "
          "| sockets |")
    print("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for body in bodies:
        for who in ORDER:
            row = rows.get((body, who))
            if row is None:
                continue
            lines = row["lines"]
            # The same client's test mail holds the fixed part (process start,
            # handshake, login): what is left grows with the body alone.
            small = rows.get(("test", who))
            if body == "test" or small is None:
                per_line = added = "—"
            else:
                per_line = f"{1000 * row['median_ms'] / lines:.2f}"
                growth = (row["median_ms"] - small["median_ms"]) / (lines - small["lines"])
                added = f"{1000 * growth:.2f}"
            mail = "test mail, 8 lines" if body == "test" else f"{lines:,.0f} lines"
            print(f"| {mail} | {names[who]} | {row['runs']:.0f} | {row['median_ms']:.1f} "
                  f"| {row['p95_ms']:.1f} | {row['max_ms']:.1f} | {row['server_median_ms']:.1f} "
                  f"| {per_line} | {added} | {fmt_calls(row, 'syscalls')} "
                  f"| {fmt_calls(row, 'syscalls_write')} | {fmt_calls(row, 'syscalls_socket')} |")

    print()
    print("| mail | curl / ours: median, syslog | no trace "
          "| server's median, syslog | no trace |")
    print("|---|---:|---:|---:|---:|")

    def ratio(curl, ours, key):
        return "—" if ours is None else f"{curl[key] / ours[key]:.2f}"

    for body in bodies:
        curl = rows.get((body, "Curl"))
        if curl is None:
            continue
        ours = rows.get((body, "Ours"))
        quiet = rows.get((body, "OursNullTrace"))
        mail = "test mail" if body == "test" else f"{curl['lines']:,.0f} lines"
        print(f"| {mail} | {ratio(curl, ours, 'median_ms')} | {ratio(curl, quiet, 'median_ms')} "
              f"| {ratio(curl, ours, 'server_median_ms')} "
              f"| {ratio(curl, quiet, 'server_median_ms')} |")

    print(f"\n{machine_line(data['context'])}.")


if __name__ == "__main__":
    main()
