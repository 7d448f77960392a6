// Draws a run into memory with the library and writes it from there: the C++
// side of the check that the tool, C++, R and Python give one seed one answer.
//
// Usage: draw_to_file <arguments 1-7> <seed> <file>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "init_bicluster.h"

int main(int argc, char** argv) {
  if (argc != 10) {
    std::fprintf(stderr, "usage: draw_to_file <arguments 1-7> <seed> <file>\n");
    return 2;
  }
  const char* arguments[init_bicluster::k_argument_count] = {argv[1], argv[2], argv[3], argv[4],
                                                             argv[5], argv[6], argv[7], argv[9]};
  const init_bicluster::run_params params = init_bicluster::parse_run_params(arguments);
  init_bicluster::bicluster_set set;
  int error = init_bicluster::draw_biclusters(
      params, static_cast<uint32_t>(std::strtoul(argv[8], nullptr, 10)), set);
  std::unique_ptr<init_bicluster::file_sink> sink;
  if (error == 0) sink = init_bicluster::file_sink::open(argv[9], &error);
  if (error == 0) error = init_bicluster::write_biclusters(set, *sink);
  if (error != 0) {
    std::fprintf(stderr, "draw_to_file: %s\n", std::strerror(error));
    return 1;
  }
  return 0;
}
