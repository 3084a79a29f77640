"""The machine line under a benchmark table, shared by the table makers."""


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
