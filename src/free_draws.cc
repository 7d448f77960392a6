#include "free_draws.h"

#include <immintrin.h>

#include <array>
#include <bit>

#include "vector_path.h"

namespace init_bicluster {

namespace {

std::size_t list_plainly(const uint32_t* values, std::size_t first, std::size_t count,
                         const row_reducer& to_row, const uint64_t* bits, uint32_t* positions) {
  std::size_t listed = 0;
  for (std::size_t i = first; i < count; ++i) {
    const uint32_t row = to_row(values[i]);
    positions[listed] = static_cast<uint32_t>(i);
    listed += ((bits[row >> 6] >> (row & 63)) & 1) == 0;
  }
  return listed;
}

// For each set of lanes of a group (bit k for lane k), the lanes in
// increasing order, a byte each, which left-packs their positions.
constexpr std::array<uint64_t, 256> k_packed_lanes = [] {
  std::array<uint64_t, 256> packed{};
  for (unsigned lanes = 0; lanes < 256; ++lanes) {
    unsigned byte = 0;
    for (unsigned lane = 0; lane < 8; ++lane) {
      if ((lanes >> lane) & 1) packed[lanes] |= uint64_t{lane} << (8 * byte++);
    }
  }
  return packed;
}();

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

// With AVX2: the rows are computed eight at a time, their words gathered in
// one instruction, and the positions of the free ones stored together,
// whether there are none or eight. On a little-endian machine bit r of the
// 64-bit words is bit r % 32 of 32-bit word r / 32.
__attribute__((target("avx2,popcnt"))) std::size_t list_gathered(const uint32_t* values,
                                                                 std::size_t count,
                                                                 const row_reducer& to_row,
                                                                 const uint64_t* bits,
                                                                 uint32_t* positions) {
  const int* words = reinterpret_cast<const int*>(bits);
  const __m256i divisor = _mm256_set1_epi32(static_cast<int>(to_row.divisor()));
  const __m256i multiplier = _mm256_set1_epi32(static_cast<int>(to_row.multiplier()));
  const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(to_row.shift()));
  const __m256i low_five = _mm256_set1_epi32(31);
  std::size_t listed = 0;
  std::size_t first = 0;
  for (; first + k_group_size <= count; first += k_group_size) {
    const __m256i loaded = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(values + first));
    const __m256i rows = rows_of(loaded, divisor, multiplier, shift);
    const __m256i word = _mm256_i32gather_epi32(words, _mm256_srli_epi32(rows, 5), 4);
    // Each row's bit to the sign bit, which movemask reads.
    const __m256i bit =
        _mm256_sllv_epi32(word, _mm256_sub_epi32(low_five, _mm256_and_si256(rows, low_five)));
    const unsigned free_lanes =
        ~static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(bit))) & 0xFF;
    const __m256i lanes =
        _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<long long>(k_packed_lanes[free_lanes])));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(positions + listed),
                        _mm256_add_epi32(lanes, _mm256_set1_epi32(static_cast<int>(first))));
    listed += static_cast<std::size_t>(std::popcount(free_lanes));
  }
  return listed + list_plainly(values, first, count, to_row, bits, positions + listed);
}

}  // namespace

std::size_t list_free_draws(const uint32_t* values, std::size_t count, const row_reducer& to_row,
                            const uint64_t* bits, uint32_t* positions) {
  if (selected_vector_path() != vector_path::baseline) {
    return list_gathered(values, count, to_row, bits, positions);
  }
  return list_plainly(values, 0, count, to_row, bits, positions);
}

}  // namespace init_bicluster
