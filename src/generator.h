// Drawing random biclusters and writing their records.
#ifndef INIT_BICLUSTER_GENERATOR_H_
#define INIT_BICLUSTER_GENERATOR_H_

#include "output_sink.h"
#include "rand_generator.h"
#include "row_stamp.h"
#include "run_params.h"

namespace init_bicluster {

// Writes `params.num_biclusters` records (none when it is 0 or less) to `sink`.
// For each bicluster in turn it takes one value from `random` for the size,
// min_rows plus the value modulo (max_rows - min_rows + 1), counting the fixed
// row when there is one, then one value per attempt at a free row (the value
// modulo num_rows), discarding rows the bicluster already holds. Stops at the
// sink's first failure. Returns 0, or the errno value of that failure.
// Requires params accepted by check_run_params and `table` allocated for
// params.num_rows rows and params.num_biclusters biclusters, untouched by any
// other run.
int generate_biclusters(const run_params& params, row_stamp& table, rand_generator& random,
                        output_sink& sink);

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_GENERATOR_H_
