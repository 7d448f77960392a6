#include "rand_generator.h"

#include <algorithm>
#include <cstring>

#include "vector_path.h"

namespace init_bicluster {

namespace {

// Words of state are combined as r[i] = r[i - 31] + r[i - 3] (mod 2^32) and
// each output is the new word without its lowest bit.
constexpr std::size_t k_separation = 3;
constexpr std::size_t k_degree = 31;

// The library throws away this many outputs after seeding.
constexpr int k_discarded = 310;

// Vectors never cross a call here (every helper is inlined), so how the
// processor's calling convention would pass them does not matter.
#pragma GCC diagnostic ignored "-Wpsabi"

constexpr std::size_t k_lanes = 8;
typedef uint32_t lanes __attribute__((vector_size(k_lanes * sizeof(uint32_t))));

[[gnu::always_inline]] inline lanes load(const uint32_t* words) {
  lanes vector;
  std::memcpy(&vector, words, sizeof vector);
  return vector;
}

[[gnu::always_inline]] inline void store(uint32_t* words, lanes vector) {
  std::memcpy(words, &vector, sizeof vector);
}

// Lanes `first` to `first` + 7 of the sixteen of `older` followed by `newer`.
template <int first>
[[gnu::always_inline]] inline lanes window(lanes older, lanes newer) {
  return __builtin_shufflevector(older, newer, first, first + 1, first + 2, first + 3, first + 4,
                                 first + 5, first + 6, first + 7);
}

// Extends the sequence by a block, eight words at a time. Unrolling
// r[i] = r[i - 3] + r[i - 31] twice gives
// r[i] = r[i - 9] + r[i - 31] + r[i - 34] + r[i - 37], whose terms all lie at
// least nine back, so eight consecutive words depend only on earlier vectors.
// The last five vectors stay in registers, and each term is a window across
// two of them: the words just computed are never read back from memory.
// `words` holds `history` words before the block; requires history == 40,
// five vectors, of which the last 37 words are set.
template <std::size_t history, std::size_t block_size>
[[gnu::always_inline]] inline void extend_by_vectors(uint32_t* words, uint32_t* block) {
  static_assert(history == 5 * k_lanes && block_size % k_lanes == 0);
  lanes back5 = load(words), back4 = load(words + 8), back3 = load(words + 16);
  lanes back2 = load(words + 24), back1 = load(words + 32);
  for (std::size_t at = 0; at < block_size; at += k_lanes) {
    // The term nine back, the only one that needs the vector just made,
    // comes last, so that one shuffle and one addition stand between two
    // vectors.
    const lanes older_terms =
        window<1>(back4, back3) + window<6>(back5, back4) + window<3>(back5, back4);
    const lanes fresh = older_terms + window<7>(back2, back1);
    store(words + history + at, fresh);
    store(block + at, fresh >> 1);
    back5 = back4;
    back4 = back3;
    back3 = back2;
    back2 = back1;
    back1 = fresh;
  }
}

}  // namespace

// The same vector loop for AVX2 and AVX-512; the compiler widens the
// operations to what the target offers.
#define INIT_BICLUSTER_EXTEND(name, target_attribute)                                         \
  target_attribute void name(uint32_t* words, uint32_t* block) {                              \
    extend_by_vectors<rand_generator::k_history, rand_generator::k_block_size>(words, block); \
  }
INIT_BICLUSTER_EXTEND(rand_generator::extend_avx2, __attribute__((target("avx2"))))
INIT_BICLUSTER_EXTEND(rand_generator::extend_avx512,
                      __attribute__((target("avx2,avx512f,avx512vl"))))
#undef INIT_BICLUSTER_EXTEND

// Without wide vectors, and for the first block after seeding, when only 31
// words of history are set: the plain recurrence. Each new word needs the one
// three places back, so three running sums kept in registers carry it.
void rand_generator::extend_baseline(uint32_t* words, uint32_t* block) {
  static_assert(k_separation == 3 && k_block_size % 3 == 0);
  uint32_t first = words[k_history - 3];
  uint32_t second = words[k_history - 2];
  uint32_t third = words[k_history - 1];
  for (std::size_t i = k_history; i < k_history + k_block_size; i += 3) {
    first += words[i - k_degree];
    second += words[i + 1 - k_degree];
    third += words[i + 2 - k_degree];
    words[i] = first;
    words[i + 1] = second;
    words[i + 2] = third;
    block[i - k_history] = first >> 1;
    block[i + 1 - k_history] = second >> 1;
    block[i + 2 - k_history] = third >> 1;
  }
}

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
  // r[0..2] had been repeated after r[30], so the oldest word is r[3].
  for (std::size_t i = 0; i < k_degree; ++i) {
    words_[k_history - k_degree + i] = seeded[(i + k_separation) % k_degree];
  }
  switch (selected_vector_path()) {
    case vector_path::avx512:
      extend_ = extend_avx512;
      break;
    case vector_path::avx2:
      extend_ = extend_avx2;
      break;
    default:
      extend_ = extend_baseline;
      break;
  }
  for (int i = 0; i < k_discarded; ++i) next();
}

void rand_generator::refill() {
  (seeded_only_ ? extend_baseline : extend_)(words_.data(), block_.data());
  seeded_only_ = false;
  std::copy(words_.end() - k_history, words_.end(), words_.begin());
  position_ = 0;
}

}  // namespace init_bicluster
