// Turning random values into row indices: the remainder of a division by the
// number of rows, computed by multiplication.
#ifndef INIT_BICLUSTER_ROW_REDUCER_H_
#define INIT_BICLUSTER_ROW_REDUCER_H_

#include <bit>
#include <cstddef>
#include <cstdint>

namespace init_bicluster {

// value % divisor for every value below 2^31, exactly, without a division:
// the quotient is (value * m) >> (31 + l), with l = ceil(log2(divisor)) and
// m = floor(2^(31 + l) / divisor) + 1, a 32-bit multiplier (the method of
// Granlund and Montgomery). One 32 by 32 bit multiplication, a shift, a
// multiplication and a subtraction, which vector units do eight at a time.
class row_reducer {
 public:
  // Requires `divisor` from 1 to 2^31 - 1; 0 is taken as 1.
  explicit row_reducer(uint32_t divisor)
      : divisor_(divisor == 0 ? 1 : divisor),
        shift_(31 + static_cast<uint32_t>(std::bit_width(divisor_ - 1))),
        multiplier_(static_cast<uint32_t>((uint64_t{1} << shift_) / divisor_ + 1)) {}

  // value % divisor. Requires `value` below 2^31.
  uint32_t operator()(uint32_t value) const {
    const uint32_t quotient = static_cast<uint32_t>((uint64_t{value} * multiplier_) >> shift_);
    return value - quotient * divisor_;
  }

  uint32_t divisor() const { return divisor_; }
  uint32_t multiplier() const { return multiplier_; }
  uint32_t shift() const { return shift_; }

  // The row of a word of the random generator, whose value is the word
  // shifted right by one: (word >> 1) % divisor.
  uint32_t of_word(uint32_t word) const { return (*this)(word >> 1); }

  // rows[i] = of_word(words[i]) for i below `count`.
  void reduce_words(const uint32_t* words, uint32_t* rows, std::size_t count) const {
    for (std::size_t i = 0; i < count; ++i) rows[i] = of_word(words[i]);
  }

 private:
  uint32_t divisor_;
  uint32_t shift_;
  uint32_t multiplier_;
};

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_ROW_REDUCER_H_
