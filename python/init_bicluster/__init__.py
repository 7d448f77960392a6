"""Initial biclusters with the exact draws of the init_bicluster tool.

Draws initial biclusters for a biclustering run: random sets of rows, of a
size between a least and a greatest count, each with every column, optionally
with one fixed row in every bicluster and one fixed column recorded apart. For
a given seed the rows are exactly those that ``init_bicluster --seed`` writes,
on every machine. Rows and columns are numbered from 0, as in the tool's
files.

>>> import init_bicluster
>>> b = init_bicluster.draw_biclusters(6, 4, 2, 2, 3, fixed_row=4, fixed_column=2, seed=1)
>>> [list(rows) for rows in b]
[[4, 3, 1], [4, 1, 0]]
"""
import operator
import os
import secrets

import numpy as np
import scipy.sparse

from . import _core

__all__ = ["Biclusters", "draw_biclusters", "read_biclusters", "write_biclusters",
           "__version__"]
__version__ = _core.version

_INT32 = (-2**31, 2**31 - 1)


def _whole_number(value, name, least=_INT32[0], most=_INT32[1]):
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


def _seed_of(seed):
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
    drawn; and every column of the matrix. ``rows_`` and ``columns_``,
    ``get_indices``, ``get_shape`` and ``get_submatrix`` are those of
    scikit-learn's biclustering estimators.

    Attributes:
        indptr: int64 array of ``len(self) + 1`` offsets into ``indices``.
        indices: int32 array of the rows of every bicluster, one after another.
        num_rows, num_columns: the dimensions of the matrix.
        fixed_row, fixed_column: the fixed row and column, or None.
        seed: the seed the biclusters were drawn with, or None when read.
    """

    def __init__(self, indptr, indices, num_rows, num_columns, fixed_row=None,
                 fixed_column=None, seed=None):
        self.indptr = np.asarray(indptr, dtype=np.int64)
        self.indices = np.asarray(indices, dtype=np.int32)
        self.num_rows = int(num_rows)
        self.num_columns = int(num_columns)
        self.fixed_row = fixed_row
        self.fixed_column = fixed_column
        self.seed = seed

    def __len__(self):
        return len(self.indptr) - 1

    def __getitem__(self, i):
        """The rows of bicluster ``i`` (negative counts from the end)."""
        i = operator.index(i)
        if i < 0:
            i += len(self)
        if not 0 <= i < len(self):
            raise IndexError("bicluster index out of range")
        return self.indices[self.indptr[i]:self.indptr[i + 1]]

    def __iter__(self):
        for i in range(len(self)):
            yield self[i]

    def __eq__(self, other):
        if not isinstance(other, Biclusters):
            return NotImplemented
        return (self.num_rows == other.num_rows and self.num_columns == other.num_columns
                and self.fixed_row == other.fixed_row and self.fixed_column == other.fixed_column
                and np.array_equal(self.indptr, other.indptr)
                and np.array_equal(self.indices, other.indices))

    __hash__ = None

    def __repr__(self):
        return (f"Biclusters({len(self)} biclusters of a {self.num_rows} x {self.num_columns} "
                f"matrix, fixed_row={self.fixed_row}, fixed_column={self.fixed_column}, "
                f"seed={self.seed})")

    @property
    def rows_(self):
        """Boolean CSR matrix of shape (len(self), num_rows): the rows of each bicluster."""
        data = np.ones(len(self.indices), dtype=bool)
        return scipy.sparse.csr_matrix((data, self.indices, self.indptr),
                                       shape=(len(self), self.num_rows))

    @property
    def columns_(self):
        """Boolean CSR matrix of shape (len(self), num_columns): every column, for each bicluster."""
        columns = max(self.num_columns, 0)
        indices = np.tile(np.arange(columns, dtype=np.int32), len(self))
        indptr = np.arange(len(self) + 1, dtype=np.int64) * columns
        return scipy.sparse.csr_matrix((np.ones(len(indices), dtype=bool), indices, indptr),
                                       shape=(len(self), columns))

    def get_indices(self, i):
        """The row and column indices of bicluster ``i``, as two arrays."""
        return self[i], np.arange(max(self.num_columns, 0))

    def get_shape(self, i):
        """The number of rows and columns of bicluster ``i``."""
        return len(self[i]), max(self.num_columns, 0)

    def get_submatrix(self, i, data):
        """The part of ``data`` (a num_rows x num_columns array) that bicluster ``i`` covers."""
        rows, columns = self.get_indices(i)
        if scipy.sparse.issparse(data):
            return data.tocsr()[rows[:, np.newaxis], columns]
        return np.asarray(data)[rows[:, np.newaxis], columns]


def draw_biclusters(num_rows, num_columns, num_biclusters, min_rows, max_rows,
                    fixed_row=None, fixed_column=None, seed=None):
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
        fixed_column: a column recorded apart, or None; one outside the matrix
            leaves every column listed in the file.
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
    numbers = [_whole_number(value, name) for value, name in (
        (num_rows, "num_rows"), (num_columns, "num_columns"),
        (num_biclusters, "num_biclusters"), (min_rows, "min_rows"), (max_rows, "max_rows"))]
    row = -1 if fixed_row is None else _whole_number(fixed_row, "fixed_row")
    column = -1 if fixed_column is None else _whole_number(fixed_column, "fixed_column")
    if fixed_row is not None and row < 0:
        raise ValueError(f"Fixed row ({row}) must be None or a row index from 0 to "
                         f"{numbers[0] - 1}")
    if fixed_column is not None and column == -1:
        raise ValueError("fixed_column must be None, not -1, for no fixed column")
    refusal = _core.check(*numbers, row, column)
    if refusal:
        raise ValueError(refusal.replace("must be -1 or", "must be None or")
                         .replace("must be -1 when", "must be None when"))
    used_seed = _seed_of(seed)
    indptr, indices = _core.draw(*numbers, row, column, used_seed)
    return Biclusters(indptr, indices, numbers[0], numbers[1], None if row == -1 else row,
                      None if column == -1 else column, used_seed)


def write_biclusters(biclusters, path):
    """Writes ``biclusters`` to ``path`` (str or os.PathLike) as the tool's file.

    The bytes are those the tool writes for the same arguments and seed. An
    existing file is replaced whole by a new one once every byte is written,
    keeping its owner, mode and attributes, so that a failure leaves the old
    file as it was; where that cannot be, it is written in place (see the
    tool's manual page). Raises OSError when the file cannot be written, and
    ValueError for biclusters that do not describe rows of the matrix.
    """
    if not isinstance(biclusters, Biclusters):
        raise TypeError("biclusters must be a Biclusters object")
    b = biclusters
    _core.write(b.indptr, b.indices, b.num_rows, b.num_columns,
                -1 if b.fixed_row is None else b.fixed_row,
                -1 if b.fixed_column is None else b.fixed_column, os.fsdecode(os.fspath(path)))


def read_biclusters(path, num_rows=None, num_columns=None):
    """Reads the bicluster file at ``path`` strictly.

    Anything the tool would not write raises ValueError, whose message names
    the line and what was expected there. ``num_rows`` and ``num_columns``,
    when given, are what the rows and the column list are checked against;
    otherwise they are the smallest the file allows. The result's ``seed`` is
    None.
    """
    limits = [-1 if value is None else _whole_number(value, name, 0)
              for value, name in ((num_rows, "num_rows"), (num_columns, "num_columns"))]
    with open(path, "rb") as file:
        text = file.read()
    indptr, indices, rows, columns, fixed_row, fixed_column = _core.read(text, *limits)
    return Biclusters(indptr, indices, rows, columns, None if fixed_row == -1 else fixed_row,
                      None if fixed_column == -1 else fixed_column, None)
