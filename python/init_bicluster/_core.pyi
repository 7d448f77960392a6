"""Types of the compiled part of init_bicluster."""
from typing import Tuple

import numpy as np
import numpy.typing as npt

version: str

def check(num_rows: int, num_columns: int, num_biclusters: int, min_rows: int, max_rows: int,
          fixed_row: int, fixed_column: int) -> str: ...
def draw(num_rows: int, num_columns: int, num_biclusters: int, min_rows: int, max_rows: int,
         fixed_row: int, fixed_column: int,
         seed: int) -> Tuple[npt.NDArray[np.int64], npt.NDArray[np.int32]]: ...
def write(indptr: npt.ArrayLike, indices: npt.ArrayLike, num_rows: int, num_columns: int,
          fixed_row: int, fixed_column: int, path: str) -> None: ...
def read(text: bytes, num_rows: int, num_columns: int) -> Tuple[
    npt.NDArray[np.int64], npt.NDArray[np.int32], int, int, int, int]: ...
