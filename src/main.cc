// init_bicluster: writes a file of random initial biclusters for a matrix of
// the given size. See README.md for the arguments and the file format.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "process_setup.h"
#include "run_control.h"

int main(int argc, char** argv) {
  init_bicluster::prepare_process();
  init_bicluster::system_environment environment;
  const init_bicluster::run_outcome outcome =
      init_bicluster::run_init_bicluster(argc, argv, environment);
  std::fwrite(outcome.standard_output.data(), 1, outcome.standard_output.size(), stdout);
  // Help or a version that could not be written is a failure, as with any
  // other output.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "Could not write standard output: %s\n", std::strerror(errno));
    return 1;
  }
  std::fwrite(outcome.standard_error.data(), 1, outcome.standard_error.size(), stderr);
  return outcome.exit_status;
}
