// The compiled part of the init_bicluster module: the library's draw, writer
// and reader on NumPy arrays. Runs are drawn, written and read without the
// interpreter's lock; an interrupt stops a draw within a few milliseconds.
// The library never throws; its failures become Python exceptions here, and
// every array is checked whole before a row of it is read.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "init_bicluster.h"

namespace py = pybind11;

namespace {

using init_bicluster::bicluster_set;
using init_bicluster::run_params;

// Arrays of exactly these types, as the package's Python code makes them.
using offsets_array = py::array_t<int64_t, py::array::c_style>;
using rows_array = py::array_t<int32_t, py::array::c_style>;

// The interpreter's end. A thread that takes the interpreter's lock while
// the interpreter finalises is ended by Python through its C++ frames,
// which aborts the process; so once the interpreter begins to end (its
// atexit functions run before it finalises), no thread here takes the lock
// again. `taking` counts the threads between their look at `ending` and
// having the lock, which the end waits for without the lock.
struct interpreter_end {
  std::mutex mutex;
  std::condition_variable settled;
  int taking = 0;
  bool ending = false;
};

interpreter_end& end_of_interpreter() {
  static interpreter_end* const end = new interpreter_end;
  return *end;
}

bool is_finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
  return Py_IsFinalizing() != 0;
#else
  return _Py_IsFinalizing() != 0;
#endif
}

// Called by atexit, with the lock: from now on no thread of a draw, a write
// or a read takes the lock; those already taking it get it first.
void on_interpreter_end() {
  interpreter_end& end = end_of_interpreter();
  {
    const std::lock_guard<std::mutex> lock(end.mutex);
    end.ending = true;
  }
  const py::gil_scoped_release unlocked;
  std::unique_lock<std::mutex> lock(end.mutex);
  end.settled.wait(lock, [&end] { return end.taking == 0; });
}

// Gives `thread` the interpreter's lock again, unless the interpreter is
// ending: then returns false, without it.
bool take_lock(PyThreadState* thread) {
  interpreter_end& end = end_of_interpreter();
  {
    const std::lock_guard<std::mutex> lock(end.mutex);
    if (end.ending || is_finalizing()) return false;
    ++end.taking;
  }
  PyEval_RestoreThread(thread);
  {
    const std::lock_guard<std::mutex> lock(end.mutex);
    --end.taking;
  }
  end.settled.notify_all();
  return true;
}

// Where a thread goes that may not take the lock again: the process is
// ending, and ends it.
[[noreturn]] void wait_for_the_end() {
  for (;;) pause();
}

// Runs `work` (which throws nothing) without the interpreter's lock.
template <typename function>
void without_lock(function&& work) {
  PyThreadState* const thread = PyEval_SaveThread();
  work(thread);
  if (!take_lock(thread)) wait_for_the_end();
}

// Raises MemoryError with `what`.
[[noreturn]] void raise_memory_error(const std::string& what) {
  PyErr_SetString(PyExc_MemoryError, what.c_str());
  throw py::error_already_set();
}

// A NumPy array that owns `values`, without copying them.
template <typename value>
py::array_t<value> array_of(std::vector<value>&& values) {
  auto* owned = new std::vector<value>(std::move(values));
  py::capsule free_when_done(owned,
                             [](void* data) { delete static_cast<std::vector<value>*>(data); });
  return py::array_t<value>(static_cast<py::ssize_t>(owned->size()), owned->data(),
                            free_when_done);
}

// indptr and indices of `set` with the fixed row, when there is one, in
// front of each bicluster's rows.
std::pair<py::array_t<int64_t>, py::array_t<int32_t>> arrays_of(bicluster_set&& set) {
  try {
    if (set.fixed_row == -1) {
      return {array_of(std::move(set.offsets)), array_of(std::move(set.rows))};
    }
  } catch (const std::bad_alloc&) {
    raise_memory_error("out of memory for the arrays of the biclusters");
  }
  const std::size_t count = set.size();
  py::array_t<int64_t> indptr(static_cast<py::ssize_t>(count + 1));
  py::array_t<int32_t> indices(static_cast<py::ssize_t>(set.rows.size() + count));
  int64_t* offsets = indptr.mutable_data();
  int32_t* rows = indices.mutable_data();
  offsets[0] = 0;
  std::size_t at = 0;
  for (std::size_t i = 0; i < count; ++i) {
    rows[at++] = set.fixed_row;
    const auto first = static_cast<std::size_t>(set.offsets[i]);
    const auto last = static_cast<std::size_t>(set.offsets[i + 1]);
    // std::copy, since the rows of a run without free rows may be no array.
    std::copy(set.rows.begin() + static_cast<std::ptrdiff_t>(first),
              set.rows.begin() + static_cast<std::ptrdiff_t>(last), rows + at);
    at += last - first;
    offsets[i + 1] = static_cast<int64_t>(at);
  }
  return {indptr, indices};
}

