// The R interface of the init_bicluster library: draws, writes and reads
// initial biclusters. Rows and columns are 1-based on the R side and 0-based
// in the library and its files. No library call can jump: R's allocations and
// interrupts are made safe with cpp11, and an error becomes an R error only
// once no library frame is left on the stack.
#include <R_ext/Rdynload.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cpp11.hpp"
#include "cpp11/declarations.hpp"
#include "init_bicluster.h"

extern "C" void Rf_onintr(void);

namespace {

using init_bicluster::bicluster_set;
using init_bicluster::run_params;

void check_interrupt(void*) { R_CheckUserInterrupt(); }

// Whether the user asked to interrupt; the interrupt is taken, to be raised
// again once the library has returned.
bool interrupt_asked() { return R_ToplevelExec(check_interrupt, nullptr) == FALSE; }

// A number that R's code has checked to be a whole number within 32 bits.
int32_t int32_of(double value) { return static_cast<int32_t>(value); }

// The run's numbers, from a double vector of the seven arguments, the fixed
// row and column already 0-based (-1 for none), each checked by R's code to
// be a whole number within 32 bits.
run_params params_of(cpp11::doubles numbers) {
  run_params params;
  params.num_rows = int32_of(numbers[0]);
  params.num_columns = int32_of(numbers[1]);
  params.num_biclusters = int32_of(numbers[2]);
  params.min_rows = int32_of(numbers[3]);
  params.max_rows = int32_of(numbers[4]);
  params.fixed_row = int32_of(numbers[5]);
  params.fixed_column = int32_of(numbers[6]);
  return params;
}

// The shape of a set of biclusters, from a double vector of its number of
// rows and columns and its fixed row and column, 0-based (-1 for none), as
// R's code checks them.
struct shape {
  int32_t num_rows, num_columns, fixed_row, fixed_column;
};

shape shape_of(cpp11::doubles numbers) {
  return {int32_of(numbers[0]), int32_of(numbers[1]), int32_of(numbers[2]),
          int32_of(numbers[3])};
}

// Fills a list with one integer vector per bicluster, the fixed row first,
// 1-based, as the biclusters are drawn. Stops the run on an interrupt or when
// R cannot give a vector, and keeps what happened for after the run.
class list_filler final : public init_bicluster::bicluster_visitor {
 public:
  list_filler(SEXP list, int32_t fixed_row) : list_(list), fixed_row_(fixed_row) {}

  bool visit(int32_t index, const int32_t* free_rows, std::size_t count) override {
    const std::size_t fixed = fixed_row_ != -1;
    SEXP rows;
    try {
      rows = cpp11::safe[Rf_allocVector](INTSXP, static_cast<R_xlen_t>(count + fixed));
    } catch (...) {
      failure_ = std::current_exception();
      return false;
    }
    // Held by the list from here on.
    SET_VECTOR_ELT(list_, index, rows);
    int* out = INTEGER(rows);
    if (fixed) *out++ = fixed_row_ + 1;
    for (std::size_t i = 0; i < count; ++i) out[i] = free_rows[i] + 1;
    return (index & 1023) != 1023 || !ask_interrupt();
  }

  bool should_stop() override { return ask_interrupt(); }

  // Raises what stopped the run, if anything did.
  void raise() const {
    if (failure_) std::rethrow_exception(failure_);
    if (interrupted_) cpp11::safe[Rf_onintr]();
  }

 private:
  bool ask_interrupt() {
    interrupted_ = interrupted_ || interrupt_asked();
    return interrupted_;
  }

