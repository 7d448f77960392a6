// The eight command-line values of a run, their conversion and their checks.
#ifndef INIT_BICLUSTER_RUN_PARAMS_H_
#define INIT_BICLUSTER_RUN_PARAMS_H_

#include <cstdint>
#include <optional>
#include <string>

namespace init_bicluster {

// Number of positional arguments the tool reads after the program name.
constexpr int k_argument_count = 8;

// What one run is asked to do. Row and column indices start at 0; -1 in
// `fixed_row` or `fixed_column` means there is none.
struct run_params {
  int32_t num_rows = 0;
  int32_t num_columns = 0;
  int32_t num_biclusters = 0;
  int32_t min_rows = 0;
  int32_t max_rows = 0;
  int32_t fixed_row = -1;
  int32_t fixed_column = -1;
  std::string output_filename;
};

// Converts one numeric argument leniently, as strtoll with base 10 does (leading
// white space, an optional sign, digits up to the first non-digit; no digits
// gives 0; beyond the 64-bit range gives the nearest 64-bit limit), then keeps
// the low 32 bits of the result. Never fails. Requires a NUL-terminated text.
int32_t convert_argument(const char* text);

// Builds run_params from the k_argument_count arguments that follow the program
// name. Requires `arguments` to point at k_argument_count valid C strings; any
// further arguments are not read.
run_params parse_run_params(const char* const* arguments);

// Returns the one-line message (without line feed) that refuses `params`, or
// nothing when generation can run with them. The checks, in order: more rows
// asked for than the matrix has, a negative row count, a least size above the
// greatest, a fixed row that is neither -1 nor a row index.
std::optional<std::string> check_run_params(const run_params& params);

// The two-line usage text, each line ending in a line feed, naming the program
// as `program_name`. Requires a valid C string (it may be empty).
std::string usage_text(const char* program_name);

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_RUN_PARAMS_H_
