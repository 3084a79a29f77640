#!/usr/bin/python3
"""Turns the mail benchmark's Google Benchmark JSON (bench/smtp_mail_bench, from
stdin or a file) into the README's Markdown tables: for each server (the local
one in the benchmark's process, and Postfix when the run had one),
whole-process times of ours (with the default trace to the system log, and
with no trace) and of curl, the local server's own time for the same sessions,
time per body line, the largest resident set, system calls of one run and the
longest time between two system calls in a traced run (when the benchmark had
--trace-dir); then the ratios, and the targets: ours at most 0.5 of curl's
wall time for the test mail and 1.0 for the 100,000 lines, and no stall of
some 40 ms between two system calls. The local server's STARTTLS port (where
the test mail's TLS from the start meets a plain greeting and connects again
with STARTTLS) gets a times table of its own and one that sets ours there
beside ours with TLS from the start."""
import importlib
import os

from bench_machine import curl_version, machine_line, read_results

strace_gap = importlib.import_module("bench-strace-gap")

SERVERS = ["Local", "LocalStartTls", "Postfix"]
ORDER = ["Ours", "OursNullTrace", "Curl"]
NAMES = {"Ours": "CSmtp, trace to syslog", "OursNullTrace": "CSmtp, no trace"}
SERVER_NAMES = {"Local": "local (in-process)",
                "LocalStartTls": "local (in-process), STARTTLS port", "Postfix": "Postfix"}
# The targets, ours / curl of the median wall time, by mail.
TARGETS = {"test": 0.5, "100000": 1.0}
# A delayed-ACK stall is some 40 ms, a little less from where the client
# starts to wait; a session of ours has no other wait near that long.
STALL_MS = 30


def fmt_calls(row, key):
    calls = row.get(key, -1)
    return "n/a" if row.get("syscalls", -1) < 0 else f"{calls:,.0f}"


def fmt_rss(row):
    kib = row.get("max_rss_kib", -1)
    return "n/a" if kib < 0 else f"{kib / 1024:.1f}"


def trace_of(trace_dir, server, who, body):
    """The strace_gap.Trace of the case's timestamped run, or None."""
    if not trace_dir:
        return None
    try:
        return strace_gap.read_trace(os.path.join(trace_dir, f"{server}-{who}-{body}.strace"))
    except OSError:
        return None


def gap_of(trace_dir, server, who, body):
    """The longest gap of the case's timestamped run, or None."""
    trace = trace_of(trace_dir, server, who, body)
    return None if trace is None else trace.longest


def fmt_gap(gap):
    return "n/a" if gap is None else f"{gap.ms:.1f} ({gap.call})"


def mail_name(body, lines, short=False):
    if body == "test":
        return "test mail" if short else f"test mail, {lines:.0f} lines"
    return f"{lines:,.0f} lines"


def times_table(rows, server, bodies, trace_dir):
    local = server.startswith("Local")
    print(f"Server: {SERVER_NAMES[server]}.\n")
    print("| mail | client | runs | median ms | p95 ms | max ms "
          + ("| server: median ms " if local else "")
          + "| µs per line | µs per line above the test mail | max RSS MB | system calls "
          "| of them writes | sockets | longest time between system calls, ms |")
    print("|---|---|" + "---:|" * (12 if local else 11))
    for body in bodies:
        for who in ORDER:
            row = rows.get((server, body, who))
            if row is None:
                continue
            lines = row["lines"]
            # The same client's test mail holds the fixed part (process start,
            # handshake, login): what is left grows with the body alone.
            small = rows.get((server, "test", who))
            if body == "test" or small is None:
                per_line = added = "—"
            else:
                per_line = f"{1000 * row['median_ms'] / lines:.2f}"
                growth = (row["median_ms"] - small["median_ms"]) / (lines - small["lines"])
                added = f"{1000 * growth:.2f}"
            server_ms = f"| {row['server_median_ms']:.1f} " if local else ""
            print(f"| {mail_name(body, lines)} | {NAMES[who]} | {row['runs']:.0f} "
                  f"| {row['median_ms']:.1f} | {row['p95_ms']:.1f} | {row['max_ms']:.1f} "
                  f"{server_ms}| {per_line} | {added} | {fmt_rss(row)} "
                  f"| {fmt_calls(row, 'syscalls')} | {fmt_calls(row, 'syscalls_write')} "
                  f"| {fmt_calls(row, 'syscalls_socket')} "
                  f"| {fmt_gap(gap_of(trace_dir, server, who, body))} |")
    print()


