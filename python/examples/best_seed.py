"""From a data matrix to the best of several seeds' initial biclusters.

A data matrix of 2000 rows and 60 columns: initial biclusters are drawn with
twenty seeds, each run is scored by the mean squared residue of its
biclusters (Cheng and Church's measure of how coherent a bicluster is: lower
is better), the best run is kept, its ten most coherent biclusters are picked
out as a start of their own, the run is written in the tool's format, read
back, and drawn again from its seed.

    python3 best_seed.py [FOLDER]    # writes FOLDER/best.txt (default: a temporary folder)
"""
import pathlib
import sys
import tempfile

import numpy as np

import init_bicluster as ib


def mean_squared_residue(data, rows):
    """Cheng and Church's mean squared residue of the rows `rows` of `data`,
    with every column."""
    block = data[rows]
    residue = (block - block.mean(axis=1, keepdims=True) - block.mean(axis=0, keepdims=True)
               + block.mean())
    return float(np.mean(residue ** 2))


def main(folder):
    rng = np.random.default_rng(0)
    data = rng.normal(size=(2000, 60))
    num_rows, num_columns = data.shape
    arguments = dict(num_biclusters=50, min_rows=10, max_rows=150)

    scores = {}
    for seed in range(20):
        b = ib.draw_biclusters(num_rows, num_columns, seed=seed, **arguments)
        scores[seed] = np.mean([mean_squared_residue(data, rows) for rows in b])
    best_seed = min(scores, key=scores.get)
    best = ib.draw_biclusters(num_rows, num_columns, seed=best_seed, **arguments)
    print(f"best of {len(scores)} seeds: {best_seed}, mean squared residue "
          f"{scores[best_seed]:.3f} (worst {max(scores.values()):.3f})")

    each = np.array([mean_squared_residue(data, rows) for rows in best])
    top = best[np.argsort(each)[:10]]
    print(f"its ten most coherent biclusters, of {[len(rows) for rows in top]} rows: "
          f"residues {np.sort(each)[:10].round(2).tolist()}")

    path = pathlib.Path(folder) / "best.txt"
    ib.write_biclusters(best, path)
    again = ib.read_biclusters(path, num_rows=num_rows, num_columns=num_columns)
    assert again == best and again.seed is None
    assert ib.draw_biclusters(num_rows, num_columns, seed=best_seed, **arguments) == best
    print(f"wrote {path}, read it back, and drew it again from seed {best_seed}; the tool "
          f"writes the same file with:\n  init_bicluster --seed {best_seed} {num_rows} "
          f"{num_columns} 50 10 150 -1 -1 best.txt")


if __name__ == "__main__":
    if len(sys.argv) > 1:
        main(sys.argv[1])
    else:
        with tempfile.TemporaryDirectory() as scratch:
            main(scratch)
