#include "rand_generator.h"

#include <algorithm>

namespace init_bicluster {

namespace {

// Words of state are combined as r[i] = r[i - 31] + r[i - 3] (mod 2^32) and
// each output is the new word without its lowest bit.
constexpr std::size_t k_separation = 3;

// The library throws away this many outputs after seeding.
constexpr int k_discarded = 310;

}  // namespace

rand_generator::rand_generator(uint32_t seed) {
  // The library treats seed 0 as 1, then fills the state with the
  // Park-Miller sequence r[i] = 16807 * r[i - 1] mod (2^31 - 1), computed in
  // 32-bit signed words by Schrage's method (so a seed above 2^31 - 1 starts
  // as a negative word, as in the library).
  if (seed == 0) seed = 1;
  std::array<uint32_t, k_degree> seeded;
  int32_t word = static_cast<int32_t>(seed);
  seeded[0] = seed;
  for (std::size_t i = 1; i < k_degree; ++i) {
    const int64_t high = word / 127773;
    const int64_t low = word % 127773;
    word = static_cast<int32_t>(16807 * low - 2836 * high);
    if (word < 0) word += 2147483647;
    seeded[i] = static_cast<uint32_t>(word);
  }
  // The library's first new word is r[3] + r[0]: its ring starts as if
  // r[0..2] had been repeated after r[30], so the oldest word is r[3]. The
  // state goes where the first refill takes it from, the end of the block.
  for (std::size_t i = 0; i < k_degree; ++i) {
    words_[k_block_size + i] = seeded[(i + k_separation) % k_degree];
  }
  for (int i = 0; i < k_discarded; ++i) next();
}

void rand_generator::refill() {
  // Keep the last k_degree words as the state, then extend it by a whole
  // block, r[i] for i from k_degree on. Each new word needs the
  // one three places back, so three running sums kept in registers carry the
  // recurrence instead of reloads of words just stored.
  static_assert(k_separation == 3 && k_block_size % 3 == 0);
  std::array<uint32_t, k_degree + k_block_size>& words = words_;
  std::copy(words.end() - k_degree, words.end(), words.begin());
  uint32_t first = words[k_degree - 3];
  uint32_t second = words[k_degree - 2];
  uint32_t third = words[k_degree - 1];
  for (std::size_t i = k_degree; i < words.size(); i += 3) {
    first += words[i - k_degree];
    second += words[i + 1 - k_degree];
    third += words[i + 2 - k_degree];
    words[i] = first;
    words[i + 1] = second;
    words[i + 2] = third;
  }
  position_ = 0;
}

}  // namespace init_bicluster
