// Reads the bicluster file named on the command line and reports its first
// error, or how many biclusters it holds.
#include <init_bicluster/init_bicluster.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: check_file FILE\n");
    return 2;
  }
  init_bicluster::bicluster_set set;
  if (const auto error = init_bicluster::read_bicluster_file(argv[1], set)) {
    std::fprintf(stderr, "%s: %s\n", argv[1], error->c_str());
    return 1;
  }
  std::printf("%zu biclusters of %d rows and %d columns\n", set.size(), set.num_rows,
              set.num_columns);
  return 0;
}
