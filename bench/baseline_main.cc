// The straightforward tool the benchmark measures against: the same arguments
// and file, written with one formatted print per number and rand() per draw.
// Takes the seed as a ninth argument and reports its draw count on standard
// error, so that the benchmark can give a cost per draw.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "reference_model.h"
#include "run_params.h"

int main(int argc, char** argv) {
  if (argc != 10) {
    std::fprintf(stderr, "usage: %s <seven numbers> <output filename> <seed>\n", argv[0]);
    return 2;
  }
  const init_bicluster::run_params params = init_bicluster::parse_run_params(argv + 1);
  if (const auto refusal = init_bicluster::check_run_params(params)) {
    std::fprintf(stderr, "%s\n", refusal->c_str());
    return 1;
  }
  std::FILE* out = std::fopen(params.output_filename.c_str(), "w");
  if (out == nullptr) return 1;
  const auto seed = static_cast<uint32_t>(std::strtoul(argv[9], nullptr, 10));
  const int64_t draws = init_bicluster::write_reference_file(params, seed, out);
  std::fclose(out);
  std::fprintf(stderr, "draws %" PRId64 "\n", draws);
  return draws < 0 ? 1 : 0;
}
