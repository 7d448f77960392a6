#include "reference_model.h"

#include <cstdlib>
#include <cstring>

namespace init_bicluster {

int64_t write_reference_file(const run_params& params, uint32_t seed, std::FILE* out) {
  const std::size_t rows = params.num_rows > 0 ? static_cast<std::size_t>(params.num_rows) : 1;
  int32_t* row_stamp = static_cast<int32_t*>(std::malloc(rows * sizeof(int32_t)));
  if (row_stamp == nullptr) return -1;
  std::memset(row_stamp, 0xFF, rows * sizeof(int32_t));
  std::srand(seed);
  int64_t draws = 0;
  for (int32_t index = 0; index < params.num_biclusters; ++index) {
    int64_t size = params.min_rows + std::rand() % (int64_t{params.max_rows} - params.min_rows + 1);
    ++draws;
    std::fprintf(out, "BICLUSTER %d\n%d\n", index, params.fixed_row);
    if (params.fixed_row != -1) {
      row_stamp[params.fixed_row] = index;
      --size;
    }
    for (int64_t count = 0; count < size;) {
      const int32_t row = std::rand() % params.num_rows;
      ++draws;
      if (row_stamp[row] == index) continue;
      row_stamp[row] = index;
      std::fprintf(out, "%d ", row);
      ++count;
    }
    std::fprintf(out, "\n%d\n", params.fixed_column);
    for (int32_t column = 0; column < params.num_columns; ++column) {
      if (column != params.fixed_column) std::fprintf(out, "%d ", column);
    }
    std::fputc('\n', out);
  }
  std::free(row_stamp);
  return draws;
}

}  // namespace init_bicluster
