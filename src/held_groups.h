// Passing over draws that all hit rows the bicluster already holds, eight at
// a time, with vector instructions where the processor has them.
#ifndef INIT_BICLUSTER_HELD_GROUPS_H_
#define INIT_BICLUSTER_HELD_GROUPS_H_

#include <cstddef>
#include <cstdint>

#include "row_reducer.h"

namespace init_bicluster {

// Draws tested together.
constexpr std::size_t k_group_size = 8;

// Counts the groups of k_group_size values, from the first at `values` and at
// most `groups` of them, in which every value's row (value % divisor, by
// `to_row`) has its bit set in `bits` (row r at bit r % 64 of word r / 64);
// stops at the first group with a row whose bit is clear. The rows are
// computed and their words gathered eight at a time where the processor has
// AVX2. Requires `values` to hold `groups` groups of values below 2^31.
std::size_t count_held_groups(const uint32_t* values, std::size_t groups, const row_reducer& to_row,
                              const uint64_t* bits);

// The same for a table of stamps, where a row is held when its entry equals
// `stamp`, from rows already computed: a stamp table is small enough for the
// caches, and on it a plain inlined loop beats gathering.
template <typename entry>
std::size_t count_held_groups(const uint32_t* rows, std::size_t groups, const entry* stamps,
                              entry stamp) {
  for (std::size_t group = 0; group < groups; ++group) {
    entry differ = 0;
    for (std::size_t i = 0; i < k_group_size; ++i) {
      differ |= stamps[rows[group * k_group_size + i]] ^ stamp;
    }
    if (differ != 0) return group;
  }
  return groups;
}

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_HELD_GROUPS_H_