run_params params_of(int32_t num_rows, int32_t num_columns, int32_t num_biclusters,
                     int32_t min_rows, int32_t max_rows, int32_t fixed_row,
                     int32_t fixed_column) {
  run_params params;
  params.num_rows = num_rows;
  params.num_columns = num_columns;
  params.num_biclusters = num_biclusters;
  params.min_rows = min_rows;
  params.max_rows = max_rows;
  params.fixed_row = fixed_row;
  params.fixed_column = fixed_column;
  return params;
}

// The tool's refusal of the run, or "".
std::string check(int32_t num_rows, int32_t num_columns, int32_t num_biclusters, int32_t min_rows,
                  int32_t max_rows, int32_t fixed_row, int32_t fixed_column) {
  return init_bicluster::check_run_params(params_of(num_rows, num_columns, num_biclusters,
                                                    min_rows, max_rows, fixed_row, fixed_column))
      .value_or("");
}

// Whether the run must stop: the user interrupted it (the exception is then
// set), or the interpreter is ending. Called without the lock.
bool stop_requested(PyThreadState* thread, bool* interrupted) {
  if (!take_lock(thread)) return true;
  *interrupted = PyErr_CheckSignals() != 0;
  PyEval_SaveThread();
  return *interrupted;
}

// Draws a run the check accepts; returns (indptr, indices).
std::pair<py::array_t<int64_t>, py::array_t<int32_t>> draw(int32_t num_rows, int32_t num_columns,
                                                           int32_t num_biclusters,
                                                           int32_t min_rows, int32_t max_rows,
                                                           int32_t fixed_row,
                                                           int32_t fixed_column, uint32_t seed) {
  const run_params params = params_of(num_rows, num_columns, num_biclusters, min_rows, max_rows,
                                      fixed_row, fixed_column);
  if (const auto refusal = init_bicluster::check_run_params(params)) {
    throw py::value_error(*refusal);
  }
  bicluster_set set;
  bool interrupted = false;
  int error = 0;
  without_lock([&](PyThreadState* thread) {
    error = init_bicluster::draw_biclusters(
        params, seed, set, [&] { return stop_requested(thread, &interrupted); });
  });
  if (interrupted) throw py::error_already_set();
  if (error == ENOMEM) {
    raise_memory_error("Could not allocate memory for the rows of " +
                       std::to_string(num_biclusters) + " biclusters of up to " +
                       std::to_string(max_rows) + " rows");
  }
  return arrays_of(std::move(set));
}

// Why indptr and indices (the fixed row in front of each bicluster, 0-based)
// do not describe biclusters of a matrix of `num_rows` rows, or nothing.
// Looks at the whole of indptr before any row.
std::optional<std::string> refusal_of(const offsets_array& indptr, const rows_array& indices,
                                      int32_t num_rows, int32_t fixed_row) {
  const int64_t* offsets = indptr.data();
  const int32_t* rows = indices.data();
  const auto count = static_cast<std::size_t>(indptr.size());
  const auto length = static_cast<int64_t>(indices.size());
  if (count == 0) return "indptr must hold at least one entry, 0";
  if (offsets[0] != 0) return "indptr must begin with 0, not " + std::to_string(offsets[0]);
  for (std::size_t i = 1; i < count; ++i) {
    if (offsets[i] < offsets[i - 1]) {
      return "indptr must not decrease, but entry " + std::to_string(i) + " is " +
             std::to_string(offsets[i]) + " after " + std::to_string(offsets[i - 1]);
    }
  }
  if (offsets[count - 1] != length) {
    return "indptr must end at the length of indices, " + std::to_string(length) + ", not " +
           std::to_string(offsets[count - 1]);
  }
  if (num_rows < 0) return "num_rows must not be negative";
  if (fixed_row < -1 || fixed_row >= num_rows) {
    return "fixed_row must be None or a row from 0 to " + std::to_string(num_rows - 1);
  }
  std::vector<bool> held(static_cast<std::size_t>(num_rows));
  for (std::size_t i = 0; i + 1 < count; ++i) {
    int64_t first = offsets[i];
    const int64_t last = offsets[i + 1];
    const std::string bicluster = "bicluster " + std::to_string(i);
    if (fixed_row != -1) {
      if (first == last || rows[first] != fixed_row) {
        return bicluster + " does not begin with the fixed row, " + std::to_string(fixed_row);
      }
      ++first;
    }
    std::optional<std::string> refused;
    int64_t j = first;
    for (; j < last && !refused; ++j) {
      const int32_t row = rows[j];
      if (row < 0 || row >= num_rows) {
        refused = bicluster + ": row " + std::to_string(row) + " is not a row of the matrix, 0 to " +
                  std::to_string(num_rows - 1);
      } else if (row == fixed_row) {
        refused = bicluster + ": the fixed row " + std::to_string(row) + " stands only first";
      } else if (held[static_cast<std::size_t>(row)]) {
        refused = bicluster + ": row " + std::to_string(row) + " is listed twice";
      } else {
        held[static_cast<std::size_t>(row)] = true;
      }
    }
    for (int64_t k = first; k < j; ++k) {
      const int32_t row = rows[k];
      if (row >= 0 && row < num_rows) held[static_cast<std::size_t>(row)] = false;
    }
    if (refused) return refused;
  }
  return std::nullopt;
}

