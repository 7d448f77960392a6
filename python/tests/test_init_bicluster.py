"""The module against the tool's exact files (the known answers of the
repository's tests/data, and runs the tool wrote with seeds 0 and 2**32 - 1),
its refusals, its arrays as scikit-learn has them, selections, two threads,
an interrupt, the interpreter's end during a draw, and arrays of every kind
handed to the writer."""
import doctest
import mmap
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
EXAMPLE = ib.draw_biclusters(6, 4, 2, 2, 3, fixed_row=4, fixed_column=2, seed=1)


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
    (lambda: ib.draw_biclusters(6, 4, 2, 1, 3, fixed_column=-1.0), TypeError,
     "fixed_column must be an integer"),
    (lambda: ib.draw_biclusters(2**31 - 1, 1, 2**31 - 1, 2**31 - 1, 2**31 - 1), MemoryError,
     "Could not allocate memory for the rows of 2147483647 biclusters"),
    (lambda: ib.write_biclusters([], "x"), TypeError, "must be a Biclusters object"),
    (lambda: ib.write_biclusters(EXAMPLE, 3), TypeError, "path must be str, bytes or os.PathLike"),
    (lambda: ib.write_biclusters(EXAMPLE, "out\0tail"), ValueError, "embedded null byte"),
    (lambda: ib.read_biclusters(DATA / "example.txt", num_rows=4), ValueError,
     "line 2: -1 or a row number below 4, found '4\\n'"),
    (lambda: ib.read_biclusters(DATA / "missing.txt"), FileNotFoundError, "missing.txt"),
    (lambda: ib.read_biclusters(3), TypeError, "path must be str, bytes or os.PathLike"),
    (lambda: ib.read_biclusters("example\0.txt"), ValueError, "embedded null byte"),
    (lambda: ib.read_biclusters("/dev/zero"), ValueError,
     "line 1: 'BICLUSTER 0', found '\\x00"),
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
    assert isinstance(rows, np.ndarray) and isinstance(columns, np.ndarray)
    assert rows.shape == (12, 300) and columns.shape == (12, 40)
    assert rows.dtype == bool and columns.dtype == bool
    assert np.array_equal(b.membership(sparse=True).toarray(), rows)
    assert all(np.array_equal(a, c) for a, c in zip(b.biclusters_, (rows, columns)))
    data = np.arange(300 * 40).reshape(300, 40)
    for i, members in enumerate(b):
        assert np.array_equal(np.flatnonzero(rows[i]), np.sort(members))
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
    assert errors.rstrip().endswith(b"\nKeyboardInterrupt") and b"SystemError" not in errors


def test_version_is_the_tools():
    cmake = (DATA.parents[1] / "CMakeLists.txt").read_text()
    assert f"project(init_bicluster VERSION {ib.__version__} " in cmake
    assert os.path.exists(pathlib.Path(ib.__file__).with_name("py.typed"))


def test_scikit_learns_consensus_score_takes_the_biclusters():
    metrics = pytest.importorskip("sklearn.metrics")
    a = ib.draw_biclusters(200, 30, 8, 5, 40, seed=1)
    b = ib.draw_biclusters(200, 30, 8, 5, 40, seed=2)
    assert metrics.consensus_score(a.biclusters_, a.biclusters_) == pytest.approx(1.0)
    assert 0 < metrics.consensus_score(a.biclusters_, b.biclusters_) < 1
    assert ib.draw_biclusters(5, -3, 2, 1, 2, seed=1).columns_.shape == (2, 0)


@pytest.mark.parametrize("key,chosen", [
    (slice(1, 3), [1, 2]), (slice(None, None, -2), [3, 1]), ([3, 0, 0], [3, 0, 0]),
    (np.array([True, False, True, False]), [0, 2]), ([], []), (np.array([-1]), [3]),
])
def test_a_selection_is_biclusters_without_a_seed(key, chosen):
    b = ib.draw_biclusters(50, 4, 4, 1, 9, fixed_row=7, seed=3)
    selected = b[key]
    assert isinstance(selected, ib.Biclusters) and selected.seed is None
    assert [rows.tolist() for rows in selected] == [b[i].tolist() for i in chosen]
    assert selected == ib.Biclusters(selected.indptr, selected.indices, 50, 4, fixed_row=7)


def guard_page_array():
    """Three int32 rows that end at the end of a mapping: reading one more
    ends the process."""
    pages = mmap.mmap(-1, mmap.PAGESIZE)
    return np.frombuffer(pages, dtype=np.int32)[-3:]


