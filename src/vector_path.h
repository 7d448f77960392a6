// Which vector instructions the hot loops use: chosen at run time for the
// processor, and settable so that tests can run every path on one machine.
#ifndef INIT_BICLUSTER_VECTOR_PATH_H_
#define INIT_BICLUSTER_VECTOR_PATH_H_

namespace init_bicluster {

// The instruction sets with code paths of their own, each including the one
// before: the baseline, portable code that every processor runs (on x86-64,
// its baseline instructions); on x86-64 also AVX2 together with BMI1, BMI2
// and POPCNT, which every processor with AVX2 has, and AVX-512 with its byte
// and word instructions and both byte-permutation extensions (VBMI, VBMI2).
// Every path computes the same values in the same order; only the speed
// differs.
enum class vector_path { baseline, avx2, avx512 };

// Every path this build has, narrowest first, for tests to run each the
// processor has.
#if defined(__x86_64__)
inline constexpr vector_path k_vector_paths[] = {vector_path::baseline, vector_path::avx2,
                                                 vector_path::avx512};
#else
inline constexpr vector_path k_vector_paths[] = {vector_path::baseline};
#endif

// The widest path this processor runs.
vector_path best_vector_path();

// The path in use: best_vector_path() unless select_vector_path chose
// another.
vector_path selected_vector_path();

// Makes later work use `path`. Returns false, changing nothing, when the
// processor cannot run it. Not for use while another thread draws.
bool select_vector_path(vector_path path);

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_VECTOR_PATH_H_
