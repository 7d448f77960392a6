"""Types of the compiled part of init_bicluster."""
from typing import Tuple, Union

import numpy as np
import numpy.typing as npt

version: str

def check(num_rows: int, num_columns: int, num_biclusters: int, min_rows: int, max_rows: int,
          fixed_row: int, fixed_column: int) -> str: ...
def draw(num_rows: int, num_columns: int, num_biclusters: int, min_rows: int, max_rows: int,
         fixed_row: int, fixed_column: int,
         seed: int) -> Tuple[npt.NDArray[np.int64], npt.NDArray[np.int32]]: ...
def validate(indptr: npt.NDArray[np.int64], indices: npt.NDArray[np.int32], num_rows: int,
             fixed_row: int) -> None: ...
def write(indptr: npt.NDArray[np.int64], indices: npt.NDArray[np.int32], num_rows: int,
          num_columns: int, fixed_row: int, fixed_column: int, path: bytes) -> int: ...
def read(descriptor: int, num_rows: int, num_columns: int) -> Union[
    Tuple[int, str],
    Tuple[int, npt.NDArray[np.int64], npt.NDArray[np.int32], int, int, int, int]]: ...
