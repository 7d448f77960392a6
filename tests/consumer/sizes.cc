// Draws the example run into memory and prints the size of each bicluster.
#include <init_bicluster/init_bicluster.h>

#include <cstdio>
#include <cstring>

int main() {
  init_bicluster::run_params params;
  params.num_rows = 6;
  params.num_columns = 4;
  params.num_biclusters = 2;
  params.min_rows = 2;
  params.max_rows = 3;
  params.fixed_row = 4;
  params.fixed_column = 2;
  if (const auto refusal = init_bicluster::check_run_params(params)) {
    std::fprintf(stderr, "%s\n", refusal->c_str());
    return 1;
  }
  init_bicluster::bicluster_set set;
  if (const int error = init_bicluster::draw_biclusters(params, 1, set)) {
    std::fprintf(stderr, "Could not draw: %s\n", std::strerror(error));
    return 1;
  }
  const int fixed = set.fixed_row != -1 ? 1 : 0;
  for (std::size_t i = 0; i < set.size(); ++i) {
    const long long free_rows = set.offsets[i + 1] - set.offsets[i];
    std::printf("bicluster %zu: %lld rows\n", i, free_rows + fixed);
  }
  return 0;
}