def ratio_table(rows, bodies):
    print("| mail | curl / ours: median, syslog | no trace "
          "| server's median, syslog | no trace |")
    print("|---|---:|---:|---:|---:|")

    def ratio(curl, ours, key):
        return "—" if ours is None else f"{curl[key] / ours[key]:.2f}"

    for body in bodies:
        curl = rows.get(("Local", body, "Curl"))
        if curl is None:
            continue
        ours = rows.get(("Local", body, "Ours"))
        quiet = rows.get(("Local", body, "OursNullTrace"))
        print(f"| {mail_name(body, curl['lines'], short=True)} "
              f"| {ratio(curl, ours, 'median_ms')} | {ratio(curl, quiet, 'median_ms')} "
              f"| {ratio(curl, ours, 'server_median_ms')} "
              f"| {ratio(curl, quiet, 'server_median_ms')} |")
    print()


def retry_table(rows):
    """Ours on the STARTTLS port, where the test mail connects twice, beside
    ours with TLS from the start on the local server: the same mail."""
    print("| client | TLS from the start: median ms | STARTTLS after a plain greeting: "
          "median ms | ratio | difference ms | server: median ms, TLS / STARTTLS "
          "| sockets, TLS / STARTTLS | system calls, TLS / STARTTLS |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    for who in ("Ours", "OursNullTrace"):
        tls = rows.get(("Local", "test", who))
        retry = rows.get(("LocalStartTls", "test", who))
        if tls is None or retry is None:
            continue
        print(f"| {NAMES[who]} | {tls['median_ms']:.1f} | {retry['median_ms']:.1f} "
              f"| {retry['median_ms'] / tls['median_ms']:.2f} "
              f"| {retry['median_ms'] - tls['median_ms']:+.1f} "
              f"| {tls['server_median_ms']:.1f} / {retry['server_median_ms']:.1f} "
              f"| {fmt_calls(tls, 'syscalls_socket')} / {fmt_calls(retry, 'syscalls_socket')} "
              f"| {fmt_calls(tls, 'syscalls')} / {fmt_calls(retry, 'syscalls')} |")
    print()


def targets_table(rows, trace_dir):
    print("| server | mail | ours / curl, median wall time | target | met "
          "| ours / curl, max RSS | ours: waiting for the end of data's reply, ms "
          "| ours: longest time between system calls apart from that, ms "
          "| curl: longest time between system calls, ms "
          f"| no stall in ours (all under {STALL_MS} ms) |")
    print("|---|---|---:|---:|---|---:|---:|---:|---:|---|")
    for server in ("Local", "Postfix"):
        for body, target in TARGETS.items():
            ours = rows.get((server, body, "Ours"))
            curl = rows.get((server, body, "Curl"))
            if ours is None or curl is None:
                continue
            time_ratio = ours["median_ms"] / curl["median_ms"]
            rss = (f"{ours['max_rss_kib'] / curl['max_rss_kib']:.2f}"
                   if ours.get("max_rss_kib", -1) > 0 and curl.get("max_rss_kib", -1) > 0
                   else "n/a")
            # The wait for the end of data's reply is the server at work on
            # the message; every other gap is the client's or a stall.
            ours_trace = trace_of(trace_dir, server, "Ours", body)
            ours_gap = None if ours_trace is None else ours_trace.elsewhere
            end_of_data = None if ours_trace is None else ours_trace.end_of_data
            curl_gap = gap_of(trace_dir, server, "Curl", body)
            no_stall = "n/a" if ours_gap is None else (
                "yes" if ours_gap.ms < STALL_MS else "no")
            print(f"| {SERVER_NAMES[server]} | {mail_name(body, ours['lines'], short=True)} "
                  f"| {time_ratio:.2f} | ≤ {target:.1f} | {'yes' if time_ratio <= target else 'no'} "
                  f"| {rss} | {'n/a' if end_of_data is None else f'{end_of_data.ms:.1f}'} "
                  f"| {fmt_gap(ours_gap)} | {fmt_gap(curl_gap)} | {no_stall} |")
    print()


def main():
    data = read_results()
    rows = {}
    for bench in data["benchmarks"]:
        # <server>/<body>/iterations:N, with counters <who>.<what> and a few
        # of the mail's own (lines, message_bytes).
        server, body = bench["name"].split("/")[:2]
        for who in ORDER:
            row = {key.split(".", 1)[1]: value for key, value in bench.items()
                   if key.startswith(who + ".")}
            if row:
                row["lines"] = bench["lines"]
                rows[(server, body, who)] = row
    NAMES["Curl"] = f"curl {curl_version()}"
    trace_dir = data["context"].get("trace_dir")

    for server in SERVERS:
        bodies = sorted({b for s, b, _ in rows if s == server},
                        key=lambda b: -1 if b == "test" else int(b))
        if bodies:
            times_table(rows, server, bodies, trace_dir)
            if server == "Local":
                ratio_table(rows, bodies)
            if server == "LocalStartTls":
                retry_table(rows)
    targets_table(rows, trace_dir)
    print(f"{machine_line(data['context'])}.")


if __name__ == "__main__":
    main()
