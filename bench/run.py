#!/usr/bin/env python3
"""Builds init_bicluster in Release and times it against the straightforward
baseline (and a numpy script) on six workloads: runs alternate side by side,
each pair of runs shares a seed, and medians are reported. The library's
in-memory calls are timed beside the tool: the same runs drawn into memory
(collected whole, and handed over one bicluster at a time), and the tool's
file read back.

Usage: python3 bench/run.py [--runs N] [--skip-baseline]
"""
import argparse
import datetime
import filecmp
import os
import platform
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build-bench")
NUMPY_SCRIPT = os.path.join(ROOT, "bench", "numpy_biclusters.py")
# Debian's numpy belongs to the system's Python, which may not be the one
# running this script.
SYSTEM_PYTHON = "/usr/bin/python3"

# name, arguments 1-7, most baseline runs (None: as many as the tool's; 0:
# none, too slow), whether to write a real file and run the numpy script.
WORKLOADS = [
    ("wide", "20000 20000 2000 10 100 5 7", None, True),
    ("tall", "10000000 10 200 10000 100000 -1 -1", None, True),
    ("dense", "100000 10 50 100000 100000 -1 -1", None, True),
    ("cover", "10000000 1 3 10000000 10000000 -1 -1", 3, True),
    ("cover-1e8", "100000000 1 3 100000000 100000000 -1 -1", 0, False),
    ("huge-sparse", "2000000000 10 5 3 8 -1 -1", 3, True),
]


def build():
    subprocess.run(["cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DINIT_BICLUSTER_BENCH=ON"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", BUILD, "--target", "init_bicluster", "bicluster_baseline",
                    "memory_runs"],
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


def machine_line(scratch):
    """Where and when the figures were made: the date, the processor, the
    compiler of the build, and the file system of the real files."""
    processor, flags = platform.machine(), set()
    with open("/proc/cpuinfo", encoding="utf-8") as cpuinfo:
        for line in cpuinfo:
            if line.startswith("model name") and processor == platform.machine():
                processor = line.split(":", 1)[1].strip()
            elif line.startswith("flags") and not flags:
                flags = set(line.split(":", 1)[1].split())
    # The vector path the tool chooses on x86-64, from the features it asks for.
    if {"avx512f", "avx512bw", "avx512vl", "avx512vbmi", "avx512_vbmi2"} <= flags:
        processor += " (AVX-512 path)"
    elif {"avx2", "bmi1", "bmi2", "popcnt"} <= flags:
        processor += " (AVX2 path)"
    elif flags:
        processor += " (baseline path)"
    cache = open(os.path.join(BUILD, "CMakeCache.txt"), encoding="utf-8").read()
    compiler = "".join(line.split("=", 1)[1] for line in cache.splitlines()
                       if line.startswith("CMAKE_CXX_COMPILER:"))
    version = subprocess.run([compiler, "--version"], capture_output=True, text=True).stdout
    file_system = subprocess.run(["findmnt", "-n", "-o", "FSTYPE", "-T", scratch],
                                 capture_output=True, text=True).stdout.strip()
    return (f"Measured {datetime.date.today().isoformat()} on {processor}, {os.cpu_count()} cores, "
            f"Linux {platform.release()}; {version.splitlines()[0]}, Release; real files on "
            f"{file_system}.")


def print_table(header, rows):
    """Prints a Markdown table."""
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header))
    for row in rows:
        print("| " + " | ".join(row) + " |")


def median_ms(runs):
    return statistics.median(r[0] for r in runs) * 1e3


