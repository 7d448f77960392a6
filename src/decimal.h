// Fast decimal formatting of unsigned 32-bit numbers.
#ifndef INIT_BICLUSTER_DECIMAL_H_
#define INIT_BICLUSTER_DECIMAL_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace init_bicluster {

// Number of decimal digits of `value` (1 for 0).
inline int decimal_digits(uint32_t value) {
  static constexpr uint32_t k_powers[] = {1,      10,      100,      1000,      10000,
                                          100000, 1000000, 10000000, 100000000, 1000000000};
  // 1233 / 4096 is just above log10(2), so this is the digit count or one
  // fewer; 0 counts as 1, which has one digit too.
  value |= 1;
  const int guess = (std::bit_width(value) * 1233) >> 12;
  return guess + (value >= k_powers[guess]);
}

namespace decimal_detail {

inline constexpr char k_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline uint64_t pair(uint32_t value) {
  uint16_t digits;
  std::memcpy(&digits, k_pairs + 2 * value, 2);
  return digits;
}

// The eight digits of `value`, below 10^8, with leading zeros, as the bytes of
// a little-endian word (first digit lowest). The four pairs do not depend on
// one another, unlike a chain of divisions by 100, and the word stays in a
// register rather than being assembled in memory.
inline uint64_t eight_digits(uint32_t value) {
  const uint32_t high = value / 10000;
  const uint32_t low = value % 10000;
  return pair(high / 100) | pair(high % 100) << 16 | pair(low / 100) << 32 | pair(low % 100) << 48;
}

}  // namespace decimal_detail

// Most bytes that append_decimal may store at `out`, though it counts only the
// digits as written.
constexpr std::size_t k_decimal_room = 11;

// Writes `value` in decimal at `out`, without fill, as printf's "%u" does, and
// returns the end of the digits. Requires room for k_decimal_room bytes; the
// bytes after the digits may be overwritten with junk.
inline char* append_decimal(char* out, uint32_t value) {
  static_assert(std::endian::native == std::endian::little);
  const int digits = decimal_digits(value);
  if (digits > 8) {
    const uint32_t top = value / 100000000;
    const uint64_t rest = decimal_detail::eight_digits(value % 100000000);
    if (top >= 10) {
      std::memcpy(out, decimal_detail::k_pairs + 2 * top, 2);
    } else {
      *out = static_cast<char>('0' + top);
    }
    std::memcpy(out + digits - 8, &rest, 8);
    return out + digits;
  }
  // Drop the leading zeros; the bytes shifted in past the digits are junk.
  const uint64_t word = decimal_detail::eight_digits(value) >> (8 * (8 - digits));
  std::memcpy(out, &word, 8);
  return out + digits;
}

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_DECIMAL_H_
