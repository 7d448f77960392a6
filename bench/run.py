#!/usr/bin/env python3
"""Builds init_bicluster in Release and times it against the straightforward
baseline on four workloads, runs alternating side by side, medians reported.

Usage: python3 bench/run.py [--runs N] [--skip-baseline]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build-bench")

WORKLOADS = [
    ("wide", "20000 20000 2000 10 100 5 7"),
    ("tall", "10000000 10 200 10000 100000 -1 -1"),
    ("dense", "100000 10 50 100000 100000 -1 -1"),
    ("huge-sparse", "2000000000 10 5 3 8 -1 -1"),
]


def build():
    subprocess.run(["cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DINIT_BICLUSTER_BENCH=ON"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", BUILD, "--target", "init_bicluster", "bicluster_baseline"],
                   check=True, stdout=subprocess.DEVNULL)


def measure(command):
    """Runs a command; returns (seconds, peak resident KiB, standard error).

    GNU time reports the peak of the command alone (a child of this script
    would also count the script's own memory from before the exec)."""
    start = time.perf_counter()
    result = subprocess.run(["/usr/bin/time", "-f", "%M"] + command, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, check=False)
    seconds = time.perf_counter() - start
    lines = result.stderr.decode().splitlines()
    if result.returncode != 0:
        sys.exit(f"{command} failed with {result.returncode}: {lines}")
    return seconds, int(lines[-1]), "\n".join(lines[:-1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5, help="runs of each program per workload")
    parser.add_argument("--skip-baseline", action="store_true", help="time the tool alone")
    options = parser.parse_args()
    build()
    tool = os.path.join(BUILD, "init_bicluster")
    baseline = os.path.join(BUILD, "bench", "bicluster_baseline")

    rows = []
    for name, arguments in WORKLOADS:
        numbers = arguments.split()
        # Output size and draw count of a typical run, from one run to a real file.
        with tempfile.NamedTemporaryFile(dir=BUILD) as sample:
            measure([tool] + numbers + [sample.name])
            size = os.path.getsize(sample.name)
        seed = str(int(time.time()))
        _, _, report = measure([baseline] + numbers + ["/dev/null", seed])
        draws = int(report.split()[-1])
        tool_runs, baseline_runs = [], []
        # The baseline of the huge workload takes about 20 s a run: three suffice.
        base_count = 0 if options.skip_baseline else (min(3, options.runs) if name == "huge-sparse"
                                                      else options.runs)
        for run in range(options.runs):
            tool_runs.append(measure([tool] + numbers + ["/dev/null"]))
            if run < base_count:
                baseline_runs.append(measure([baseline] + numbers + ["/dev/null", seed]))
        tool_time = statistics.median(r[0] for r in tool_runs)
        tool_memory = max(r[1] for r in tool_runs) / 1024
        row = [name, f"{size / 1e6:.1f}", f"{draws / 1e6:.2f}", f"{tool_time * 1e3:.1f}",
               f"{tool_memory:.1f}", f"{size / tool_time / 1e6:.0f}",
               f"{tool_time * 1e9 / draws:.1f}"]
        if baseline_runs:
            base_time = statistics.median(r[0] for r in baseline_runs)
            base_memory = max(r[1] for r in baseline_runs) / 1024
            row += [f"{base_time * 1e3:.1f}", f"{base_memory:.1f}", f"{base_time / tool_time:.1f}x"]
        rows.append(row)
        print("done:", name, file=sys.stderr)

    header = ["workload", "MB out", "M draws", "tool ms", "tool MiB", "tool MB/s", "tool ns/draw"]
    if not options.skip_baseline:
        header += ["baseline ms", "baseline MiB", "speed-up"]
    print(f"Medians of {options.runs} alternating runs, output to /dev/null.")
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header))
    for row in rows:
        print("| " + " | ".join(row) + " |")

    # The wide workload to a real file, against cp of a file of the same size.
    with tempfile.TemporaryDirectory(dir=BUILD) as directory:
        source = os.path.join(directory, "source")
        target = os.path.join(directory, "target")
        numbers = WORKLOADS[0][1].split()
        measure([tool] + numbers + [source])
        tool_runs, copy_runs = [], []
        for _ in range(options.runs):
            tool_runs.append(measure([tool] + numbers + [target])[0])
            os.unlink(target)
            copy_runs.append(measure(["cp", source, target])[0])
            os.unlink(target)
        tool_time, copy_time = statistics.median(tool_runs), statistics.median(copy_runs)
        print(f"\nwide to a file: tool {tool_time * 1e3:.1f} ms, cp of the same size "
              f"{copy_time * 1e3:.1f} ms, ratio {tool_time / copy_time:.2f}")


if __name__ == "__main__":
    main()
