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
  const init_bicluster::run_params params{.num_rows = 6,
                                          .num_columns = 4,
                                          .num_biclusters = 2,
                                          .min_rows = 2,
                                          .max_rows = 3,
                                          .fixed_row = 4,
                                          .fixed_column = 2};
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
