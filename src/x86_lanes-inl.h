// Included by x86_lanes.h once for each register width, with
// INIT_BICLUSTER_LANES_WIDTH 256 or 512: first the few operations whose
// instructions differ between the widths, then the kernels, written once on
// top of them. Every value lane is 32 bits wide.

namespace init_bicluster {

#if INIT_BICLUSTER_LANES_WIDTH == 256

namespace lanes_256 {

#define INIT_BICLUSTER_LANES_TARGET __attribute__((target("avx2,popcnt")))

using vec = __m256i;

// One bit a lane, lane k in bit k.
using lane_mask = unsigned;

inline constexpr std::size_t k_lanes = 8;

INIT_BICLUSTER_LANES_TARGET inline vec load(const uint32_t* from) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from));
}
INIT_BICLUSTER_LANES_TARGET inline vec set32(uint32_t value) {
  return _mm256_set1_epi32(static_cast<int>(value));
}
INIT_BICLUSTER_LANES_TARGET inline vec set16(uint16_t value) {
  return _mm256_set1_epi16(static_cast<short>(value));
}
INIT_BICLUSTER_LANES_TARGET inline vec and_bits(vec a, vec b) { return _mm256_and_si256(a, b); }
INIT_BICLUSTER_LANES_TARGET inline vec or_bits(vec a, vec b) { return _mm256_or_si256(a, b); }
INIT_BICLUSTER_LANES_TARGET inline vec sub32(vec a, vec b) { return _mm256_sub_epi32(a, b); }
INIT_BICLUSTER_LANES_TARGET inline vec sub16(vec a, vec b) { return _mm256_sub_epi16(a, b); }
INIT_BICLUSTER_LANES_TARGET inline vec mullo32(vec a, vec b) { return _mm256_mullo_epi32(a, b); }
INIT_BICLUSTER_LANES_TARGET inline vec mullo16(vec a, vec b) { return _mm256_mullo_epi16(a, b); }
// The 64-bit products of the even 32-bit lanes.
INIT_BICLUSTER_LANES_TARGET inline vec multiply_even(vec a, vec b) {
  return _mm256_mul_epu32(a, b);
}
template <int count>
INIT_BICLUSTER_LANES_TARGET inline vec shift_right16(vec a) {
  return _mm256_srli_epi16(a, count);
}
template <int count>
INIT_BICLUSTER_LANES_TARGET inline vec shift_left16(vec a) {
  return _mm256_slli_epi16(a, count);
}
template <int count>
INIT_BICLUSTER_LANES_TARGET inline vec shift_right32(vec a) {
  return _mm256_srli_epi32(a, count);
}
template <int count>
INIT_BICLUSTER_LANES_TARGET inline vec shift_left32(vec a) {
  return _mm256_slli_epi32(a, count);
}
template <int count>
INIT_BICLUSTER_LANES_TARGET inline vec shift_right64(vec a) {
  return _mm256_srli_epi64(a, count);
}
template <int count>
INIT_BICLUSTER_LANES_TARGET inline vec shift_left64(vec a) {
  return _mm256_slli_epi64(a, count);
}
INIT_BICLUSTER_LANES_TARGET inline vec shift_right32_by(vec a, __m128i count) {
  return _mm256_srl_epi32(a, count);
}
INIT_BICLUSTER_LANES_TARGET inline vec shift_right64_by(vec a, __m128i count) {
  return _mm256_srl_epi64(a, count);
}
// The even 32-bit lanes of `even`, the odd ones of `odd`.
INIT_BICLUSTER_LANES_TARGET inline vec even_odd(vec even, vec odd) {
  return _mm256_blend_epi32(even, odd, 0xAA);
}

// Where a table's 32-bit words are: AVX2 always gathers them.
struct table_words {
  const int* words;
};
template <bool in_registers>
INIT_BICLUSTER_LANES_TARGET inline table_words load_table(const uint64_t* bits) {
  static_assert(!in_registers, "AVX2 holds no table in registers");
  return {reinterpret_cast<const int*>(bits)};
}
template <bool in_registers>
INIT_BICLUSTER_LANES_TARGET inline vec words_at(const table_words& table, vec index) {
  return _mm256_i32gather_epi32(table.words, index, 4);
}

// The lanes whose bit numbered `bit` (0 to 31) of `words` is clear: each
// bit shifted to the sign bit, which movemask reads.
INIT_BICLUSTER_LANES_TARGET inline lane_mask clear_bit_lanes(vec words, vec bit) {
  const vec sign = _mm256_sllv_epi32(words, sub32(set32(31), bit));
  return ~static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(sign))) & 0xFF;
}