# Arrays and fields that describe no biclusters of the matrix, handed to the
# constructor, and set on a good object before it is written.
@pytest.mark.parametrize("fields,error,message", [
    (dict(indptr=[], indices=[]), ValueError, "indptr must hold at least one entry"),
    (dict(indptr=[1, 3], indices=[1, 2]), ValueError, "indptr must begin with 0"),
    (dict(indptr=[0, 5000, 3], indices="guard"), ValueError,
     "indptr must not decrease, but entry 2 is 3 after 5000"),
    (dict(indptr=[0, 2], indices=[4, 1, 3]), ValueError,
     "indptr must end at the length of indices, 3, not 2"),
    (dict(indptr=[0, 2, 4], indices=[4, 1, 3, 0]), ValueError,
     "bicluster 1 does not begin with the fixed row, 4"),
    (dict(indptr=[0, 3], indices=[4, 1, 4]), ValueError,
     "bicluster 0: the fixed row 4 stands only first"),
    (dict(indptr=[0, 3], indices=[4, 1, 1]), ValueError, "bicluster 0: row 1 is listed twice"),
    (dict(indptr=[0, 2], indices=[4, 6]), ValueError,
     "bicluster 0: row 6 is not a row of the matrix, 0 to 5"),
    (dict(indptr=[0, 2], indices=[4, 2**32 + 3]), ValueError,
     "indices must hold numbers from -2147483648 to 2147483647"),
    (dict(indptr=[0, 2], indices=[4, 3.5]), TypeError, "indices must hold integers, not float64"),
    (dict(indptr=[0, 2], indices=np.array(["4", "3"])), TypeError, "indices must hold integers"),
    (dict(indptr=[0.0, 2.0], indices=[4, 3]), TypeError, "indptr must hold integers"),
    (dict(indptr=[[0, 2]], indices=[4, 3]), ValueError, "indptr must be one-dimensional"),
    (dict(num_rows=-1), ValueError, "num_rows must be from 0"),
    (dict(num_rows="6"), TypeError, "num_rows must be an integer, not str"),
    (dict(num_columns=2**31), ValueError, "num_columns must be from"),
    (dict(fixed_row=2.5), TypeError, "fixed_row must be an integer, not float"),
    (dict(fixed_row=6), ValueError, "fixed_row must be None or a row from 0 to 5, not 6"),
    (dict(fixed_column=-1), ValueError, "fixed_column must be None, not -1"),
    (dict(fixed_column=np.int64(2**40)), ValueError, "fixed_column must be from"),
])
@pytest.mark.parametrize("where", ["constructor", "writer"])
def test_fields_that_describe_no_biclusters_are_refused(tmp_path, fields, error, message,
                                                        where):
    values = dict(indptr=EXAMPLE.indptr, indices=EXAMPLE.indices, num_rows=6, num_columns=4,
                  fixed_row=4, fixed_column=2)
    values.update(fields)
    if isinstance(values["indices"], str):
        values["indices"] = guard_page_array()
    path = tmp_path / "out.txt"
    with pytest.raises(error, match=message.replace("(", r"\(").replace(")", r"\)")):
        if where == "constructor":
            ib.Biclusters(**values)
        else:
            edited = ib.Biclusters(EXAMPLE.indptr, EXAMPLE.indices, 6, 4, 4, 2)
            for name, value in values.items():
                setattr(edited, name, value)
            ib.write_biclusters(edited, path)
    assert not path.exists()


def test_a_failed_write_is_the_oserror_that_open_raises(tmp_path):
    (tmp_path / "file").write_text("")
    for path, raised in ((tmp_path / "missing" / "x", FileNotFoundError),
                         (tmp_path, IsADirectoryError),
                         (tmp_path / "file" / "x", NotADirectoryError)):
        with pytest.raises(raised) as caught:
            ib.write_biclusters(EXAMPLE, path)
        assert caught.value.filename == str(path)
        with pytest.raises(raised):
            open(path, "w", encoding="ascii")  # pylint: disable=consider-using-with
    ib.write_biclusters(EXAMPLE, os.fsencode(tmp_path / "bytes.txt"))
    assert (tmp_path / "bytes.txt").read_bytes() == (DATA / "example.txt").read_bytes()
    assert ib.read_biclusters(os.fsencode(tmp_path / "bytes.txt"), num_rows=6) == EXAMPLE


def test_random_arrays_are_refused_or_written_and_read_back(tmp_path):
    rng = np.random.default_rng(2026)
    written = 0
    for _ in range(400):
        # Good biclusters, then one change to them, or none.
        num_rows = int(rng.integers(0, 9))
        fixed_row = None if num_rows == 0 or rng.random() < 0.5 else int(rng.integers(num_rows))
        free = [row for row in range(num_rows) if row != fixed_row]
        rows = [([] if fixed_row is None else [fixed_row])
                + rng.permutation(free)[:int(rng.integers(len(free) + 1))].tolist()
                for _ in range(int(rng.integers(0, 4)))]
        indptr = np.cumsum([0] + [len(members) for members in rows])
        indices = np.array([row for members in rows for row in members], dtype=np.int64)
        change = int(rng.integers(6))
        if change == 1 and len(indices) > 0:
            indices[rng.integers(len(indices))] = rng.integers(-2, num_rows + 2)
        elif change == 2 and len(indptr) > 2:
            indptr[rng.integers(1, len(indptr) - 1)] = rng.integers(-2, len(indices) + 3)
        elif change == 3:
            indices = indices + 2**32 * int(rng.integers(1, 3))
        elif change == 4:
            indices = indices.astype(float) + rng.choice([0, 0.5])
        fields = dict(num_rows=num_rows, num_columns=int(rng.integers(-1, 5)),
                      fixed_row=fixed_row, fixed_column=[None, 0, 9][int(rng.integers(3))])
        b = ib.Biclusters.__new__(ib.Biclusters)
        b.indptr, b.indices, b.seed = indptr, indices, None
        for name, value in fields.items():
            setattr(b, name, value)
        try:
            ib.write_biclusters(b, tmp_path / "out.txt")
        except (ValueError, TypeError):
            continue
        written += 1
        read = ib.read_biclusters(tmp_path / "out.txt", num_rows=num_rows,
                                  num_columns=max(fields["num_columns"], 0))
        assert np.array_equal(read.indptr, indptr) and np.array_equal(read.indices, indices)
        if len(rows) > 0:
            assert (read.fixed_row, read.fixed_column) == (fixed_row, fields["fixed_column"])
        ib.write_biclusters(read, tmp_path / "again.txt")
        assert (tmp_path / "again.txt").read_bytes() == (tmp_path / "out.txt").read_bytes()
    assert written > 100


