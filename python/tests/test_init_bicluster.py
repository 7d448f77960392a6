"""The module against the tool's exact files (the known answers of the
repository's tests/data, and runs the tool wrote with seeds 0 and 2**32 - 1),
its refusals, its arrays, two threads, and an interrupt."""
import os
import pathlib
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import init_bicluster as ib

DATA = pathlib.Path(__file__).resolve().parents[2] / "tests" / "data"
R_DATA = pathlib.Path(__file__).resolve().parents[2] / "r" / "tests" / "testthat" / "data"


def known_answers():
    """(name, seed, the seven numbers as the tool reads them, data folder)."""
    answers = []
    for line in (DATA / "cases.tsv").read_text().splitlines():
        if line.startswith("#"):
            continue
        name, seed, arguments = line.split("\t")
        numbers = [leading_number(text) for text in arguments.split()]
        answers.append((name, int(seed), numbers, DATA))
    for seed in (0, 2**32 - 1):
        answers.append((f"seed-{seed}", seed, [20, 5, 4, 1, 6, 3, 2], R_DATA))
    return answers


def leading_number(text):
    """The number at the start of `text`, as the tool reads its arguments."""
    sign = -1 if text.startswith("-") else 1
    digits = ""
    for character in text.lstrip("+-"):
        if not character.isdigit():
            break
        digits += character
    return sign * int(digits or "0")


def draw(numbers, seed):
    row, column = numbers[5], numbers[6]
    return ib.draw_biclusters(*numbers[:5], fixed_row=None if row == -1 else row,
                              fixed_column=None if column == -1 else column, seed=seed)


@pytest.mark.parametrize("name,seed,numbers,folder", known_answers(),
                         ids=[answer[0] for answer in known_answers()])
def test_draw_write_and_read_give_the_tools_files_and_rows(tmp_path, name, seed, numbers,
                                                           folder):
    known = folder / f"{name}.txt"
    drawn = draw(numbers, seed)
    assert drawn.seed == seed
    ib.write_biclusters(drawn, tmp_path / "out.txt")
    assert (tmp_path / "out.txt").read_bytes() == known.read_bytes()
    ib.write_biclusters(drawn, str(tmp_path / "out2.txt"))
    assert (tmp_path / "out2.txt").read_bytes() == known.read_bytes()
    read = ib.read_biclusters(known, num_rows=numbers[0], num_columns=max(numbers[1], 0))
    assert read.seed is None
    assert np.array_equal(read.indptr, drawn.indptr)
    assert np.array_equal(read.indices, drawn.indices)
    if len(drawn) > 0 and numbers[1] >= 0:
        assert read == drawn
    # The fixed row first, then the free rows, each a row of the matrix.
    for rows in drawn:
        if drawn.fixed_row is not None:
            assert rows[0] == drawn.fixed_row
        assert len(set(rows.tolist())) == len(rows)
        assert all(0 <= row < drawn.num_rows for row in rows)


def test_every_kind_of_seed():
    first = ib.draw_biclusters(100, 3, 5, 1, 20, seed=np.random.default_rng(7))
    again = ib.draw_biclusters(100, 3, 5, 1, 20, seed=np.random.default_rng(7))
    assert first == again and first.seed == again.seed
    legacy = ib.draw_biclusters(100, 3, 5, 1, 20, seed=np.random.RandomState(7))
    assert 0 <= legacy.seed < 2**32
    assert ib.draw_biclusters(100, 3, 5, 1, 20, seed=legacy.seed) == legacy
    fresh = ib.draw_biclusters(100, 3, 5, 1, 20)
    assert 0 <= fresh.seed < 2**32
    assert ib.draw_biclusters(100, 3, 5, 1, 20, seed=np.uint32(5)).seed == 5


