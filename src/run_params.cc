#include "run_params.h"

#include <cstdlib>

namespace init_bicluster {

int32_t convert_argument(const char* text) {
  // long long is 64 bits everywhere, long only on some platforms; the
  // narrowing keeps the low 32 bits (modular since C++20), which is what
  // callers rely on.
  return static_cast<int32_t>(std::strtoll(text, nullptr, 10));
}

run_params parse_run_params(const char* const* arguments) {
  run_params params;
  params.num_rows = convert_argument(arguments[0]);
  params.num_columns = convert_argument(arguments[1]);
  params.num_biclusters = convert_argument(arguments[2]);
  params.min_rows = convert_argument(arguments[3]);
  params.max_rows = convert_argument(arguments[4]);
  params.fixed_row = convert_argument(arguments[5]);
  params.fixed_column = convert_argument(arguments[6]);
  params.output_filename = arguments[7];
  return params;
}

namespace {

std::string named_value(const char* name, int32_t value) {
  return std::string(name) + " (" + std::to_string(value) + ")";
}

}  // namespace

std::optional<std::string> check_run_params(const run_params& params) {
  if (params.num_rows < params.max_rows) {
    return named_value("Max rows", params.max_rows) + " is greater than " +
           named_value("num rows", params.num_rows);
  }
  if (params.num_rows < 0) {
    return named_value("Num rows", params.num_rows) + " must not be negative";
  }
  if (params.min_rows > params.max_rows) {
    return named_value("Min rows", params.min_rows) + " is greater than " +
           named_value("max rows", params.max_rows);
  }
  if (params.fixed_row != -1 && (params.fixed_row < 0 || params.fixed_row >= params.num_rows)) {
    if (params.num_rows == 0) {
      return named_value("Fixed row", params.fixed_row) + " must be -1 when num rows is 0";
    }
    return named_value("Fixed row", params.fixed_row) + " must be -1 or a row index from 0 to " +
           std::to_string(params.num_rows - 1);
  }
  return std::nullopt;
}

std::string usage_text(const char* program_name) {
  return std::string(program_name) +
         ": Create initial biclusters, potentialy with fixed rows and columns\n"
         "Args: <num rows> <num columns> <num biclusters> <min rows> <max rows> "
         "<fixed row | -1> <fixed column | -1> <output filename>\n";
}

}  // namespace init_bicluster