def main():
    parser = argparse.ArgumentParser(description=" ".join(__doc__.split("\n\n")[0].split()))
    parser.add_argument("--runs", type=int, default=5, help="runs of the tool per workload")
    parser.add_argument("--skip-baseline", action="store_true", help="time the tool alone")
    options = parser.parse_args()
    build()
    tool = os.path.join(BUILD, "init_bicluster")
    baseline = os.path.join(BUILD, "bench", "bicluster_baseline")
    memory = os.path.join(BUILD, "bench", "memory_runs")
    with_numpy = os.path.exists(SYSTEM_PYTHON) and subprocess.run(
        [SYSTEM_PYTHON, "-c", "import numpy"], stderr=subprocess.DEVNULL).returncode == 0

    rows, memory_rows = [], []
    scratch = tempfile.mkdtemp(dir=BUILD)
    tool_file, base_file = os.path.join(scratch, "tool"), os.path.join(scratch, "baseline")
    for name, arguments, most_baseline_runs, real_file in WORKLOADS:
        numbers = arguments.split()
        base_runs = 0 if options.skip_baseline else (
            options.runs if most_baseline_runs is None else min(most_baseline_runs, options.runs))
        # Bytes and draws come from one pair of runs with seed 1, whose files
        # must be the same.
        measure([tool, "--seed=1"] + numbers + [tool_file])
        size = os.path.getsize(tool_file)
        draws = None
        if base_runs:
            report = measure([baseline] + numbers + [base_file, "1"])[2]
            draws = int(report.split()[-1])
            if not filecmp.cmp(tool_file, base_file, shallow=False):
                sys.exit(f"{name}: the tool and the baseline wrote different files")
            os.unlink(base_file)
        os.unlink(tool_file)

        tool_null, tool_real, base_null, base_real, numpy_runs = [], [], [], [], []
        collected, streamed, read = [], [], []
        for run in range(options.runs):
            seed = str(run + 1)
            tool_null.append(measure([tool, "--seed=" + seed] + numbers + ["/dev/null"]))
            collected.append(measure([memory, "collect"] + numbers + [seed]))
            streamed.append(measure([memory, "stream"] + numbers + [seed]))
            if real_file:
                tool_real.append(measure([tool, "--seed=" + seed] + numbers + [tool_file]))
                read.append(measure([memory, "read", tool_file]))
                os.unlink(tool_file)
            if run < base_runs:
                base_null.append(measure([baseline] + numbers + ["/dev/null", seed]))
                if real_file:
                    base_real.append(measure([baseline] + numbers + [base_file, seed]))
                    os.unlink(base_file)
            if with_numpy and real_file and run < 3:
                numpy_runs.append(measure([SYSTEM_PYTHON, NUMPY_SCRIPT] + numbers +
                                          ["/dev/null", seed]))
        tool_ms = median_ms(tool_null)
        row = [name, f"`{arguments}`", f"{size / 1e6:.1f}",
               f"{draws / 1e6:.2f}" if draws else "-", f"{tool_ms:.1f}",
               f"{median_ms(tool_real):.1f}" if tool_real else "-",
               f"{max(r[1] for r in tool_null) / 1024:.1f}",
               f"{tool_ms * 1e6 / draws:.2f}" if draws else "-"]
        if not options.skip_baseline:
            if base_null:
                base_ms = median_ms(base_null)
                row += [f"{base_ms:.0f}", f"{max(r[1] for r in base_null) / 1024:.1f}",
                        f"{base_ms / tool_ms:.1f}x",
                        f"{median_ms(base_real) / median_ms(tool_real):.1f}x" if base_real else "-"]
            else:
                row += ["-", "-", "-", "-"]
        if with_numpy:
            row += [f"{median_ms(numpy_runs):.0f}" if numpy_runs else "-",
                    f"{median_ms(numpy_runs) / tool_ms:.0f}x" if numpy_runs else "-"]
        rows.append(row)
        memory_rows.append([name, f"{tool_ms:.1f}", f"{median_ms(collected):.1f}",
                            f"{median_ms(collected) / tool_ms:.2f}",
                            f"{max(r[1] for r in collected) / 1024:.1f}",
                            f"{median_ms(streamed):.1f}", f"{median_ms(streamed) / tool_ms:.2f}",
                            f"{median_ms(tool_real):.1f}" if tool_real else "-",
                            f"{median_ms(read):.1f}" if read else "-",
                            f"{median_ms(read) / median_ms(tool_real):.2f}" if read else "-"])
        print("done:", name, file=sys.stderr)
    measured = machine_line(scratch)
    os.rmdir(scratch)

    print(measured)
    header = ["workload", "arguments 1-7", "MB out", "M draws", "tool ms", "tool ms, file",
              "tool MiB", "tool ns/draw"]
    if not options.skip_baseline:
        header += ["baseline ms", "baseline MiB", "speed-up", "speed-up, file"]
    if with_numpy:
        header += ["numpy ms", "vs numpy"]
    print(f"Medians of {options.runs} runs of the tool, alternating with the baseline (at most 3 "
          f"runs for cover and huge-sparse, none for cover-1e8) and numpy (at most 3). Output to "
          f"/dev/null, or to a real file where the column says so; the same seeds for both "
          f"programs, whose files are the same byte for byte.")
    print_table(header, rows)
    print()
    print(f"The library in memory, medians of {options.runs} runs beside the tool's: a run drawn and "
          f"collected whole, drawn and handed over a bicluster at a time, and the tool's file read "
          f"back; ratios to the tool writing to /dev/null, and to a real file for reading.")
    header = ["workload", "tool ms", "collect ms", "collect/tool", "collect MiB", "stream ms",
              "stream/tool", "tool ms, file", "read ms", "read/write"]
    print_table(header, memory_rows)


if __name__ == "__main__":
    main()
