// Writes the example file, seeded with 1, to standard output.
#include <init_bicluster/init_bicluster.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

// Hands the records to standard output.
class stdout_sink final : public init_bicluster::output_sink {
 public:
  int write(std::string_view bytes) override {
    return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() ? 0 : EIO;
  }
  int close() override { return std::fflush(stdout) == 0 ? 0 : errno; }
};

int main() {
  // Field by field: GCC 12's -Wextra warns about designated initializers
  // that leave out output_filename, which this program does not use.
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
  stdout_sink sink;
  if (const int error = init_bicluster::write_biclusters(params, 1, sink)) {
    std::fprintf(stderr, "Could not write: %s\n", std::strerror(error));
    return 1;
  }
  std::fprintf(stderr, "init_bicluster %s\n", init_bicluster::version());
  return 0;
}
