// The init_bicluster library: check the arguments of a run and write its
// bicluster file from a program, with an explicit seed, to any sink.
//
//   init_bicluster::run_params params;  // fill in the counts
//   if (auto refusal = init_bicluster::check_run_params(params)) { ... }
//   init_bicluster::string_sink sink;   // or a sink of your own
//   int error = init_bicluster::write_biclusters(params, seed, sink);
//
// bicluster_set.h, included here, draws the same biclusters into memory and
// reads bicluster files back.
#ifndef INIT_BICLUSTER_INIT_BICLUSTER_H_
#define INIT_BICLUSTER_INIT_BICLUSTER_H_

#include <cstdint>

#include "bicluster_set.h"
#include "init_bicluster_version.h"
#include "output_sink.h"
#include "run_params.h"

namespace init_bicluster {

// The library's version as "MAJOR.MINOR.PATCH", the same as
// INIT_BICLUSTER_VERSION of the header it was built with.
const char* version();

// Writes the records for `params` to `sink` and then closes it, byte for byte
// as the tool does for a run seeded with `seed` (the draws of srand(seed)
// followed by rand() on Linux). Returns 0; ENOMEM when the memory the run
// needs cannot be had, before anything is written; or the errno value of the sink's first
// failed write or close, after which the sink is not called again. Requires
// params accepted by check_run_params; params.output_filename is not used.
int write_biclusters(const run_params& params, uint32_t seed, output_sink& sink);

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_INIT_BICLUSTER_H_