  SEXP list_;
  int32_t fixed_row_;
  std::exception_ptr failure_;
  bool interrupted_ = false;
};

// The rows of `item`, bicluster `index` (from 1), as integers: an integer
// vector as it is, or a double vector of whole numbers within 32 bits. Stops
// with an R error for anything else.
std::vector<int> rows_of(SEXP item, R_xlen_t index) {
  const R_xlen_t count = Rf_xlength(item);
  std::vector<int> rows(static_cast<std::size_t>(count));
  if (TYPEOF(item) == INTSXP) {
    std::copy(INTEGER(item), INTEGER(item) + count, rows.begin());
    return rows;
  }
  if (TYPEOF(item) != REALSXP) {
    cpp11::stop("bicluster %d is not a vector of row numbers", int(index));
  }
  const double* values = REAL(item);
  for (R_xlen_t j = 0; j < count; ++j) {
    const double value = values[j];
    if (!(value >= 1 && value <= 2147483647.0 && value == static_cast<double>(
                                                       static_cast<int64_t>(value)))) {
      rows[static_cast<std::size_t>(j)] = NA_INTEGER;
    } else {
      rows[static_cast<std::size_t>(j)] = static_cast<int>(value);
    }
  }
  return rows;
}

// The set that the R list `rows` (vectors of row numbers, the fixed row
// first in each) describes, 0-based. Refuses rows outside the matrix, not
// whole, repeated, or without the fixed row in front, naming the bicluster.
bicluster_set set_of(cpp11::list rows, const shape& matrix) {
  bicluster_set set;
  set.num_rows = matrix.num_rows;
  set.num_columns = matrix.num_columns;
  set.fixed_row = matrix.fixed_row;
  set.fixed_column = matrix.fixed_column;
  set.offsets.reserve(static_cast<std::size_t>(rows.size()) + 1);
  set.offsets.push_back(0);
  std::vector<bool> held(static_cast<std::size_t>(std::max(matrix.num_rows, 0)));
  const int fixed = matrix.fixed_row;
  for (R_xlen_t i = 0; i < rows.size(); ++i) {
    const std::vector<int> values = rows_of(rows[i], i + 1);
    std::size_t first = 0;
    if (fixed != -1) {
      if (values.empty() || values[0] != fixed + 1) {
        cpp11::stop("bicluster %d does not begin with the fixed row, %d", int(i + 1), fixed + 1);
      }
      first = 1;
    }
    const std::size_t start = set.rows.size();
    for (std::size_t j = first; j < values.size(); ++j) {
      const int row = values[j];
      const char* wrong = nullptr;
      if (row == NA_INTEGER || row < 1 || row > matrix.num_rows) {
        wrong = "is not a row of the matrix";
      } else if (row - 1 == fixed) {
        wrong = "is the fixed row, which stands only first";
      } else if (held[static_cast<std::size_t>(row - 1)]) {
        wrong = "is listed twice";
      }
      if (wrong != nullptr) {
        for (std::size_t k = start; k < set.rows.size(); ++k) {
          held[static_cast<std::size_t>(set.rows[k])] = false;
        }
        if (row == NA_INTEGER) {
          cpp11::stop("bicluster %d: entry %d is not a row number from 1 to %d", int(i + 1),
                      int(j + 1), matrix.num_rows);
        }
        cpp11::stop("bicluster %d: row %d %s", int(i + 1), row, wrong);
      }
      held[static_cast<std::size_t>(row - 1)] = true;
      set.rows.push_back(row - 1);
    }
    for (std::size_t k = start; k < set.rows.size(); ++k) {
      held[static_cast<std::size_t>(set.rows[k])] = false;
    }
    set.offsets.push_back(static_cast<int64_t>(set.rows.size()));
  }
  return set;
}

// The rows of `set` as R's list: one integer vector per bicluster, the fixed
// row first, 1-based.
cpp11::writable::list rows_of(const bicluster_set& set) {
  const R_xlen_t count = static_cast<R_xlen_t>(set.size());
  cpp11::writable::list rows(count);
  const std::size_t fixed = set.fixed_row != -1;
  for (R_xlen_t i = 0; i < count; ++i) {
    const auto first = static_cast<std::size_t>(set.offsets[static_cast<std::size_t>(i)]);
    const auto last = static_cast<std::size_t>(set.offsets[static_cast<std::size_t>(i) + 1]);
    cpp11::writable::integers members(static_cast<R_xlen_t>(last - first + fixed));
    int* out = INTEGER(members);
    if (fixed) *out++ = set.fixed_row + 1;
    for (std::size_t j = first; j < last; ++j) *out++ = set.rows[j] + 1;
    rows[i] = members;
  }
  return rows;
}

// The R object of `set`: the list the R functions build the class from, its
// numbers as doubles, since a fixed column may lie outside R's integers.
cpp11::writable::list object_of(const bicluster_set& set) {
  return cpp11::writable::list(
      {rows_of(set), cpp11::as_sexp(static_cast<double>(set.num_rows)),
       cpp11::as_sexp(static_cast<double>(set.num_columns)),
       cpp11::as_sexp(static_cast<double>(set.fixed_row)),
       cpp11::as_sexp(static_cast<double>(set.fixed_column))});
}

// Whether the memory for the smallest run that `params` allow could be had
// at all: every bicluster of the least size, 4 bytes a row and an R vector's
// header each. The system gives the pages only as they are used, but
// refuses at once what it could never give.
bool could_hold(const run_params& params) {
  const auto count = static_cast<uint64_t>(std::max(params.num_biclusters, 0));
  const auto least = static_cast<uint64_t>(std::max(params.min_rows, 0));
  constexpr uint64_t k_header = 64;
  if (count > 0 && least + k_header / 4 > SIZE_MAX / 4 / count) return false;
  void* memory = std::malloc(static_cast<std::size_t>(count * (4 * least + k_header)));
  std::free(memory);
  return memory != nullptr || count == 0;
}

}  // namespace

