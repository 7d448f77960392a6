#include "rand_generator.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace init_bicluster {
namespace {

// The C library's own generator is the reference: same seed, same values.
std::vector<uint32_t> library_values(uint32_t seed, int count) {
  std::srand(seed);
  std::vector<uint32_t> values;
  for (int i = 0; i < count; ++i) values.push_back(static_cast<uint32_t>(std::rand()));
  return values;
}

TEST(RandGenerator, MatchesTheLibraryForManySeeds) {
  std::vector<uint32_t> seeds = {0,           1,           2,           3,           7,
                                 99,          127773,      2147483646u, 2147483647u, 2147483648u,
                                 2147483649u, 4294967295u, 1765200000u};
  for (uint32_t seed = 1000; seed < 1200; ++seed) seeds.push_back(seed * 2654435761u);
  for (const uint32_t seed : seeds) {
    // Long enough to cross several refills of the block.
    const int count = 3 * static_cast<int>(rand_generator::k_block_size) + 17;
    const std::vector<uint32_t> expected = library_values(seed, count);
    rand_generator random(seed);
    for (int i = 0; i < count; ++i) {
      ASSERT_EQ(random.next(), expected[static_cast<std::size_t>(i)])
          << "seed " << seed << ", value " << i;
    }
  }
}

TEST(RandGenerator, PeekAndTakeFollowTheSameSequence) {
  const std::vector<uint32_t> expected = library_values(42, 2000);
  rand_generator random(42);
  std::size_t next = 0;
  for (std::size_t step = 1; next < expected.size(); step = step * 3 % 1000 + 1) {
    const std::span<const uint32_t> ahead = random.peek_words();
    ASSERT_FALSE(ahead.empty());
    const std::size_t count = std::min({step, ahead.size(), expected.size() - next});
    for (std::size_t i = 0; i < count; ++i) {
      ASSERT_EQ(rand_generator::value_of(ahead[i]), expected[next + i]);
    }
    random.take(count);
    next += count;
    if (next < expected.size()) {
      ASSERT_EQ(random.next(), expected[next++]);
    }
  }
}

}  // namespace
}  // namespace init_bicluster
