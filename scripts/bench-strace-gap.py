#!/usr/bin/python3
"""Prints the longest time between the starts of two consecutive system calls in
traces written by `strace -f -ttt -T -o FILE` (all processes of a trace merged
in time order), with the call that began it and how long that call took:

    scripts/bench-strace-gap.py FILE...

A session that stalls on a delayed acknowledgement shows some 40 ms in one
poll (or read) waiting for the server's reply; a long gap after a call that
itself took little time is the process computing. Exit status 1 when a file
cannot be read or holds no system call."""
import re
import sys

# "PID SECONDS.MICROS name(" or, without -f's PID, "SECONDS.MICROS name(".
CALL = re.compile(r"^(?:\d+\s+)?(\d+\.\d+)\s+([a-z_0-9]+)\(")
DURATION = re.compile(r"<(\d+\.\d+)>\s*$")


class Gap:
    """The longest gap of one trace: milliseconds, the system call it followed,
    that call's own duration in milliseconds (None while unknown: a call cut in
    two by another process's), and the line of the trace where it began."""

    def __init__(self, ms, call, call_ms, line):
        self.ms = ms
        self.call = call
        self.call_ms = call_ms
        self.line = line

    def __str__(self):
        took = "" if self.call_ms is None else f", which took {self.call_ms:.1f} ms"
        return f"{self.ms:.1f} ms after {self.call} (line {self.line}{took})"


def calls(lines):
    """(start seconds, name, duration seconds or None, line number) of every
    system call begun in the trace; lines that resume a call, signals and
    exits start none."""
    for number, line in enumerate(lines, 1):
        match = CALL.match(line)
        if match is None:
            continue
        duration = DURATION.search(line)
        yield (float(match.group(1)), match.group(2),
               None if duration is None else float(duration.group(1)), number)


def largest_gap(path):
    """The longest Gap of the trace at path, or None when it has fewer than two
    system calls. Raises OSError when the file cannot be read."""
    with open(path, encoding="utf-8", errors="replace") as trace:
        found = sorted(calls(trace))
    best = None
    for (start, name, took, number), (after, _, _, _) in zip(found, found[1:]):
        gap = after - start
        if best is None or gap > best.ms / 1000:
            best = Gap(gap * 1000, name, None if took is None else took * 1000, number)
    return best


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: bench-strace-gap.py STRACE-FILE...")
    status = 0
    for path in sys.argv[1:]:
        try:
            gap = largest_gap(path)
        except OSError as error:
            print(f"{path}: {error.strerror}", file=sys.stderr)
            status = 1
            continue
        if gap is None:
            print(f"{path}: no system calls", file=sys.stderr)
            status = 1
            continue
        print(f"{path}: largest gap {gap}")
    sys.exit(status)


if __name__ == "__main__":
    main()
