// Fast decimal formatting of unsigned 32-bit numbers.
#ifndef INIT_BICLUSTER_DECIMAL_H_
#define INIT_BICLUSTER_DECIMAL_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace init_bicluster {

namespace decimal_detail {

// The eight digit values (0 to 9) of `value`, below 10^8, one a byte, first
// digit lowest, with no table and no division: the halves of four digits are
// split in one 64-bit word, then each into pairs, then each pair into digits,
// every lane at once (a quotient by 100 of a number below 10^4 is
// (n * 10486) >> 20, and by 10 of a number below 100 is (n * 103) >> 10).
inline uint64_t eight_digit_values(uint32_t value) {
  const uint64_t halves = uint64_t{value / 10000} | uint64_t{value % 10000} << 32;
  const uint64_t hundreds = ((halves * 10486) >> 20) & 0x0000007F0000007Fu;
  const uint64_t pairs = hundreds | (halves - hundreds * 100) << 16;
  const uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000Fu;
  return tens | (pairs - tens * 10) << 8;
}

// Added to digit values, gives their characters.
constexpr uint64_t k_zero_characters = 0x3030303030303030u;

// Stores the eight bytes of `word` at `out`, its lowest byte first, on
// processors of either byte order.
inline void store_low_byte_first(char* out, uint64_t word) {
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  std::memcpy(out, &word, 8);
}

}  // namespace decimal_detail

// Most bytes that append_decimal may store at `out`, though it counts only the
// digits as written.
constexpr std::size_t k_decimal_room = 11;

// Writes `value` in decimal at `out`, without fill, as printf's "%u" does, and
// returns the end of the digits. Requires room for k_decimal_room bytes; the
// bytes after the digits may be overwritten with junk.
inline char* append_decimal(char* out, uint32_t value) {
  if (value < 100000000) {
    // The leading zeros are the low zero bytes of the digit values; the last
    // digit always counts. The bytes shifted in past the digits are junk.
    const uint64_t values = decimal_detail::eight_digit_values(value);
    const int zeros = std::countr_zero(values | uint64_t{1} << 56) >> 3;
    decimal_detail::store_low_byte_first(
        out, (values + decimal_detail::k_zero_characters) >> (8 * zeros));
    return out + 8 - zeros;
  }
  // Nine or ten digits: the one or two above the last eight, from 1 to 42.
  const uint32_t top = value / 100000000;
  if (top >= 10) *out++ = static_cast<char>('0' + top / 10);
  *out++ = static_cast<char>('0' + top % 10);
  decimal_detail::store_low_byte_first(out, decimal_detail::eight_digit_values(value % 100000000) +
                                                decimal_detail::k_zero_characters);
  return out + 8;
}

// Most bytes that append_member and append_members may store for each
// value.
constexpr std::size_t k_member_room = k_decimal_room + 1;

// Writes `value` in decimal and one space at `out`, and returns the end of
// what it wrote. Requires room for k_member_room bytes; the bytes after the
// end may be overwritten with junk.
inline char* append_member(char* out, uint32_t value) {
  out = append_decimal(out, value);
  *out = ' ';
  return out + 1;
}

// Writes each of the `count` values at `values` in decimal, followed by one
// space, at `out`, and returns the end of what it wrote. Where the processor
// has AVX2 (x86-64), the digits of eight values below 10^8 are computed at once.
// Requires room for k_member_room bytes a value; the bytes after the end may
// be overwritten with junk.
char* append_members(char* out, const uint32_t* values, std::size_t count);

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_DECIMAL_H_