// Raises ValueError where indptr and indices do not describe biclusters of
// the matrix.
void validate(const offsets_array& indptr, const rows_array& indices, int32_t num_rows,
              int32_t fixed_row) {
  std::optional<std::string> refusal;
  try {
    refusal = refusal_of(indptr, indices, num_rows, fixed_row);
  } catch (const std::bad_alloc&) {
    raise_memory_error("out of memory while checking the biclusters");
  }
  if (refusal) throw py::value_error(*refusal);
}

// The set that indptr and indices describe, checked whole first.
bicluster_set set_of(const offsets_array& indptr, const rows_array& indices, int32_t num_rows,
                     int32_t num_columns, int32_t fixed_row, int32_t fixed_column) {
  validate(indptr, indices, num_rows, fixed_row);
  bicluster_set set;
  set.num_rows = num_rows;
  set.num_columns = num_columns;
  set.fixed_row = fixed_row;
  set.fixed_column = fixed_column;
  const int64_t* offsets = indptr.data();
  const int32_t* rows = indices.data();
  const auto count = static_cast<std::size_t>(indptr.size());
  const int64_t skip = fixed_row == -1 ? 0 : 1;
  try {
    set.offsets.reserve(count);
    set.rows.reserve(static_cast<std::size_t>(indices.size()) - (count - 1) * skip);
    set.offsets.push_back(0);
    for (std::size_t i = 0; i + 1 < count; ++i) {
      set.rows.insert(set.rows.end(), rows + offsets[i] + skip, rows + offsets[i + 1]);
      set.offsets.push_back(static_cast<int64_t>(set.rows.size()));
    }
  } catch (const std::bad_alloc&) {
    raise_memory_error("out of memory while writing the biclusters");
  }
  return set;
}

// Writes the biclusters that indptr and indices describe to `path` as the
// tool's file, through the library's file sink. Returns 0, or the errno value
// of the failure, for the package to raise as open() would.
int write_file(const offsets_array& indptr, const rows_array& indices, int32_t num_rows,
               int32_t num_columns, int32_t fixed_row, int32_t fixed_column,
               const py::bytes& path) {
  const bicluster_set set = set_of(indptr, indices, num_rows, num_columns, fixed_row, fixed_column);
  const std::string file = path;
  if (file.find('\0') != std::string::npos) throw py::value_error("embedded null byte");
  int error = 0;
  without_lock([&](PyThreadState*) {
    const std::unique_ptr<init_bicluster::file_sink> sink =
        init_bicluster::file_sink::open(file, &error);
    if (sink != nullptr) error = init_bicluster::write_biclusters(set, *sink);
  });
  return error;
}

// Reads a bicluster file from the open `descriptor`; returns (errno value,
// indptr, indices, num_rows, num_columns, fixed_row, fixed_column), the
// fixed row in front of each bicluster's rows, or (errno value, reason) when
// a read failed. Raises ValueError with the reader's message, and
// MemoryError.
py::tuple read_file(int descriptor, int32_t num_rows, int32_t num_columns) {
  bicluster_set set;
  std::optional<std::string> refusal;
  int error = 0;
  without_lock([&](PyThreadState*) {
    refusal = init_bicluster::read_biclusters_from(descriptor, set, num_rows, num_columns, &error);
  });
  if (error == ENOMEM) raise_memory_error(*refusal);
  if (error != 0) return py::make_tuple(error, *refusal);
  if (refusal) throw py::value_error(*refusal);
  const int32_t rows = set.num_rows, columns = set.num_columns;
  const int32_t fixed_row = set.fixed_row, fixed_column = set.fixed_column;
  auto arrays = arrays_of(std::move(set));
  return py::make_tuple(0, arrays.first, arrays.second, rows, columns, fixed_row, fixed_column);
}

}  // namespace

PYBIND11_MODULE(_core, module) {
  module.doc() = "The compiled part of init_bicluster; use the package's functions.";
  module.attr("version") = init_bicluster::version();
  module.def("check", &check, "The tool's refusal of the run, or ''.");
  module.def("draw", &draw, "Draws a run; returns (indptr, indices), the fixed row in front.");
  module.def("validate", &validate, "Raises ValueError for arrays that are not biclusters.");
  module.def("write", &write_file, "Writes biclusters as the tool's file; returns an errno value.");
  module.def("read", &read_file, "Reads a bicluster file from an open descriptor.");
  py::module_::import("atexit").attr("register")(py::cpp_function(&on_interpreter_end));
}
