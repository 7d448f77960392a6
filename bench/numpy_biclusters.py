#!/usr/bin/python3
"""What a user would otherwise write: the same job and file layout in numpy,
with numpy's own generator (so the bytes differ from the tool's).

Usage: numpy_biclusters.py <seven numbers> <output filename> <seed>
"""
import sys

import numpy as np


def main():
    rows, columns, biclusters, least, most, fixed_row, fixed_column = map(int, sys.argv[1:8])
    path, seed = sys.argv[8], int(sys.argv[9])
    rng = np.random.default_rng(seed)
    kept = np.arange(max(columns, 0))
    kept = kept[kept != fixed_column]
    column_line = "".join(f"{c} " for c in kept.tolist()) + "\n"
    has_fixed = fixed_row != -1
    with open(path, "w") as out:
        for index in range(biclusters):
            size = int(rng.integers(least, most + 1)) - has_fixed
            free = rng.choice(rows - has_fixed, size, replace=False) if size > 0 else np.empty(0, int)
            if has_fixed:
                free[free >= fixed_row] += 1
            out.write(f"BICLUSTER {index}\n{fixed_row}\n")
            out.write("".join(f"{r} " for r in free.tolist()) + "\n")
            out.write(f"{fixed_column}\n")
            out.write(column_line)


if __name__ == "__main__":
    main()
