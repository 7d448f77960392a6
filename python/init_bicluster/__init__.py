"""Initial biclusters with the exact draws of the init_bicluster tool.

Draws initial biclusters for a biclustering run: random sets of rows, of a
size between a least and a greatest count, each with every column, optionally
with one fixed row in every bicluster and one fixed column recorded apart. For
a given seed the rows are exactly those that ``init_bicluster --seed`` writes,
on every machine. Rows and columns are numbered from 0, as in the tool's
files; "none" is None for the fixed row and column.

>>> import init_bicluster
>>> b = init_bicluster.draw_biclusters(6, 4, 2, 2, 3, fixed_row=4, fixed_column=2, seed=1)
>>> [rows.tolist() for rows in b]
[[4, 3, 1], [4, 1, 0]]
"""
from __future__ import annotations

import errno
import operator
import os
import secrets
from typing import TYPE_CHECKING, Any, Iterator, Optional, Sequence, Tuple, Union, overload

import numpy as np
import numpy.typing as npt

from . import _core

if TYPE_CHECKING:
    import scipy.sparse

__all__ = ["Biclusters", "draw_biclusters", "read_biclusters", "write_biclusters",
           "__version__"]
__version__: str = _core.version

#: A file's path, as open() takes it (but not a descriptor).
Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
#: What draw_biclusters takes as a seed.
Seed = Union[int, np.integer[Any], np.random.Generator, np.random.RandomState, None]
#: The index of one bicluster.
Index = Union[int, np.integer[Any]]
#: What selects biclusters: a slice, integers or a boolean mask.
Selection = Union[slice, Sequence[int], Sequence[bool], npt.NDArray[Any]]

_INT32 = (-2**31, 2**31 - 1)

# The failures that are the tool's own, not the system's, and how it words them.
_REASONS = {
    errno.ESTALE: "another program changed the path during the run",
    errno.ETXTBSY: "another program holds a lock on the file",
}


def _whole_number(value: Any, name: str, least: int = _INT32[0], most: int = _INT32[1]) -> int:
    """`value` as an int from `least` to `most`: TypeError for what is not an
    integer (bool and floats included), ValueError outside the range."""
    if isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{name} must be an integer, not bool")
    try:
        number = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}") from None
    if not least <= number <= most:
        raise ValueError(f"{name} must be from {least} to {most}, not {number}")
    return number


def _fixed_row(value: Any, num_rows: int) -> Optional[int]:
    """The fixed row `value`: None, or a row of the matrix."""
    if value is None:
        return None
    row = _whole_number(value, "fixed_row")
    if not 0 <= row < num_rows:
        raise ValueError(f"fixed_row must be None or a row from 0 to {num_rows - 1}, not {row}")
    return row


def _fixed_column(value: Any) -> Optional[int]:
    """The fixed column `value`: None, or any 32-bit number but -1, which the
    file would read as none; one outside the matrix leaves every column
    listed."""
    if value is None:
        return None
    column = _whole_number(value, "fixed_column")
    if column == -1:
        raise ValueError("fixed_column must be None, not -1, for no fixed column")
    return column


def _integer_array(values: Any, name: str, dtype: Any) -> npt.NDArray[Any]:
    """`values` as a one-dimensional array of `dtype`, whose values it must
    hold as they are: integers only (no floats, strings or bools), none
    outside its range."""
    array = np.asarray(values)
    if array.ndim != 1:
        raise ValueError(f"{name} must be one-dimensional, not of shape {array.shape}")
    if array.size == 0:
        return np.zeros(0, dtype=dtype)
    if array.dtype.kind not in "iu":
        raise TypeError(f"{name} must hold integers, not {array.dtype}")
    limits = np.iinfo(dtype)
    if array.min() < limits.min or array.max() > limits.max:
        raise ValueError(f"{name} must hold numbers from {limits.min} to {limits.max}")
    return np.ascontiguousarray(array, dtype=dtype)


def _path(path: Any) -> bytes:
    """The bytes of `path`, a str, bytes or os.PathLike: TypeError for
    anything else (a descriptor included), ValueError for a NUL byte."""
    if not isinstance(path, (str, bytes, os.PathLike)):
        raise TypeError(f"path must be str, bytes or os.PathLike, not {type(path).__name__}")
    encoded = os.fsencode(path)
    if b"\0" in encoded:
        raise ValueError("embedded null byte")
    return encoded


