// The kernels of the x86-64 vector paths, written once and compiled for both
// register widths: namespace lanes_256 for AVX2, lanes_512 for AVX-512. Each
// function carries its width's target (AVX2 with POPCNT; AVX-512 F, BW and
// VL with POPCNT): it may run only where selected_vector_path() is that
// path or a wider one, and it is inlined only into callers compiled for at
// least that target.
#ifndef INIT_BICLUSTER_X86_LANES_H_
#define INIT_BICLUSTER_X86_LANES_H_

#if defined(__x86_64__)

#include <immintrin.h>

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "free_draws.h"
#include "row_reducer.h"

#define INIT_BICLUSTER_LANES_WIDTH 256
#include "x86_lanes-inl.h"
#undef INIT_BICLUSTER_LANES_WIDTH

#define INIT_BICLUSTER_LANES_WIDTH 512
#include "x86_lanes-inl.h"
#undef INIT_BICLUSTER_LANES_WIDTH

#endif  // __x86_64__

#endif  // INIT_BICLUSTER_X86_LANES_H_
