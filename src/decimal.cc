#include "decimal.h"

#include <bit>
#include <cstring>

#include "vector_path.h"
#include "x86_lanes.h"

namespace init_bicluster {

namespace {

char* append_members_plainly(char* out, const uint32_t* values, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) out = append_member(out, values[i]);
  return out;
}

#if defined(__x86_64__)

// One value: the digits `word` (characters, first lowest), `zero_bytes`
// telling which digits are zero (bit k for digit k).
__attribute__((target("bmi,bmi2"))) inline char* put_member(char* out, uint64_t word,
                                                            uint32_t zero_bytes) {
  // The leading zeros; the last digit always counts.
  const unsigned zeros = static_cast<unsigned>(std::countr_one((zero_bytes & 0x7F)));
  const uint64_t shifted = word >> (8 * zeros);
  std::memcpy(out, &shifted, 8);
  out[8 - zeros] = ' ';
  return out + 9 - zeros;
}

__attribute__((target("avx2,bmi,bmi2,popcnt"))) char* append_members_wide(char* out,
                                                                          const uint32_t* values,
                                                                          std::size_t count) {
  std::size_t i = 0;
  const __m256i largest = _mm256_set1_epi32(99999999);
  // x / 10^4 is (x * 0xD1B71759) >> 45 for every x below 10^8.
  const __m128i quotient_shift = _mm_cvtsi32_si128(45);
  for (; i + 8 <= count; i += 8) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(values + i));
    if (!_mm256_testc_si256(_mm256_cmpeq_epi32(_mm256_min_epu32(x, largest), x),
                            _mm256_set1_epi32(-1))) {
      out = append_members_plainly(out, values + i, 8);
      continue;
    }
    // The halves: x / 10^4 by multiplication, then x % 10^4.
    const __m256i high = lanes_256::quotients(x, lanes_256::set32(0xD1B71759u), quotient_shift);
    const __m256i low = _mm256_sub_epi32(x, _mm256_mullo_epi32(high, _mm256_set1_epi32(10000)));
    // Values 0, 1, 4, 5 in `first`, 2, 3, 6, 7 in `second`.
    const __m256i first = lanes_256::digit_values(_mm256_unpacklo_epi32(high, low));
    const __m256i second = lanes_256::digit_values(_mm256_unpackhi_epi32(high, low));
    const uint32_t first_zeros = static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(first, _mm256_setzero_si256())));
    const uint32_t second_zeros = static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(second, _mm256_setzero_si256())));
    alignas(32) uint64_t words[8];
    const __m256i zero_characters = _mm256_set1_epi8('0');
    _mm256_store_si256(reinterpret_cast<__m256i*>(words), _mm256_add_epi8(first, zero_characters));
    _mm256_store_si256(reinterpret_cast<__m256i*>(words + 4),
                       _mm256_add_epi8(second, zero_characters));
    out = put_member(out, words[0], first_zeros);
    out = put_member(out, words[1], first_zeros >> 8);
    out = put_member(out, words[4], second_zeros);
    out = put_member(out, words[5], second_zeros >> 8);
    out = put_member(out, words[2], first_zeros >> 16);
    out = put_member(out, words[3], first_zeros >> 24);
    out = put_member(out, words[6], second_zeros >> 16);
    out = put_member(out, words[7], second_zeros >> 24);
  }
  return append_members_plainly(out, values + i, count - i);
}

// Each byte k of the 16 of a lane taken from byte k of the number the lane
// holds (8 bytes a number), for the first four numbers, byte 8 for the space.
constexpr uint64_t k_first_four_bytes[8] = {
    0x0706050403020100u, 0x0000000000000000u, 0x0F0E0D0C0B0A0908u, 0x0000000000000000u,
    0x1716151413121110u, 0x0000000000000000u, 0x1F1E1D1C1B1A1918u, 0x0000000000000000u};

// With AVX-512: eight values a step, one a 64-bit lane. Each number's digits
// go with a space into a 16-byte lane, and the bytes to keep, the digits
// from the first that is not a leading zero and the space, are packed
// together by one compress instruction per four numbers.
__attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,bmi,bmi2,popcnt"))) char*
append_members_widest(char* out, const uint32_t* values, std::size_t count) {
  std::size_t i = 0;
  const __m256i largest = _mm256_set1_epi32(99999999);
  const __m512i first_four = _mm512_loadu_si512(k_first_four_bytes);
  const __m512i last_four = _mm512_add_epi8(first_four, _mm512_set1_epi8(32));
  const __m512i spaces = _mm512_set1_epi8(' ');
  constexpr __mmask64 k_space_bytes = 0x0100010001000100u;
  for (; i + 8 <= count; i += 8) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(values + i));
    if (_mm256_cmpgt_epu32_mask(x, largest) != 0) {
      out = append_members_plainly(out, values + i, 8);
      continue;
    }
    const __m512i wide = _mm512_cvtepu32_epi64(x);
    const __m512i high =
        _mm512_srli_epi64(_mm512_mul_epu32(wide, _mm512_set1_epi64(0xD1B71759u)), 45);
    const __m512i low = _mm512_sub_epi64(wide, _mm512_mul_epu32(high, _mm512_set1_epi64(10000)));
    const __m512i halves = _mm512_or_si512(high, _mm512_slli_epi64(low, 32));
    const __m512i digits = lanes_512::digit_values(halves);
    // The leading zeros of each number, its last digit left out: the low
    // run of set bits of its byte of the zero mask, which adding one a byte
    // finds for all eight at once without a carry between them.
    const uint64_t zeros =
        _mm512_cmpeq_epi8_mask(digits, _mm512_setzero_si512()) & 0x7F7F7F7F7F7F7F7Fu;
    const uint64_t keep = ~(zeros & ~(zeros + 0x0101010101010101u));
    const __m512i characters = _mm512_add_epi8(digits, _mm512_set1_epi8('0'));
    for (int half = 0; half < 2; ++half) {
      const __m512i spread = _mm512_mask_blend_epi8(
          k_space_bytes, _mm512_permutexvar_epi8(half == 0 ? first_four : last_four, characters),
          spaces);
      const __mmask64 kept = _pdep_u64(keep >> (32 * half), 0x00FF00FF00FF00FFu) | k_space_bytes;
      const unsigned length = static_cast<unsigned>(std::popcount(kept));
      _mm512_mask_storeu_epi8(out, _bzhi_u64(~uint64_t{0}, length),
                              _mm512_maskz_compress_epi8(kept, spread));
      out += length;
    }
  }
  return append_members_plainly(out, values + i, count - i);
}

#endif  // __x86_64__

}  // namespace

char* append_members(char* out, const uint32_t* values, std::size_t count) {
#if defined(__x86_64__)
  switch (selected_vector_path()) {
    case vector_path::avx512:
      return append_members_widest(out, values, count);
    case vector_path::avx2:
      return append_members_wide(out, values, count);
    case vector_path::baseline:
      break;
  }
#endif
  return append_members_plainly(out, values, count);
}

}  // namespace init_bicluster
