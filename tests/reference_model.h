// The straightforward way to write a bicluster file: one formatted print per
// number and the C library's rand() per draw. Slow, but plainly right, so the
// fast path can be compared with it.
#ifndef INIT_BICLUSTER_TESTS_REFERENCE_MODEL_H_
#define INIT_BICLUSTER_TESTS_REFERENCE_MODEL_H_

#include <cstdint>
#include <cstdio>

#include "run_params.h"

namespace init_bicluster {

// Seeds the C library's generator with `seed` and writes the records for
// `params` to `out`, with a table of four bytes a row filled with -1 up front.
// Returns the number of values drawn, or -1 when the table cannot be had.
// Requires params accepted by check_run_params.
int64_t write_reference_file(const run_params& params, uint32_t seed, std::FILE* out);

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_TESTS_REFERENCE_MODEL_H_
