"""What the table makers share: reading Google Benchmark's JSON output, the
curl version, and the machine line under a table."""
import json
import subprocess
import sys


def read_results():
    """The JSON of the file named by the first argument, or of stdin; exits with
    the benchmark's message when any benchmark reported an error."""
    data = json.load(open(sys.argv[1]) if len(sys.argv) > 1 else sys.stdin)
    for bench in data["benchmarks"]:
        if bench.get("error_occurred"):
            sys.exit(f"{bench['name']}: {bench.get('error_message')}")
    return data


def curl_version():
    """The installed curl's version number, or '?'."""
    try:
        return subprocess.run(["curl", "--version"], capture_output=True, text=True,
                              check=True).stdout.split()[1]
    except (OSError, subprocess.CalledProcessError, IndexError):
        return "?"


def machine_line(context):
    """'Machine: <CPU model>, N CPUs at M MHz' from Google Benchmark's context."""
    model = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            for line in cpuinfo:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return (f"Machine: {model}, {context.get('num_cpus')} CPUs at "
            f"{context.get('mhz_per_cpu')} MHz")