def run_python(script, limit=None):
    """Runs `script` in a child interpreter; returns the child, its output
    begun (its first line read)."""
    prefix = ""
    if limit:
        prefix = ("import resource\n"
                  f"resource.setrlimit(resource.RLIMIT_AS, ({limit}, {limit}))\n")
    return subprocess.Popen([sys.executable, "-c", prefix + script], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)


def test_the_memory_a_read_needs_is_what_the_file_needs():
    script = ("import init_bicluster as ib\n"
              f"print(len(ib.read_biclusters({str(DATA / 'example.txt')!r}, num_rows=6)))\n"
              "try:\n"
              "    ib.draw_biclusters(10**8, 1, 3, 10**8, 10**8, seed=1)\n"
              "except MemoryError as error:\n"
              "    print(type(error).__name__, error)\n")
    child = run_python(script, limit=400 << 20)
    output, errors = child.communicate(timeout=60)
    assert child.returncode == 0, errors
    assert output.decode().splitlines() == [
        "2", "MemoryError Could not allocate memory for the rows of 3 biclusters of up to "
        "100000000 rows"]


def test_a_draw_lets_other_threads_run():
    ticks = []
    done = threading.Event()

    def tick():
        while not done.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.001)

    ticker = threading.Thread(target=tick)
    ticker.start()
    start = time.monotonic()
    ib.draw_biclusters(5_000_000, 1, 3, 5_000_000, 5_000_000, seed=1)
    end = time.monotonic()
    done.set()
    ticker.join()
    assert end - start > 0.05
    assert sum(start < t < end for t in ticks) > 10


@pytest.mark.parametrize("script,interrupts", [
    # A daemon thread still drawing a long run, or small runs one after
    # another, when the interpreter ends.
    ("t = threading.Thread(target=lambda: ib.draw_biclusters(*LONG), daemon=True)\n"
     "t.start(); time.sleep(0.3); print('ending', flush=True)\n", 0),
    ("def loop():\n"
     "    while True: ib.draw_biclusters(1000, 5, 50, 1, 100, seed=1)\n"
     "t = threading.Thread(target=loop, daemon=True)\n"
     "t.start(); time.sleep(0.3); print('ending', flush=True)\n", 0),
    # Interrupted twice while the main thread waits for a drawing thread.
    ("t = threading.Thread(target=lambda: ib.draw_biclusters(*LONG))\n"
     "t.start(); print('joining', flush=True); t.join()\n", 2),
])
def test_the_interpreters_end_never_aborts_a_draw(script, interrupts):
    child = run_python("import threading, time\nimport init_bicluster as ib\n"
                       "LONG = (50_000_000, 1, 30, 50_000_000, 50_000_000, None, None, 1)\n"
                       + script)
    assert child.stdout.readline() != b""
    for _ in range(interrupts):
        time.sleep(0.3)
        child.send_signal(signal.SIGINT)
    _, errors = child.communicate(timeout=30)
    assert child.returncode in ((0,) if interrupts == 0 else (1, -signal.SIGINT)), errors
    assert b"terminate called" not in errors and b"Fatal Python error" not in errors


def test_plot_draws_the_rows_and_their_cover():
    pytest.importorskip("matplotlib")
    import matplotlib  # pylint: disable=import-outside-toplevel
    matplotlib.use("Agg")
    b = ib.draw_biclusters(5000, 10, 40, 10, 400, fixed_row=0, seed=1)
    ax = b.plot(most=100)
    image = ax.get_images()[0].get_array()
    assert image.shape == (40, 100)
    assert image[:, 0].min() > 0  # the fixed row, in every bicluster
    cover = ax.figure.axes[-1].get_lines()[0].get_ydata()
    assert cover[0] >= 40 / 50 and len(cover) == 100


def test_plot_without_matplotlib_says_what_it_needs(monkeypatch):
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    monkeypatch.setitem(sys.modules, "matplotlib.pyplot", None)
    with pytest.raises(ImportError, match="needs matplotlib"):
        EXAMPLE.plot()


def test_the_modules_example_holds():
    assert doctest.testmod(ib).failed == 0