@pytest.mark.parametrize("call,error,message", [
    (lambda: ib.draw_biclusters(10, 4, 2, 1, 11), ValueError,
     "Max rows (11) is greater than num rows (10)"),
    (lambda: ib.draw_biclusters(-5, 4, 2, -9, -6), ValueError, "Num rows (-5) must not be negative"),
    (lambda: ib.draw_biclusters(10, 4, 2, 6, 5), ValueError,
     "Min rows (6) is greater than max rows (5)"),
    (lambda: ib.draw_biclusters(6, 4, 2, 1, 3, fixed_row=6), ValueError,
     "Fixed row (6) must be None or a row index from 0 to 5"),
    (lambda: ib.draw_biclusters(6, 4, 2, 1, 3, fixed_row=-1), ValueError,
     "Fixed row (-1) must be None or a row index from 0 to 5"),
    (lambda: ib.draw_biclusters(0, 4, 2, 0, 0, fixed_row=0), ValueError,
     "Fixed row (0) must be None when num rows is 0"),
    (lambda: ib.draw_biclusters(6, 4, 2, 1, 3, fixed_column=-1), ValueError,
     "fixed_column must be None"),
    (lambda: ib.draw_biclusters(6.0, 4, 2, 1, 3), TypeError, "num_rows must be an integer"),
    (lambda: ib.draw_biclusters("6", 4, 2, 1, 3), TypeError, "num_rows must be an integer"),
    (lambda: ib.draw_biclusters(6, True, 2, 1, 3), TypeError, "num_columns must be an integer"),
    (lambda: ib.draw_biclusters(6, 4, 2**31, 1, 3), ValueError, "num_biclusters must be from"),
    (lambda: ib.draw_biclusters(6, 4, 2, -2**31 - 1, 3), ValueError, "min_rows must be from"),
    (lambda: ib.draw_biclusters(6, 4, 2, 1, 3, seed=-1), ValueError, "seed must be from 0"),
    (lambda: ib.draw_biclusters(6, 4, 2, 1, 3, seed=2**32), ValueError, "seed must be from 0"),
    (lambda: ib.draw_biclusters(6, 4, 2, 1, 3, seed=1.5), TypeError, "seed must be an integer"),
    (lambda: ib.draw_biclusters(2**31 - 1, 1, 2**31 - 1, 2**31 - 1, 2**31 - 1), MemoryError, ""),
    (lambda: ib.write_biclusters([], "x"), TypeError, "must be a Biclusters object"),
    (lambda: ib.read_biclusters(DATA / "example.txt", num_rows=4), ValueError,
     "line 2: -1 or a row number below 4, found '4\\n'"),
    (lambda: ib.read_biclusters(DATA / "missing.txt"), FileNotFoundError, "missing.txt"),
])
def test_refusals_and_bad_types_are_exceptions(call, error, message):
    with pytest.raises(error) as raised:
        call()
    assert message in str(raised.value)


@pytest.mark.parametrize("text,message", [
    (b"BICLUSTER 1\n", "line 1: the bicluster index 0"),
    (b"BICLUSTER 0\n03\n", "line 2: the fixed row, a number alone on its line, found '03\\n'"),
    (b"BICLUSTER 0\n-1\n5 5 \n", "line 3: a row not listed before in this bicluster"),
    (b"BICLUSTER 0\n-1\n5 x\n", "line 3: a row number followed by one space, found 'x\\n'"),
    (b"BICLUSTER 0\n-1\n\n-1\n0 2 \n", "line 5: column 1 followed by one space, found '2 '"),
    (b"BICLUSTER 0\n-1\n\n-1\n0 ", "line 5: column 1 followed by one space, found the end"),
])
def test_each_malformed_file_names_its_line(tmp_path, text, message):
    (tmp_path / "bad.txt").write_bytes(text)
    with pytest.raises(ValueError, match="^" + message.replace("\\", "\\\\")
                       .replace("(", "\\(").replace(")", "\\)")):
        ib.read_biclusters(tmp_path / "bad.txt")


def test_arrays_in_scikit_learns_shapes():
    b = ib.draw_biclusters(300, 40, 12, 5, 60, fixed_row=17, fixed_column=39, seed=31337)
    assert b.indptr.dtype == np.int64 and b.indices.dtype == np.int32
    assert len(b.indptr) == len(b) + 1 == 13
    rows, columns = b.rows_, b.columns_
    assert rows.shape == (12, 300) and columns.shape == (12, 40)
    assert rows.dtype == bool and columns.dtype == bool
    data = np.arange(300 * 40).reshape(300, 40)
    for i, members in enumerate(b):
        assert np.array_equal(np.flatnonzero(rows[i].toarray()), np.sort(members))
        assert columns[i].sum() == 40
        row_indices, column_indices = b.get_indices(i)
        assert np.array_equal(row_indices, members)
        assert np.array_equal(column_indices, np.arange(40))
        assert b.get_shape(i) == (len(members), 40)
        assert np.array_equal(b.get_submatrix(i, data), data[members])
    assert np.array_equal(b[-1], b[11])
    with pytest.raises(IndexError):
        b[12]  # pylint: disable=pointless-statement


def test_two_threads_draw_at_once_as_one_after_the_other():
    arguments = (2_000_000, 1, 4, 1_000_000, 2_000_000, None, None)
    alone = [ib.draw_biclusters(*arguments, seed=seed) for seed in (1, 2)]
    results = [None, None]

    def draw_into(slot, seed):
        results[slot] = ib.draw_biclusters(*arguments, seed=seed)

    threads = [threading.Thread(target=draw_into, args=(i, i + 1)) for i in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert results == alone


def test_an_interrupt_stops_a_long_run():
    # 30 biclusters of every one of 50 million rows: many seconds of work.
    script = ("import init_bicluster as ib\n"
              "print('drawing', flush=True)\n"
              "ib.draw_biclusters(50_000_000, 1, 30, 50_000_000, 50_000_000, seed=1)\n")
    child = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
    assert child.stdout.readline() == b"drawing\n"
    time.sleep(0.5)
    sent = time.monotonic()
    child.send_signal(signal.SIGINT)
    _, errors = child.communicate(timeout=30)
    assert time.monotonic() - sent < 2
    assert child.returncode != 0
    assert b"KeyboardInterrupt" in errors


def test_version_is_the_tools():
    cmake = (DATA.parents[1] / "CMakeLists.txt").read_text()
    assert f"project(init_bicluster VERSION {ib.__version__} " in cmake
    assert os.path.exists(pathlib.Path(ib.__file__).with_name("py.typed"))
