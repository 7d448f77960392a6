"""Times init_bicluster.draw_biclusters against the way a NumPy user would
draw (a size per bicluster, then rng.choice without replacement per
bicluster) on one workload, in one process: medians of alternating runs, in
milliseconds. With --threads, times two draws one after the other and two at
once in two threads instead.

Usage: python bench/python_biclusters.py <arguments 1-7> <runs> [<numpy runs>] [--threads]
"""
import statistics
import sys
import threading
import time

import numpy as np

import init_bicluster as ib


def numpy_draw(num_rows, num_biclusters, min_rows, max_rows, seed):
    rng = np.random.default_rng(seed)
    sizes = rng.integers(min_rows, max_rows + 1, size=max(num_biclusters, 0))
    return [rng.choice(num_rows, size, replace=False) for size in sizes]


def elapsed_ms(function, *arguments, **keywords):
    start = time.perf_counter()
    function(*arguments, **keywords)
    return (time.perf_counter() - start) * 1e3


def main():
    arguments = [a for a in sys.argv[1:] if a != "--threads"]
    numbers = [int(a) for a in arguments[:7]]
    runs = int(arguments[7])
    numpy_runs = int(arguments[8]) if len(arguments) > 8 else runs
    fixed = [None if n == -1 else n for n in numbers[5:7]]
    draw = lambda seed: ib.draw_biclusters(*numbers[:5], *fixed, seed=seed)  # noqa: E731
    if "--threads" in sys.argv:
        sequential, parallel = [], []
        for run in range(runs):
            sequential.append(elapsed_ms(lambda: (draw(2 * run), draw(2 * run + 1))))
            threads = [threading.Thread(target=draw, args=(2 * run + i,)) for i in range(2)]
            start = time.perf_counter()
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join()
            parallel.append((time.perf_counter() - start) * 1e3)
        print(f"{statistics.median(sequential):.1f} {statistics.median(parallel):.1f}")
        return
    module, numpy = [], []
    for run in range(runs):
        module.append(elapsed_ms(draw, run))
        if run < numpy_runs:
            numpy.append(elapsed_ms(numpy_draw, numbers[0], numbers[2], numbers[3], numbers[4],
                                    run))
    print(f"{statistics.median(module):.1f} "
          f"{statistics.median(numpy) if numpy else float('nan'):.1f}")


if __name__ == "__main__":
    main()