// The tool's refusal of `numbers` (the seven arguments, 0-based), or "".
extern "C" SEXP initbicluster_check(SEXP numbers) {
  BEGIN_CPP11
  const auto refusal = init_bicluster::check_run_params(params_of(cpp11::doubles(numbers)));
  return cpp11::as_sexp(refusal.value_or(""));
  END_CPP11
}

// The biclusters of `numbers` for `seed`: a list of integer vectors, 1-based.
// Requires numbers the check accepts and a seed from 0 to 2^32 - 1.
extern "C" SEXP initbicluster_draw(SEXP numbers, SEXP seed) {
  BEGIN_CPP11
  const run_params params = params_of(cpp11::doubles(numbers));
  const auto seed_value = static_cast<uint32_t>(cpp11::as_cpp<double>(seed));
  if (!could_hold(params)) {
    cpp11::stop("Could not allocate memory for %d biclusters of at least %d rows",
                params.num_biclusters, params.min_rows);
  }
  cpp11::writable::list biclusters(static_cast<R_xlen_t>(std::max(params.num_biclusters, 0)));
  list_filler filler(biclusters, params.fixed_row);
  const int error = init_bicluster::draw_biclusters(params, seed_value, filler);
  filler.raise();
  if (error == ENOMEM) {
    cpp11::stop("Could not allocate memory for the rows of a %d-row matrix", params.num_rows);
  }
  return biclusters;
  END_CPP11
}

// The rows of `rows` (vectors of row numbers, the fixed row first) of a
// matrix of the shape `matrix` (as shape_of reads it), checked whole, as
// integer vectors.
extern "C" SEXP initbicluster_rows(SEXP rows, SEXP matrix) {
  BEGIN_CPP11
  return rows_of(set_of(cpp11::list(rows), shape_of(cpp11::doubles(matrix))));
  END_CPP11
}

// Writes the biclusters `rows` of a matrix of the shape `matrix` to the file
// `path`, as the tool writes it, after checking them whole.
extern "C" SEXP initbicluster_write(SEXP rows, SEXP matrix, SEXP path) {
  BEGIN_CPP11
  const bicluster_set set = set_of(cpp11::list(rows), shape_of(cpp11::doubles(matrix)));
  const std::string file = cpp11::as_cpp<std::string>(path);
  int error = 0;
  std::unique_ptr<init_bicluster::file_sink> sink = init_bicluster::file_sink::open(file, &error);
  if (sink == nullptr) cpp11::stop("Could not open output file: %s", std::strerror(error));
  error = init_bicluster::write_biclusters(set, *sink);
  if (error != 0) {
    const char* reason = error == ESTALE    ? "another program changed the path during the run"
                         : error == ETXTBSY ? "another program holds a lock on the file"
                                            : std::strerror(error);
    cpp11::stop("Could not write output file: %s", reason);
  }
  return R_NilValue;
  END_CPP11
}

// Reads the bicluster file at `path`: the list of its biclusters (1-based),
// its numbers of rows and columns, its fixed row and column (0-based, -1 for
// none). `num_rows` and `num_columns` are -1 where not given.
extern "C" SEXP initbicluster_read(SEXP path, SEXP num_rows, SEXP num_columns) {
  BEGIN_CPP11
  bicluster_set set;
  const auto refusal = init_bicluster::read_bicluster_file(
      cpp11::as_cpp<std::string>(path), set, cpp11::as_cpp<int>(num_rows),
      cpp11::as_cpp<int>(num_columns));
  if (refusal) cpp11::stop("%s", refusal->c_str());
  return object_of(set);
  END_CPP11
}

// The library's version.
extern "C" SEXP initbicluster_version() {
  BEGIN_CPP11
  return cpp11::as_sexp(init_bicluster::version());
  END_CPP11
}

extern "C" void R_init_initbicluster(DllInfo* info) {
  static const R_CallMethodDef calls[] = {
      {"initbicluster_check", reinterpret_cast<DL_FUNC>(&initbicluster_check), 1},
      {"initbicluster_draw", reinterpret_cast<DL_FUNC>(&initbicluster_draw), 2},
      {"initbicluster_rows", reinterpret_cast<DL_FUNC>(&initbicluster_rows), 2},
      {"initbicluster_write", reinterpret_cast<DL_FUNC>(&initbicluster_write), 3},
      {"initbicluster_read", reinterpret_cast<DL_FUNC>(&initbicluster_read), 3},
      {"initbicluster_version", reinterpret_cast<DL_FUNC>(&initbicluster_version), 0},
      {nullptr, nullptr, 0}};
  R_registerRoutines(info, nullptr, calls, nullptr, nullptr);
  R_useDynamicSymbols(info, FALSE);
  R_forceSymbols(info, TRUE);
}
