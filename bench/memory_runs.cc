// Runs of the library's in-memory calls, for bench/run.py to time beside the
// tool: a run drawn and collected whole, a run handed over one bicluster at a
// time, or a bicluster file read back. Prints the number of biclusters and of
// free rows, and a sum of the rows, so that no work can be left out.
//
// Usage: memory_runs collect|stream <arguments 1-7> <seed>
//        memory_runs read <file>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bicluster_set.h"

namespace {

using namespace init_bicluster;

// Adds up what it is handed.
class summing_visitor final : public bicluster_visitor {
 public:
  bool visit(int32_t, const int32_t* free_rows, std::size_t count) override {
    ++biclusters;
    rows += count;
    for (std::size_t i = 0; i < count; ++i) sum += static_cast<uint64_t>(free_rows[i]);
    return true;
  }
  uint64_t biclusters = 0;
  uint64_t rows = 0;
  uint64_t sum = 0;
};

void report(const bicluster_set& set) {
  uint64_t sum = 0;
  for (const int32_t row : set.rows) sum += static_cast<uint64_t>(row);
  std::printf("%zu %zu %llu\n", set.size(), set.rows.size(), static_cast<unsigned long long>(sum));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "read") == 0) {
    bicluster_set set;
    if (const auto refusal = read_bicluster_file(argv[2], set)) {
      std::fprintf(stderr, "%s\n", refusal->c_str());
      return 1;
    }
    report(set);
    return 0;
  }
  if (argc != 10 || (std::strcmp(argv[1], "collect") != 0 && std::strcmp(argv[1], "stream") != 0)) {
    std::fprintf(stderr, "usage: memory_runs collect|stream <arguments 1-7> <seed>\n"
                         "       memory_runs read <file>\n");
    return 2;
  }
  const char* arguments[k_argument_count];
  for (int i = 0; i < 7; ++i) arguments[i] = argv[2 + i];
  arguments[7] = "";
  const run_params params = parse_run_params(arguments);
  if (const auto refusal = check_run_params(params)) {
    std::fprintf(stderr, "%s\n", refusal->c_str());
    return 1;
  }
  const auto seed = static_cast<uint32_t>(std::strtoul(argv[9], nullptr, 10));
  if (std::strcmp(argv[1], "collect") == 0) {
    bicluster_set set;
    if (draw_biclusters(params, seed, set) != 0) return 1;
    report(set);
    return 0;
  }
  summing_visitor visitor;
  if (draw_biclusters(params, seed, visitor) != 0) return 1;
  std::printf("%llu %llu %llu\n", static_cast<unsigned long long>(visitor.biclusters),
              static_cast<unsigned long long>(visitor.rows),
              static_cast<unsigned long long>(visitor.sum));
  return 0;
}
