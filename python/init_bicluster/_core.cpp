// The compiled part of the init_bicluster module: the library's draw, writer
// and reader on NumPy arrays. Runs are drawn without the interpreter's lock;
// an interrupt stops them within a few milliseconds. The library never
// throws; its failures become Python exceptions here.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <string>
#include <utility>
#include <vector>

#include "init_bicluster.h"

namespace py = pybind11;

namespace {

using init_bicluster::bicluster_set;
using init_bicluster::run_params;

// A NumPy array that owns `values`, without copying them.
template <typename value>
py::array_t<value> array_of(std::vector<value>&& values) {
  auto* owned = new std::vector<value>(std::move(values));
  py::capsule free_when_done(owned, [](void* data) { delete static_cast<std::vector<value>*>(data); });
  return py::array_t<value>(static_cast<py::ssize_t>(owned->size()), owned->data(), free_when_done);
}

// indptr and indices of `set` with the fixed row, when there is one, in
// front of each bicluster's rows.
std::pair<py::array_t<int64_t>, py::array_t<int32_t>> arrays_of(bicluster_set&& set) {
  if (set.fixed_row == -1) return {array_of(std::move(set.offsets)), array_of(std::move(set.rows))};
  const std::size_t count = set.size();
  py::array_t<int64_t> indptr(static_cast<py::ssize_t>(count + 1));
  py::array_t<int32_t> indices(static_cast<py::ssize_t>(set.rows.size() + count));
  int64_t* offsets = indptr.mutable_data();
  int32_t* rows = indices.mutable_data();
  {
    py::gil_scoped_release unlocked;
    offsets[0] = 0;
    std::size_t at = 0;
    for (std::size_t i = 0; i < count; ++i) {
      rows[at++] = set.fixed_row;
      const auto first = static_cast<std::size_t>(set.offsets[i]);
      const auto last = static_cast<std::size_t>(set.offsets[i + 1]);
      std::memcpy(rows + at, set.rows.data() + first, (last - first) * sizeof(int32_t));
      at += last - first;
      offsets[i + 1] = static_cast<int64_t>(at);
    }
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
  {
    py::gil_scoped_release unlocked;
    error = init_bicluster::draw_biclusters(params, seed, set, [&interrupted] {
      py::gil_scoped_acquire locked;
      interrupted = PyErr_CheckSignals() != 0;
      return interrupted;
    });
  }
  if (interrupted) throw py::error_already_set();
  if (error == ENOMEM) throw std::bad_alloc();
  return arrays_of(std::move(set));
}

// The set that indptr and indices (fixed row in front) describe, 0-based;
// refuses arrays that do not describe biclusters of the matrix.
bicluster_set set_of(py::array_t<int64_t, py::array::c_style | py::array::forcecast> indptr,
                     py::array_t<int32_t, py::array::c_style | py::array::forcecast> indices,
                     int32_t num_rows, int32_t num_columns, int32_t fixed_row,
                     int32_t fixed_column) {
  bicluster_set set;
  set.num_rows = num_rows;
  set.num_columns = num_columns;
  set.fixed_row = fixed_row;
  set.fixed_column = fixed_column;
  const int64_t* offsets = indptr.data();
  const int32_t* rows = indices.data();
  const auto count = static_cast<std::size_t>(indptr.size());
  if (count == 0 || offsets[0] != 0 || offsets[count - 1] != indices.size()) {
    throw py::value_error("indptr must start at 0 and end at the length of indices");
  }
  std::vector<bool> held(static_cast<std::size_t>(std::max(num_rows, 0)));
  set.offsets.push_back(0);
  for (std::size_t i = 0; i + 1 < count; ++i) {
    int64_t first = offsets[i];
    const int64_t last = offsets[i + 1];
    if (last < first) throw py::value_error("indptr must not decrease");
    if (fixed_row != -1) {
      if (first == last || rows[first] != fixed_row) {
        throw py::value_error("bicluster " + std::to_string(i) +
                              " does not begin with the fixed row");
      }
      ++first;
    }
    const std::size_t start = set.rows.size();
    for (int64_t j = first; j < last; ++j) {
      const int32_t row = rows[j];
      if (row < 0 || row >= num_rows || row == fixed_row || held[static_cast<std::size_t>(row)]) {
        throw py::value_error("bicluster " + std::to_string(i) + ": row " + std::to_string(row) +
                              " is not a row of the matrix other than the fixed row, or is "
                              "listed twice");
      }
      held[static_cast<std::size_t>(row)] = true;
      set.rows.push_back(row);
    }
    for (std::size_t k = start; k < set.rows.size(); ++k) {
      held[static_cast<std::size_t>(set.rows[k])] = false;
    }
    set.offsets.push_back(static_cast<int64_t>(set.rows.size()));
  }
  return set;
}

// Raises OSError for `error` on `path`, with the system's reason.
[[noreturn]] void raise_os_error(int error, const std::string& path) {
  const std::string reason = error == ESTALE ? "another program changed the path during the run"
                                             : std::strerror(error);
  const py::object exception = py::module_::import("builtins").attr("OSError")(error, reason, path);
  PyErr_SetObject(PyExc_OSError, exception.ptr());
  throw py::error_already_set();
}

// Writes the biclusters that indptr and indices describe to `path` as the
// tool's file, through the library's file sink.
void write_file(py::array_t<int64_t, py::array::c_style | py::array::forcecast> indptr,
           py::array_t<int32_t, py::array::c_style | py::array::forcecast> indices,
           int32_t num_rows, int32_t num_columns, int32_t fixed_row, int32_t fixed_column,
           const std::string& path) {
  const bicluster_set set =
      set_of(std::move(indptr), std::move(indices), num_rows, num_columns, fixed_row, fixed_column);
  int error = 0;
  {
    py::gil_scoped_release unlocked;
    const std::unique_ptr<init_bicluster::file_sink> sink =
        init_bicluster::file_sink::open(path, &error);
    if (sink != nullptr) error = init_bicluster::write_biclusters(set, *sink);
  }
  if (error != 0) raise_os_error(error, path);
}

// Reads the bytes of a bicluster file; returns (indptr, indices, num_rows,
// num_columns, fixed_row, fixed_column), the fixed row in front of each
// bicluster's rows. Raises ValueError with the reader's message.
py::tuple read_text(py::buffer bytes, int32_t num_rows, int32_t num_columns) {
  const py::buffer_info info = bytes.request();
  const std::string_view text(static_cast<const char*>(info.ptr),
                              static_cast<std::size_t>(info.size * info.itemsize));
  bicluster_set set;
  std::optional<std::string> refusal;
  {
    py::gil_scoped_release unlocked;
    refusal = init_bicluster::read_biclusters(text, set, num_rows, num_columns);
  }
  if (refusal) throw py::value_error(*refusal);
  const int32_t rows = set.num_rows, columns = set.num_columns;
  const int32_t fixed_row = set.fixed_row, fixed_column = set.fixed_column;
  auto arrays = arrays_of(std::move(set));
  return py::make_tuple(arrays.first, arrays.second, rows, columns, fixed_row, fixed_column);
}

}  // namespace

PYBIND11_MODULE(_core, module) {
  module.doc() = "The compiled part of init_bicluster; use the package's functions.";
  module.attr("version") = init_bicluster::version();
  module.def("check", &check, "The tool's refusal of the run, or ''.");
  module.def("draw", &draw, "Draws a run; returns (indptr, indices), the fixed row in front.");
  module.def("write", &write_file, "Writes biclusters as the tool's file.");
  module.def("read", &read_text, "Reads the bytes of a bicluster file.");
}