def _seed_of(seed: Seed) -> int:
    """The 32-bit seed that `seed` stands for."""
    if seed is None:
        return secrets.randbits(32)
    if isinstance(seed, np.random.Generator):
        return int(seed.integers(0, 2**32, dtype=np.uint64))
    if isinstance(seed, np.random.RandomState):
        return int(seed.randint(0, 2**32, dtype=np.uint64))
    return _whole_number(seed, "seed", 0, 2**32 - 1)


class Biclusters:
    """Initial biclusters in compressed-row form.

    Bicluster ``i`` holds the rows ``indices[indptr[i]:indptr[i + 1]]``: the
    fixed row first when there is one, then the other rows in the order
    drawn; and every column of the matrix. ``b[i]`` is that array; ``b`` with
    a slice, a list of integers or a boolean mask is a Biclusters of those
    biclusters. ``rows_``, ``columns_``, ``biclusters_``, ``get_indices``,
    ``get_shape`` and ``get_submatrix`` are those of scikit-learn's
    biclustering estimators; ``membership(sparse=True)`` gives the rows as a
    SciPy CSR matrix for large matrices.

    Every argument is checked, so that the biclusters are rows of the matrix
    that the tool could have drawn: ``indptr`` rises from 0 to
    ``len(indices)``; each bicluster holds rows from 0 to ``num_rows - 1``,
    distinct, the fixed row first. Arrays must hold integers, which are kept
    as they are.

    Attributes:
        indptr: int64 array of ``len(self) + 1`` offsets into ``indices``.
        indices: int32 array of the rows of every bicluster, one after another.
        num_rows, num_columns: the dimensions of the matrix (``num_columns``
            may be 0 or less, as the tool allows: no column is listed).
        fixed_row, fixed_column: the fixed row and column, or None.
        seed: the seed the biclusters were drawn with; None when read, made
            or selected, since no seed draws them.
    """

    indptr: npt.NDArray[np.int64]
    indices: npt.NDArray[np.int32]
    num_rows: int
    num_columns: int
    fixed_row: Optional[int]
    fixed_column: Optional[int]
    seed: Optional[int]

    def __init__(self, indptr: npt.ArrayLike, indices: npt.ArrayLike, num_rows: int,
                 num_columns: int, fixed_row: Optional[int] = None,
                 fixed_column: Optional[int] = None, seed: Optional[int] = None) -> None:
        self.num_rows = _whole_number(num_rows, "num_rows", 0)
        self.num_columns = _whole_number(num_columns, "num_columns")
        self.fixed_row = _fixed_row(fixed_row, self.num_rows)
        self.fixed_column = _fixed_column(fixed_column)
        self.seed = None if seed is None else _whole_number(seed, "seed", 0, 2**32 - 1)
        self.indptr = _integer_array(indptr, "indptr", np.int64)
        self.indices = _integer_array(indices, "indices", np.int32)
        _core.validate(self.indptr, self.indices, self.num_rows,
                       -1 if self.fixed_row is None else self.fixed_row)

    @classmethod
    def _trusted(cls, indptr: npt.NDArray[np.int64], indices: npt.NDArray[np.int32],
                 num_rows: int, num_columns: int, fixed_row: Optional[int],
                 fixed_column: Optional[int], seed: Optional[int]) -> Biclusters:
        """Biclusters from arrays that the library or a selection made, which
        need no check."""
        made = cls.__new__(cls)
        made.indptr, made.indices = indptr, indices
        made.num_rows, made.num_columns = num_rows, num_columns
        made.fixed_row, made.fixed_column, made.seed = fixed_row, fixed_column, seed
        return made

    def __len__(self) -> int:
        return len(self.indptr) - 1

    @overload
    def __getitem__(self, key: Index) -> npt.NDArray[np.int32]: ...

    @overload
    def __getitem__(self, key: Selection) -> Biclusters: ...

    def __getitem__(self, key: Any) -> Union[npt.NDArray[np.int32], Biclusters]:
        """The rows of bicluster ``key`` (negative counts from the end), or
        the biclusters a slice, integers or a boolean mask select."""
        if isinstance(key, (bool, np.bool_)):
            raise TypeError("biclusters are selected by integers, slices or masks, not bool")
        if not isinstance(key, slice) and np.ndim(key) == 0:
            try:
                i = operator.index(key)
            except TypeError:
                raise TypeError("biclusters are selected by integers, slices or masks, not "
                                f"{type(key).__name__}") from None
            if i < 0:
                i += len(self)
            if not 0 <= i < len(self):
                raise IndexError("bicluster index out of range")
            return self.indices[self.indptr[i]:self.indptr[i + 1]]
        if not isinstance(key, slice):
            key = np.asarray(key)
            if key.ndim != 1 or (key.size > 0 and key.dtype.kind not in "iub"):
                raise TypeError("biclusters are selected by integers, slices or masks, "
                                f"not {key.dtype} of shape {key.shape}")
            if key.size == 0:
                key = key.astype(np.intp)
        chosen = np.arange(len(self))[key]
        starts = self.indptr[chosen]
        lengths = self.indptr[chosen + 1] - starts
        indptr = np.zeros(len(chosen) + 1, dtype=np.int64)
        np.cumsum(lengths, out=indptr[1:])
        positions = np.repeat(starts - indptr[:-1], lengths) + np.arange(indptr[-1])
        return Biclusters._trusted(indptr, self.indices[positions], self.num_rows,
                                   self.num_columns, self.fixed_row, self.fixed_column, None)

    def __iter__(self) -> Iterator[npt.NDArray[np.int32]]:
        for i in range(len(self)):
            yield self.indices[self.indptr[i]:self.indptr[i + 1]]

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Biclusters):
            return NotImplemented
        return (self.num_rows == other.num_rows and self.num_columns == other.num_columns
                and self.fixed_row == other.fixed_row and self.fixed_column == other.fixed_column
                and np.array_equal(self.indptr, other.indptr)
                and np.array_equal(self.indices, other.indices))

    __hash__ = None  # type: ignore[assignment]

    def __repr__(self) -> str:
        return (f"Biclusters({len(self)} biclusters of a {self.num_rows} x {self.num_columns} "
                f"matrix, fixed_row={self.fixed_row}, fixed_column={self.fixed_column}, "
                f"seed={self.seed})")

    def membership(self, sparse: bool = False) -> Union[npt.NDArray[np.bool_],
                                                        scipy.sparse.csr_matrix]:
        """The rows of each bicluster as a boolean matrix of shape
        (len(self), num_rows): a NumPy array, or with ``sparse`` a SciPy CSR
        matrix, which large matrices need."""
        if sparse:
            import scipy.sparse  # pylint: disable=import-outside-toplevel
            return scipy.sparse.csr_matrix(
                (np.ones(len(self.indices), dtype=bool), self.indices, self.indptr),
                shape=(len(self), self.num_rows))
        rows = np.zeros((len(self), self.num_rows), dtype=bool)
        rows[np.repeat(np.arange(len(self)), np.diff(self.indptr)), self.indices] = True
        return rows

    @property
    def rows_(self) -> npt.NDArray[np.bool_]:
        """Boolean array of shape (len(self), num_rows): the rows of each bicluster."""
        rows = self.membership()
        assert isinstance(rows, np.ndarray)
        return rows

    @property
    def columns_(self) -> npt.NDArray[np.bool_]:
        """Boolean array of shape (len(self), num_columns): every column, for each bicluster."""
        return np.ones((len(self), max(self.num_columns, 0)), dtype=bool)

    @property
    def biclusters_(self) -> Tuple[npt.NDArray[np.bool_], npt.NDArray[np.bool_]]:
        """``(rows_, columns_)``, as scikit-learn's ``consensus_score`` takes them."""
        return self.rows_, self.columns_

    def get_indices(self, i: Index) -> Tuple[npt.NDArray[np.int32],
                                                     npt.NDArray[np.int_]]:
        """The row and column indices of bicluster ``i``, as two arrays."""
        return self[i], np.arange(max(self.num_columns, 0))

    def get_shape(self, i: Index) -> Tuple[int, int]:
        """The number of rows and columns of bicluster ``i``."""
        return len(self[i]), max(self.num_columns, 0)

    def get_submatrix(self, i: Index, data: Any) -> Any:
        """The part of ``data`` (a num_rows x num_columns array) that bicluster ``i`` covers."""
        rows, columns = self.get_indices(i)
        if hasattr(data, "tocsr"):
            return data.tocsr()[rows[:, np.newaxis], columns]
        return np.asarray(data)[rows[:, np.newaxis], columns]

    def plot(self, ax: Any = None, most: int = 1000) -> Any:
        """Draws the biclusters with matplotlib: which rows each holds, as an
        image of biclusters by rows (at most ``most`` of each; more are
        binned, and a cell is then the share of its rows held), and how many
        biclusters hold each row, as a line on the right axis. Draws on
        ``ax``, or on a new figure's; returns the axes."""
        try:
            import matplotlib.pyplot as plt  # pylint: disable=import-outside-toplevel
        except ImportError as missing:
            raise ImportError("Biclusters.plot needs matplotlib (on Debian: apt-get install "
                              "python3-matplotlib)") from missing
        most = _whole_number(most, "most", 1)
        if ax is None:
            _, ax = plt.subplots(figsize=(8, 4))
        rows, count = max(self.num_rows, 1), max(len(self), 1)
        row_bins, bicluster_bins = min(rows, most), min(count, most)
        owner = np.repeat(np.arange(len(self)), np.diff(self.indptr))
        held = np.zeros((bicluster_bins, row_bins))
        np.add.at(held, (owner * bicluster_bins // count, self.indices * row_bins // rows), 1)
        cells = np.outer(np.bincount(np.arange(count) * bicluster_bins // count),
                         np.bincount(np.arange(rows) * row_bins // rows))
        ax.imshow(held / cells, aspect="auto", interpolation="nearest", cmap="Greys",
                  vmin=0, vmax=1, extent=(0, rows, count, 0))
        ax.set_xlabel("row")
        ax.set_ylabel("bicluster")
        row_bin = np.arange(rows) * row_bins // rows
        binned = (np.bincount(row_bin, weights=np.bincount(self.indices, minlength=rows))
                  / np.bincount(row_bin))
        right = ax.twinx()
        right.plot((np.arange(row_bins) + 0.5) * rows / row_bins, binned, color="tab:red",
                   linewidth=1)
        right.set_ylim(bottom=0)
        right.set_ylabel("biclusters holding the row", color="tab:red")
        ax.set_title(f"{len(self)} biclusters of a {self.num_rows} x {self.num_columns} matrix")
        return ax


def draw_biclusters(num_rows: int, num_columns: int, num_biclusters: int, min_rows: int,
                    max_rows: int, fixed_row: Optional[int] = None,
                    fixed_column: Optional[int] = None, seed: Seed = None) -> Biclusters:
    """Draws initial biclusters of a ``num_rows`` by ``num_columns`` matrix.

    Each of the ``num_biclusters`` biclusters takes a size from ``min_rows``
    to ``max_rows`` (the fixed row, when there is one, counts in it and
    belongs to every bicluster), then that many rows drawn at random without
    repetition, and every column. The interpreter's lock is released while
    drawing; an interrupt stops the run with KeyboardInterrupt.

    Args:
        num_rows, num_columns: the dimensions of the matrix.
        num_biclusters: how many biclusters; none when 0 or less.
        min_rows, max_rows: the least and greatest size, fixed row included.
        fixed_row: a row (0 to num_rows - 1) in every bicluster, or None.
        fixed_column: a column recorded apart, or None (not -1, which the
            file would read as none); one outside the matrix leaves every
            column listed in the file.
        seed: an int from 0 to 2**32 - 1, which gives the biclusters of
            ``init_bicluster --seed`` with the same value; None for fresh
            entropy; or a numpy.random.Generator or RandomState, from which one
            32-bit seed is drawn.

    Returns:
        Biclusters, whose ``seed`` is the seed used.

    Raises:
        TypeError: an argument that is not an integer.
        ValueError: a value outside 32 bits, or a run the tool refuses (with its
            message).
        MemoryError: the run's memory cannot be had.
    """
    rows, columns, count, least, most = (_whole_number(value, name) for value, name in (
        (num_rows, "num_rows"), (num_columns, "num_columns"),
        (num_biclusters, "num_biclusters"), (min_rows, "min_rows"), (max_rows, "max_rows")))
    row = -1 if fixed_row is None else _whole_number(fixed_row, "fixed_row")
    column = _fixed_column(fixed_column)
    if fixed_row is not None and row < 0:
        raise ValueError(f"Fixed row ({row}) must be None or a row index from 0 to {rows - 1}")
    numbers = (rows, columns, count, least, most, row, -1 if column is None else column)
    refusal = _core.check(*numbers)
    if refusal:
        raise ValueError(refusal.replace("must be -1 or", "must be None or")
                         .replace("must be -1 when", "must be None when"))
    used_seed = _seed_of(seed)
    indptr, indices = _core.draw(*numbers, used_seed)
    return Biclusters._trusted(indptr, indices, rows, columns, None if row == -1 else row, column,
                               used_seed)


def write_biclusters(biclusters: Biclusters, path: Path) -> None:
    """Writes ``biclusters`` to ``path`` (str, bytes or os.PathLike) as the tool's file.

    The bytes are those the tool writes for the same arguments and seed. An
    existing file is replaced whole by a new one once every byte is written,
    keeping its owner, mode and attributes, so that a failure leaves the old
    file as it was; where that cannot be, it is written in place (see the
    tool's manual page). Every field of ``biclusters`` is checked first.

    Raises:
        TypeError: not a Biclusters, a path of another type, or a field that
            is not an integer (or an array that does not hold integers).
        ValueError: a field or an array that does not describe rows of the
            matrix, or a path with a NUL byte.
        OSError: the file cannot be written, as open() would raise it for the
            same reason (FileNotFoundError, IsADirectoryError, ...), with the
            path.
    """
    if not isinstance(biclusters, Biclusters):
        raise TypeError("biclusters must be a Biclusters object")
    file = _path(path)
    b = biclusters
    num_rows = _whole_number(b.num_rows, "num_rows", 0)
    num_columns = _whole_number(b.num_columns, "num_columns")
    fixed_row = _fixed_row(b.fixed_row, num_rows)
    fixed_column = _fixed_column(b.fixed_column)
    error = _core.write(_integer_array(b.indptr, "indptr", np.int64),
                        _integer_array(b.indices, "indices", np.int32), num_rows, num_columns,
                        -1 if fixed_row is None else fixed_row,
                        -1 if fixed_column is None else fixed_column, file)
    if error:
        raise OSError(error, _REASONS.get(error) or os.strerror(error), os.fsdecode(file))


def read_biclusters(path: Path, num_rows: Optional[int] = None,
                    num_columns: Optional[int] = None) -> Biclusters:
    """Reads the bicluster file at ``path`` (str, bytes or os.PathLike) strictly.

    Anything the tool would not write raises ValueError, whose message names
    the line and what was expected there. ``num_rows`` and ``num_columns``,
    when given, are what the rows and the column list are checked against;
    otherwise they are the smallest the file allows. The file is read a
    block at a time: input that goes wrong is refused at its first bad line,
    and a file that grows meanwhile is read as long as it was. The result's
    ``seed`` is None.

    Raises:
        TypeError: a path of another type (a descriptor included).
        ValueError: a file the tool would not write, or a path with a NUL byte.
        OSError: the file cannot be opened or read.
        MemoryError: the biclusters do not fit in memory.
    """
    file = _path(path)
    limits = [-1 if value is None else _whole_number(value, name, 0)
              for value, name in ((num_rows, "num_rows"), (num_columns, "num_columns"))]
    with open(file, "rb") as stream:
        read = _core.read(stream.fileno(), *limits)
    if read[0] != 0:
        raise OSError(read[0], read[1], os.fsdecode(file))
    _, indptr, indices, rows, columns, fixed_row, fixed_column = read  # type: ignore[misc]
    return Biclusters._trusted(indptr, indices, rows, columns,
                               None if fixed_row == -1 else fixed_row,
                               None if fixed_column == -1 else fixed_column, None)