// For each set of lanes (bit k for lane k), the lanes in increasing order, a
// byte each, which left-packs them.
inline constexpr std::array<uint64_t, 256> k_packed_lanes = [] {
  std::array<uint64_t, 256> packed{};
  for (unsigned lanes = 0; lanes < 256; ++lanes) {
    unsigned byte = 0;
    for (unsigned lane = 0; lane < 8; ++lane) {
      if ((lanes >> lane) & 1) packed[lanes] |= uint64_t{lane} << (8 * byte++);
    }
  }
  return packed;
}();

// Stores first + k for each lane k of `lanes`, in increasing order, at
// `out`; writes a whole register.
INIT_BICLUSTER_LANES_TARGET inline void store_positions(uint32_t* out, lane_mask lanes,
                                                        uint32_t first) {
  const vec packed =
      _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<long long>(k_packed_lanes[lanes])));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_add_epi32(packed, set32(first)));
}

#elif INIT_BICLUSTER_LANES_WIDTH == 512

namespace lanes_512 {

#define INIT_BICLUSTER_LANES_TARGET __attribute__((target("avx512f,avx512bw,avx512vl,popcnt")))

using vec = __m512i;

using lane_mask = __mmask16;

inline constexpr std::size_t k_lanes = 16;

INIT_BICLUSTER_LANES_TARGET inline vec load(const uint32_t* from) {
  return _mm512_loadu_si512(from);
}
INIT_BICLUSTER_LANES_TARGET inline vec set32(uint32_t value) {
  return _mm512_set1_epi32(static_cast<int>(value));
}
INIT_BICLUSTER_LANES_TARGET inline vec set16(uint16_t value) {
  return _mm512_set1_epi16(static_cast<short>(value));
}
INIT_BICLUSTER_LANES_TARGET inline vec and_bits(vec a, vec b) { return _mm512_and_si512(a, b); }
INIT_BICLUSTER_LANES_TARGET inline vec or_bits(vec a, vec b) { return _mm512_or_si512(a, b); }
INIT_BICLUSTER_LANES_TARGET inline vec sub32(vec a, vec b) { return _mm512_sub_epi32(a, b); }
INIT_BICLUSTER_LANES_TARGET inline vec sub16(vec a, vec b) { return _mm512_sub_epi16(a, b); }
INIT_BICLUSTER_LANES_TARGET inline vec mullo32(vec a, vec b) { return _mm512_mullo_epi32(a, b); }
INIT_BICLUSTER_LANES_TARGET inline vec mullo16(vec a, vec b) { return _mm512_mullo_epi16(a, b); }
INIT_BICLUSTER_LANES_TARGET inline vec multiply_even(vec a, vec b) {
  return _mm512_mul_epu32(a, b);
}
template <int count>
INIT_BICLUSTER_LANES_TARGET inline vec shift_right16(vec a) {
  return _mm512_srli_epi16(a, count);
}
template <int count>
INIT_BICLUSTER_LANES_TARGET inline vec shift_left16(vec a) {
  return _mm512_slli_epi16(a, count);
}
template <int count>
INIT_BICLUSTER_LANES_TARGET inline vec shift_right32(vec a) {
  return _mm512_srli_epi32(a, count);
}
template <int count>
INIT_BICLUSTER_LANES_TARGET inline vec shift_left32(vec a) {
  return _mm512_slli_epi32(a, count);
}
template <int count>
INIT_BICLUSTER_LANES_TARGET inline vec shift_right64(vec a) {
  return _mm512_srli_epi64(a, count);
}
template <int count>
INIT_BICLUSTER_LANES_TARGET inline vec shift_left64(vec a) {
  return _mm512_slli_epi64(a, count);
}
INIT_BICLUSTER_LANES_TARGET inline vec shift_right32_by(vec a, __m128i count) {
  return _mm512_srl_epi32(a, count);
}
INIT_BICLUSTER_LANES_TARGET inline vec shift_right64_by(vec a, __m128i count) {
  return _mm512_srl_epi64(a, count);
}
INIT_BICLUSTER_LANES_TARGET inline vec even_odd(vec even, vec odd) {
  return _mm512_mask_blend_epi32(0xAAAA, even, odd);
}

// A table of at most 1024 bits is held in two registers and looked up by a
// permutation instead of a gather.
struct table_words {
  const int* words;
  vec low;
  vec high;
};
template <bool in_registers>
INIT_BICLUSTER_LANES_TARGET inline table_words load_table(const uint64_t* bits) {
  if constexpr (in_registers) {
    return {nullptr, _mm512_loadu_si512(bits), _mm512_loadu_si512(bits + 8)};
  }
  return {reinterpret_cast<const int*>(bits), _mm512_setzero_si512(), _mm512_setzero_si512()};
}
template <bool in_registers>
INIT_BICLUSTER_LANES_TARGET inline vec words_at(const table_words& table, vec index) {
  if constexpr (in_registers) return _mm512_permutex2var_epi32(table.low, index, table.high);
  return _mm512_i32gather_epi32(index, table.words, 4);
}

INIT_BICLUSTER_LANES_TARGET inline lane_mask clear_bit_lanes(vec words, vec bit) {
  return _mm512_testn_epi32_mask(_mm512_srlv_epi32(words, bit), set32(1));
}

// The positions packed by a compress instruction.
INIT_BICLUSTER_LANES_TARGET inline void store_positions(uint32_t* out, lane_mask lanes,
                                                        uint32_t first) {
  const vec all = _mm512_add_epi32(
      _mm512_set_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0), set32(first));
  _mm512_storeu_si512(out, _mm512_maskz_compress_epi32(lanes, all));
}

