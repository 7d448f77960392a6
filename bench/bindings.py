#!/usr/bin/env python3
"""Times the R package and the Python module beside the library's in-memory
draw in C++ (bench/memory_runs, collected whole) on the workloads of
bench/run.py, and against the idiomatic draws of base R and NumPy. Needs the
Release build of bench/run.py (build-bench/), the R package installed and the
Python module importable by the interpreter given.

Usage: python3 bench/bindings.py [--runs N] [--python PYTHON] [--r-library DIR]
"""
import argparse
import sys
import os
import statistics
import subprocess
import time

import run

ROOT = run.ROOT
# Workloads of run.py whose runs fit a binding's memory several times over,
# and how many runs the slow idiomatic draws get.
WORKLOADS = [(name, arguments, 3 if most is not None else None)
             for name, arguments, most, _ in run.WORKLOADS if name != "cover-1e8"]


def wall_ms(command, environment=None):
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, env=environment)
    return (time.perf_counter() - start) * 1e3


def output(command, environment=None):
    return subprocess.run(command, check=True, stdout=subprocess.PIPE,
                          env=environment).stdout.decode().split()


def main():
    parser = argparse.ArgumentParser(description=" ".join(__doc__.split("\n\n")[0].split()))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--python", default="/usr/bin/python3")
    parser.add_argument("--r-library", default=None)
    options = parser.parse_args()
    memory = os.path.join(run.BUILD, "bench", "memory_runs")
    environment = dict(os.environ)
    if options.r_library:
        environment["R_LIBS"] = options.r_library
    rows = []
    for name, arguments, slow_runs in WORKLOADS:
        numbers = arguments.split()
        slow = str(min(slow_runs or options.runs, options.runs))
        cpp = statistics.median(wall_ms([memory, "collect"] + numbers + [str(seed)])
                                for seed in range(1, options.runs + 1))
        r_ms, base_ms = map(float, output(["Rscript", os.path.join(ROOT, "bench", "r_biclusters.R")]
                                          + numbers + [str(options.runs), slow], environment))
        py_ms, numpy_ms = map(float, output(
            [options.python, os.path.join(ROOT, "bench", "python_biclusters.py")] + numbers
            + [str(options.runs), slow]))
        rows.append([name, f"{cpp:.1f}", f"{r_ms:.1f}", f"{r_ms / cpp:.2f}", f"{base_ms:.0f}",
                     f"{base_ms / r_ms:.0f}x", f"{py_ms:.1f}", f"{py_ms / cpp:.2f}",
                     f"{numpy_ms:.0f}", f"{numpy_ms / py_ms:.0f}x"])
        print("done:", name, flush=True, file=sys.stderr)
    header = ["workload", "C++ ms", "R ms", "R/C++", "base R ms", "vs base R", "Python ms",
              "Python/C++", "NumPy ms", "vs NumPy"]
    print(f"Medians of {options.runs} runs (at most 3 of base R and NumPy on cover and "
          f"huge-sparse). C++: the library's draw collected whole, the whole process of "
          f"bench/memory_runs; R and Python: the call, timed in the process.")
    run.print_table(header, rows)
    sequential, parallel = map(float, output(
        [options.python, os.path.join(ROOT, "bench", "python_biclusters.py")]
        + "10000000 1 3 10000000 10000000 -1 -1".split() + [str(options.runs), "--threads"]))
    print(f"\nPython, two cover runs: {sequential:.0f} ms one after the other, {parallel:.0f} ms "
          f"at once in two threads ({sequential / parallel:.2f}x).")


if __name__ == "__main__":
    main()
