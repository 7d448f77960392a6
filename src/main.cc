// init_bicluster: writes a file of random initial biclusters for a matrix of
// the given size. See README.md for the arguments and the file format.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "generator.h"
#include "output_sink.h"
#include "rand_generator.h"
#include "row_stamp.h"
#include "run_params.h"

using namespace init_bicluster;

int main(int argc, char** argv) {
  if (argc < k_argument_count + 1) {
    const char* program_name = argc > 0 && argv[0] != nullptr ? argv[0] : "init_bicluster";
    std::fputs(usage_text(program_name).c_str(), stdout);
    return 1;
  }
  const run_params params = parse_run_params(argv + 1);
  if (const auto refusal = check_run_params(params)) {
    std::fprintf(stderr, "%s\n", refusal->c_str());
    return 1;
  }
  // The table comes first so that running out of memory leaves the output
  // path as it was.
  row_stamp table;
  if (!table.allocate(params.num_rows, params.num_biclusters)) {
    std::fprintf(stderr, "Could not allocate memory for %d rows\n", params.num_rows);
    return 1;
  }
  int error = 0;
  const auto sink = file_sink::open(params.output_filename, &error);
  if (sink == nullptr) {
    std::fputs("Could not open output file\n", stderr);
    return 1;
  }
  rand_generator random(static_cast<uint32_t>(std::time(nullptr)));
  error = generate_biclusters(params, table, random, *sink);
  if (error == 0) error = sink->close();
  if (error != 0) {
    std::fprintf(stderr, "Could not write output file: %s\n", std::strerror(error));
    return 1;
  }
  return 0;
}