#endif

// The eight digit values (0 to 9) of two numbers below 10^4 in each 64-bit
// lane, the first number in its low half, one a byte, first digit lowest, as
// eight_digit_values computes them: the quotient by 100 of a number below
// 10^4 is (n * 10486) >> 20, and by 10 of a number below 100 is
// (n * 103) >> 10.
INIT_BICLUSTER_LANES_TARGET inline vec digit_values(vec halves) {
  const vec hundreds = shift_right32<20>(mullo32(halves, set32(10486)));
  const vec pairs =
      or_bits(hundreds, shift_left32<16>(sub32(halves, mullo32(hundreds, set32(100)))));
  const vec tens = shift_right16<10>(mullo16(pairs, set16(103)));
  return or_bits(tens, shift_left16<8>(sub16(pairs, mullo16(tens, set16(10)))));
}

// (value * multiplier) >> shift for each lane, where the result fits in 32
// bits: even and odd lanes apart, since the multiplication widens to 64.
INIT_BICLUSTER_LANES_TARGET inline vec quotients(vec values, vec multiplier, __m128i shift) {
  const vec even = shift_right64_by(multiply_even(values, multiplier), shift);
  const vec odd = shift_right64_by(multiply_even(shift_right64<32>(values), multiplier), shift);
  return even_odd(even, shift_left64<32>(odd));
}

// The row of each value, below 2^31, as row_reducer computes it.
INIT_BICLUSTER_LANES_TARGET inline vec rows_of(vec values, vec divisor, vec multiplier,
                                               __m128i shift) {
  return sub32(values, mullo32(quotients(values, multiplier, shift), divisor));
}

// list_free_draws for the draws of whole registers, count / k_lanes of them:
// the rows computed a register at a time, their table words gathered (or
// permuted from registers), and the positions of the free ones stored
// together, whether there are none or all. Returns how many it listed.
// Requires what list_free_draws does, and key_of.mask below 1024 when
// in_registers. On a little-endian machine bit r of the 64-bit table words
// is bit r % 32 of 32-bit word r / 32.
template <bool in_registers>
INIT_BICLUSTER_LANES_TARGET inline std::size_t list_whole_registers(
    const uint32_t* words, std::size_t count, const row_reducer& to_row, const uint64_t* bits,
    bit_of_row key_of, uint32_t* positions) {
  const table_words table = load_table<in_registers>(bits);
  const vec divisor = set32(to_row.divisor());
  const vec multiplier = set32(to_row.multiplier());
  const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(to_row.shift()));
  const __m128i level = _mm_cvtsi32_si128(static_cast<int>(key_of.shift));
  const vec key_mask = set32(key_of.mask);
  const vec low_five = set32(31);
  std::size_t listed = 0;
  for (std::size_t first = 0; first + k_lanes <= count; first += k_lanes) {
    const vec values = shift_right32<1>(load(words + first));
    const vec keys =
        and_bits(shift_right32_by(rows_of(values, divisor, multiplier, shift), level), key_mask);
    const lane_mask free = clear_bit_lanes(words_at<in_registers>(table, shift_right32<5>(keys)),
                                           and_bits(keys, low_five));
    store_positions(positions + listed, free, static_cast<uint32_t>(first));
    listed += static_cast<std::size_t>(std::popcount(static_cast<unsigned>(free)));
  }
  return listed;
}

#undef INIT_BICLUSTER_LANES_TARGET

}  // namespace lanes_256 or lanes_512

}  // namespace init_bicluster
