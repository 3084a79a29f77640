#!/usr/bin/python3
"""Prints the longest time between the starts of two consecutive system calls in
traces written by `strace -f -ttt -T -o FILE` (all processes of a trace merged
in time order), with the call that began it and how long that call took:

    scripts/bench-strace-gap.py FILE...

A session that stalls on a delayed acknowledgement shows some 40 ms in one
poll (or read) waiting for the server's reply; a long gap after a call that
itself took little time is the process computing. For a mail session it also
prints the wait for the server's reply to the end of data, taken as the last
but one poll for input alone (the last waits for the reply to QUIT): there the
server works on the whole message (Postfix writes it to its queue and syncs
it to disk), so that wait says nothing about the client; and the longest gap
apart from it. Exit status 1 when a file cannot be read or holds no system
call."""
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
    """(start seconds, name, duration seconds or None, line number, whether the
    call is a poll for input alone) of every system call begun in the trace;
    lines that resume a call, signals and exits start none."""
    for number, line in enumerate(lines, 1):
        match = CALL.match(line)
        if match is None:
            continue
        duration = DURATION.search(line)
        name = match.group(2)
        waits = (name in ("poll", "ppoll") and "events=POLLIN" in line
                 and "POLLOUT" not in line.split(") = ")[0])
        yield (float(match.group(1)), name,
               None if duration is None else float(duration.group(1)), number, waits)


class Trace:
    """What one trace shows: the longest Gap (None with fewer than two calls),
    the wait for the reply to the end of data as a Gap (None with fewer than
    two polls for input), and the longest Gap apart from that wait."""

    def __init__(self, found):
        gaps = [Gap((after[0] - start) * 1000, name, None if took is None else took * 1000,
                    number)
                for (start, name, took, number, _), after in zip(found, found[1:])]
        waits = [i for i, call in enumerate(found[:-1]) if call[4]]
        self.end_of_data = gaps[waits[-2]] if len(waits) >= 2 else None
        self.longest = max(gaps, key=lambda gap: gap.ms, default=None)
        self.elsewhere = max((gap for gap in gaps if gap is not self.end_of_data),
                             key=lambda gap: gap.ms, default=None)


def read_trace(path):
    """The Trace of the file at path. Raises OSError when it cannot be read."""
    with open(path, encoding="utf-8", errors="replace") as trace:
        return Trace(sorted(calls(trace)))


def largest_gap(path):
    """The longest Gap of the trace at path, or None when it has fewer than two
    system calls. Raises OSError when the file cannot be read."""
    return read_trace(path).longest


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: bench-strace-gap.py STRACE-FILE...")
    status = 0
    for path in sys.argv[1:]:
        try:
            trace = read_trace(path)
        except OSError as error:
            print(f"{path}: {error.strerror}", file=sys.stderr)
            status = 1
            continue
        if trace.longest is None:
            print(f"{path}: no system calls", file=sys.stderr)
            status = 1
            continue
        print(f"{path}: largest gap {trace.longest}")
        if trace.end_of_data is not None:
            print(f"  the reply to the end of data: {trace.end_of_data}")
            print(f"  largest gap apart from it: {trace.elsewhere}")
    sys.exit(status)


if __name__ == "__main__":
    main()
