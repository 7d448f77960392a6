#include "vector_path.h"

namespace init_bicluster {

namespace {

vector_path detect() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  const bool has_avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                        __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
  if (!has_avx2) return vector_path::baseline;
  const bool has_avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                          __builtin_cpu_supports("avx512vl") &&
                          __builtin_cpu_supports("avx512vbmi") &&
                          __builtin_cpu_supports("avx512vbmi2");
  return has_avx512 ? vector_path::avx512 : vector_path::avx2;
#else
  return vector_path::baseline;
#endif
}

vector_path& selected() {
  static vector_path path = best_vector_path();
  return path;
}

}  // namespace

vector_path best_vector_path() {
  static const vector_path best = detect();
  return best;
}

vector_path selected_vector_path() { return selected(); }

bool select_vector_path(vector_path path) {
  if (static_cast<int>(path) > static_cast<int>(best_vector_path())) return false;
  selected() = path;
  return true;
}

}  // namespace init_bicluster
