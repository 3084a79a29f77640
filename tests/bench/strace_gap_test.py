"""scripts/bench-strace-gap.py on traces written as `strace -f -ttt -T -o FILE`
writes them: the longest time between the starts of two system calls, over all
processes of the trace, with the call that began it."""
import importlib
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "scripts"))
strace_gap = importlib.import_module("bench-strace-gap")

CASES = [
    # (what, trace lines, expected gap ms, call, call ms)
    ("one process, the wait in poll",
     ["100 1000.000000 write(3, \"x\", 1) = 1 <0.000020>",
      "100 1000.000100 poll([{fd=3, events=POLLIN}], 1, 300000) = 1 <0.041000>",
      "100 1000.041200 read(3, \"220 \", 5) = 5 <0.000010>",
      "100 1000.041300 close(3) = 0 <0.000010>"],
     41.1, "poll", 41.0),
    ("no PID column (strace without -f)",
     ["1000.000000 brk(NULL) = 0x1 <0.000005>",
      "1000.030000 exit_group(0) = ? <?>"],
     30.0, "brk", 0.005),
    # A call another process interrupts starts on its "unfinished" line; the
    # line that resumes it starts nothing, nor do signals and exits.
    ("two processes, a call cut in two",
     ["7 5.000000 poll([{fd=3, events=POLLIN}], 1, 300000 <unfinished ...>",
      "8 5.001000 write(1, \"a\", 1) = 1 <0.000010>",
      "8 5.002000 --- SIGCHLD {si_signo=SIGCHLD} ---",
      "7 5.050000 <... poll resumed>) = 1 ([{fd=3, revents=POLLIN}]) <0.050000>",
      "8 5.003000 +++ exited with 0 +++",
      "7 5.051000 read(3, \"x\", 1) = 1 <0.000010>"],
     50.0, "write", 0.01),
]


def largest_gap_of(lines, whole=False):
    """The longest gap of a trace of lines, or with whole its whole Trace."""
    with tempfile.NamedTemporaryFile("w", suffix=".strace", delete=False) as trace:
        trace.write("\n".join(lines) + "\n")
    try:
        return strace_gap.read_trace(trace.name) if whole else strace_gap.largest_gap(trace.name)
    finally:
        os.unlink(trace.name)


class LargestGapTest(unittest.TestCase):
    def test_cases(self):
        for what, lines, gap_ms, call, call_ms in CASES:
            with self.subTest(what):
                gap = largest_gap_of(lines)
                self.assertAlmostEqual(gap.ms, gap_ms, places=3)
                self.assertEqual(gap.call, call)
                self.assertAlmostEqual(gap.call_ms, call_ms, places=3)

    def test_the_wait_for_the_end_of_data_stands_apart(self):
        # Greeting, a write that waits for room, the end of data, QUIT: the
        # last but one poll for input alone is the reply to the end of data.
        lines = ["1 1.000000 poll([{fd=3, events=POLLIN}], 1, 300000) = 1 <0.041000>",
                 "1 1.041000 read(3, \"x\", 5) = 5 <0.000010>",
                 "1 1.042000 poll([{fd=3, events=POLLOUT}], 1, 180000) = 1 "
                 "([{fd=3, revents=POLLOUT}]) <0.030000>",
                 "1 1.072000 write(3, \"x\", 16384) = 16384 <0.000100>",
                 "1 1.073000 poll([{fd=3, events=POLLIN}], 1, 600000) = 1 "
                 "([{fd=3, revents=POLLIN}]) <0.055000>",
                 "1 1.128000 write(3, \"x\", 28) = 28 <0.000030>",
                 "1 1.129000 poll([{fd=3, events=POLLIN}], 1, 300000) = 1 <0.000500>",
                 "1 1.130000 close(3) = 0 <0.000010>"]
        trace = largest_gap_of(lines, whole=True)
        self.assertAlmostEqual(trace.longest.ms, 55.0, places=3)
        self.assertEqual(trace.end_of_data.line, 5)
        self.assertAlmostEqual(trace.elsewhere.ms, 41.0, places=3)
        self.assertEqual(trace.elsewhere.line, 1)
        # With one poll for input there is no such wait to set apart.
        trace = largest_gap_of(lines[:4], whole=True)
        self.assertIsNone(trace.end_of_data)
        self.assertAlmostEqual(trace.elsewhere.ms, 41.0, places=3)

    def test_fewer_than_two_calls_give_none(self):
        self.assertIsNone(largest_gap_of(["1 1.000000 exit_group(0) = ?",
                                          "1 1.000100 +++ exited with 0 +++"]))


if __name__ == "__main__":
    unittest.main()
