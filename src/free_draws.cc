#include "free_draws.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <array>
#include <bit>

#include "vector_path.h"

namespace init_bicluster {

namespace {

std::size_t list_plainly(const uint32_t* words, std::size_t first, std::size_t count,
                         const row_reducer& to_row, const uint64_t* bits, bit_of_row key_of,
                         uint32_t* positions) {
  std::size_t listed = 0;
  for (std::size_t i = first; i < count; ++i) {
    const uint32_t key = (to_row.of_word(words[i]) >> key_of.shift) & key_of.mask;
    positions[listed] = static_cast<uint32_t>(i);
    listed += ((bits[key >> 6] >> (key & 63)) & 1) == 0;
  }
  return listed;
}

#if defined(__x86_64__)

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
__attribute__((target("avx2,popcnt"))) std::size_t list_gathered(
    const uint32_t* words, std::size_t count, const row_reducer& to_row, const uint64_t* bits,
    bit_of_row key_of, uint32_t* positions) {
  const int* bit_words = reinterpret_cast<const int*>(bits);
  const __m256i divisor = _mm256_set1_epi32(static_cast<int>(to_row.divisor()));
  const __m256i multiplier = _mm256_set1_epi32(static_cast<int>(to_row.multiplier()));
  const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(to_row.shift()));
  const __m128i level = _mm_cvtsi32_si128(static_cast<int>(key_of.shift));
  const __m256i key_mask = _mm256_set1_epi32(static_cast<int>(key_of.mask));
  const __m256i low_five = _mm256_set1_epi32(31);
  std::size_t listed = 0;
  std::size_t first = 0;
  for (; first + 8 <= count; first += 8) {
    const __m256i loaded =
        _mm256_srli_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + first)), 1);
    const __m256i keys = _mm256_and_si256(
        _mm256_srl_epi32(rows_of(loaded, divisor, multiplier, shift), level), key_mask);
    const __m256i word = _mm256_i32gather_epi32(bit_words, _mm256_srli_epi32(keys, 5), 4);
    // Each row's bit to the sign bit, which movemask reads.
    const __m256i bit =
        _mm256_sllv_epi32(word, _mm256_sub_epi32(low_five, _mm256_and_si256(keys, low_five)));
    const unsigned free_lanes =
        ~static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(bit))) & 0xFF;
    const __m256i lanes =
        _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<long long>(k_packed_lanes[free_lanes])));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(positions + listed),
                        _mm256_add_epi32(lanes, _mm256_set1_epi32(static_cast<int>(first))));
    listed += static_cast<std::size_t>(std::popcount(free_lanes));
  }
  return listed + list_plainly(words, first, count, to_row, bits, key_of, positions + listed);
}

// GCC 12 takes the undefined upper lanes that its AVX-512 intrinsics start
// from for uninitialized values.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// With AVX-512: the same sixteen at a time, the free ones' positions packed
// by a compress instruction. A table of at most 1024 bits is held in two
// registers and looked up by a permutation instead of a gather.
template <bool in_registers>
__attribute__((target("avx512f,avx512bw,avx512vl,popcnt"))) std::size_t list_widest(
    const uint32_t* words, std::size_t count, const row_reducer& to_row, const uint64_t* bits,
    bit_of_row key_of, uint32_t* positions) {
  const int* bit_words = reinterpret_cast<const int*>(bits);
  const __m512i low_table = in_registers ? _mm512_loadu_si512(bits) : _mm512_setzero_si512();
  const __m512i high_table = in_registers ? _mm512_loadu_si512(bits + 8) : _mm512_setzero_si512();
  const __m512i key_mask = _mm512_set1_epi32(static_cast<int>(key_of.mask));
  const __m512i divisor = _mm512_set1_epi32(static_cast<int>(to_row.divisor()));
  const __m512i multiplier = _mm512_set1_epi32(static_cast<int>(to_row.multiplier()));
  const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(to_row.shift()));
  const __m128i level = _mm_cvtsi32_si128(static_cast<int>(key_of.shift));
  const __m512i low_five = _mm512_set1_epi32(31);
  const __m512i one = _mm512_set1_epi32(1);
  const __m512i lanes = _mm512_set_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
  std::size_t listed = 0;
  std::size_t first = 0;
  for (; first + 16 <= count; first += 16) {
    const __m512i loaded = _mm512_srli_epi32(_mm512_loadu_si512(words + first), 1);
    const __m512i even = _mm512_srl_epi64(_mm512_mul_epu32(loaded, multiplier), shift);
    const __m512i odd =
        _mm512_srl_epi64(_mm512_mul_epu32(_mm512_srli_epi64(loaded, 32), multiplier), shift);
    const __m512i quotient = _mm512_mask_blend_epi32(0xAAAA, even, _mm512_slli_epi64(odd, 32));
    const __m512i keys = _mm512_and_si512(
        _mm512_srl_epi32(_mm512_sub_epi32(loaded, _mm512_mullo_epi32(quotient, divisor)), level),
        key_mask);
    const __m512i index = _mm512_srli_epi32(keys, 5);
    const __m512i word = in_registers ? _mm512_permutex2var_epi32(low_table, index, high_table)
                                      : _mm512_i32gather_epi32(index, bit_words, 4);
    const __mmask16 free_lanes =
        _mm512_testn_epi32_mask(_mm512_srlv_epi32(word, _mm512_and_si512(keys, low_five)), one);
    _mm512_storeu_si512(
        positions + listed,
        _mm512_maskz_compress_epi32(
            free_lanes, _mm512_add_epi32(lanes, _mm512_set1_epi32(static_cast<int>(first)))));
    listed += static_cast<std::size_t>(std::popcount(static_cast<unsigned>(free_lanes)));
  }
  return listed + list_plainly(words, first, count, to_row, bits, key_of, positions + listed);
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif  // __x86_64__

}  // namespace

std::size_t list_free_draws(const uint32_t* words, std::size_t count, const row_reducer& to_row,
                            const uint64_t* bits, bit_of_row key_of, uint32_t* positions) {
#if defined(__x86_64__)
  switch (selected_vector_path()) {
    case vector_path::avx512:
      if (key_of.mask < k_bits_in_registers) {
        return list_widest<true>(words, count, to_row, bits, key_of, positions);
      }
      return list_widest<false>(words, count, to_row, bits, key_of, positions);
    case vector_path::avx2:
      return list_gathered(words, count, to_row, bits, key_of, positions);
    case vector_path::baseline:
      break;
  }
#endif
  return list_plainly(words, 0, count, to_row, bits, key_of, positions);
}

}  // namespace init_bicluster
