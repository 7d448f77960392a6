#include "held_groups.h"

#include <immintrin.h>

#include "vector_path.h"

namespace init_bicluster {

namespace {

std::size_t count_plainly(const uint32_t* values, std::size_t groups, const row_reducer& to_row,
                          const uint64_t* bits) {
  for (std::size_t group = 0; group < groups; ++group) {
    uint64_t all = 1;
    for (std::size_t i = 0; i < k_group_size; ++i) {
      const uint32_t row = to_row(values[group * k_group_size + i]);
      all &= bits[row >> 6] >> (row & 63);
    }
    if ((all & 1) == 0) return group;
  }
  return groups;
}

// The eight rows of eight values: the quotient by multiplication, even and
// odd lanes apart since the multiplication widens to 64 bits, then the
// remainder.
__attribute__((target("avx2"))) inline __m256i rows_of(__m256i values, __m256i divisor,
                                                       __m256i multiplier, __m128i shift) {
  const __m256i even = _mm256_srl_epi64(_mm256_mul_epu32(values, multiplier), shift);
  const __m256i odd =
      _mm256_srl_epi64(_mm256_mul_epu32(_mm256_srli_epi64(values, 32), multiplier), shift);
  const __m256i quotient = _mm256_blend_epi32(even, _mm256_slli_epi64(odd, 32), 0xAA);
  return _mm256_sub_epi32(values, _mm256_mullo_epi32(quotient, divisor));
}

// With AVX2: the rows are computed eight
// at a time and their words gathered in one instruction. On a little-endian
// machine bit r of the 64-bit words is bit r % 32 of 32-bit word r / 32.
__attribute__((target("avx2"))) std::size_t count_gathered(const uint32_t* values,
                                                           std::size_t groups,
                                                           const row_reducer& to_row,
                                                           const uint64_t* bits) {
  const int* words = reinterpret_cast<const int*>(bits);
  const __m256i divisor = _mm256_set1_epi32(static_cast<int>(to_row.divisor()));
  const __m256i multiplier = _mm256_set1_epi32(static_cast<int>(to_row.multiplier()));
  const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(to_row.shift()));
  const __m256i low_five = _mm256_set1_epi32(31);
  for (std::size_t group = 0; group < groups; ++group) {
    const __m256i loaded =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(values + group * k_group_size));
    const __m256i rows = rows_of(loaded, divisor, multiplier, shift);
    const __m256i word = _mm256_i32gather_epi32(words, _mm256_srli_epi32(rows, 5), 4);
    // Each row's bit to the sign bit, which movemask reads.
    const __m256i bit =
        _mm256_sllv_epi32(word, _mm256_sub_epi32(low_five, _mm256_and_si256(rows, low_five)));
    if (_mm256_movemask_ps(_mm256_castsi256_ps(bit)) != 0xFF) return group;
  }
  return groups;
}

}  // namespace

std::size_t count_held_groups(const uint32_t* values, std::size_t groups, const row_reducer& to_row,
                              const uint64_t* bits) {
  if (selected_vector_path() != vector_path::baseline) {
    return count_gathered(values, groups, to_row, bits);
  }
  return count_plainly(values, groups, to_row, bits);
}

}  // namespace init_bicluster
