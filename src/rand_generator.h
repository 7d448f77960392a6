// The pseudo-random sequence of the C library's srand and rand on Linux.
#ifndef INIT_BICLUSTER_RAND_GENERATOR_H_
#define INIT_BICLUSTER_RAND_GENERATOR_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace init_bicluster {

// Yields, for a seed S, exactly the values that glibc's `srand(S)` followed by
// calls to `rand()` yields (its additive feedback generator with 31 words of
// state), without a lock and a block at a time. Every value lies in 0 to
// 2^31 - 1. Copyable; each copy continues the sequence on its own. It holds
// its working space (about 3 KiB) itself, so that drawing needs no stack
// beyond a few words.
class rand_generator {
 public:
  // Number of values produced per refill of the block (a multiple of 3).
  static constexpr std::size_t k_block_size = 768;

  // Starts the sequence of `srand(seed)`.
  explicit rand_generator(uint32_t seed);

  // Returns the next value of the sequence.
  uint32_t next() {
    if (position_ == k_block_size) refill();
    return value_of(words_[k_degree + position_++]);
  }

  // Returns the words behind the values not yet taken from the current
  // block, refilling it first when it is used up; never empty. A value is
  // value_of its word: handing out the words spares the generator a second
  // store of each, and its readers shift them as they load them. They stay
  // untaken until `take` is called, so a caller can look ahead at them.
  std::span<const uint32_t> peek_words() {
    if (position_ == k_block_size) refill();
    return {words_.data() + k_degree + position_, k_block_size - position_};
  }

  // The value of a word of peek_words().
  static uint32_t value_of(uint32_t word) { return word >> 1; }

  // Marks the first `count` values of the last `peek_words` as taken. Requires
  // `count` to be at most the size of that span.
  void take(std::size_t count) { position_ += count; }

 private:
  static constexpr std::size_t k_degree = 31;

  void refill();

  // The state extended by a block: the first k_degree words are the last of
  // the state, oldest first; a refill moves the last k_degree words of the
  // block there and computes the block from them.
  std::array<uint32_t, k_degree + k_block_size> words_{};
  std::size_t position_ = k_block_size;
};

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_RAND_GENERATOR_H_
