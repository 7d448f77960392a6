#include "init_bicluster.h"

#include <cerrno>

#include "generator.h"
#include "rand_generator.h"
#include "row_stamp.h"

namespace init_bicluster {

const char* version() { return INIT_BICLUSTER_VERSION; }

int write_biclusters(const run_params& params, uint32_t seed, output_sink& sink) {
  row_stamp table;
  if (!table.allocate(params.num_rows, params.num_biclusters)) return ENOMEM;
  rand_generator random(seed);
  const int error = generate_biclusters(params, table, random, sink);
  return error != 0 ? error : sink.close();
}

}  // namespace init_bicluster
