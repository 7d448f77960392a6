#include "init_bicluster.h"

#include <cerrno>

#include "generator.h"

namespace init_bicluster {

const char* version() { return INIT_BICLUSTER_VERSION; }

int write_biclusters(const run_params& params, uint32_t seed, output_sink& sink) {
  bicluster_generator generator(params, seed);
  if (generator.prepare() != shortage::none) return ENOMEM;
  const int error = generator.write(sink);
  return error != 0 ? error : sink.close();
}

}  // namespace init_bicluster
