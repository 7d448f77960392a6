// Finding, among many draws, the few whose rows the bicluster does not hold
// yet: once it holds most rows, nearly every draw is passed over, and
// testing them in bulk, without a branch per draw, costs far less than
// testing them one by one.
#ifndef INIT_BICLUSTER_FREE_DRAWS_H_
#define INIT_BICLUSTER_FREE_DRAWS_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "row_reducer.h"

namespace init_bicluster {

// The room that `positions` needs beyond one entry per draw: the vector
// instructions store the positions of a whole group of draws at once.
constexpr std::size_t k_positions_slack = 16;

// Which bit of a table stands for a row: bit k = (row >> shift) & mask,
// bit k % 64 of word k / 64. {0, ~0u} is a bit a row; {6, ~0u} a bit a
// 64-row word; {0, 1023} 1024 bits that each stand for every row with those
// low bits.
struct bit_of_row {
  unsigned shift;
  uint32_t mask;
};

// Tables of fewer bits than this, looked up in registers where the
// processor has AVX-512, cost no memory access.
constexpr uint32_t k_bits_in_registers = 1024;

// Lists in `positions`, in increasing order, every i below `count` for which
// the row of the generator's words[i] (to_row.of_word) has its bit, by
// `key_of`, clear in `bits`. Returns how many it listed. Where the processor
// has AVX2, the rows are computed eight (with AVX-512 sixteen) at a time and
// their words gathered in one instruction. Requires key_of.shift below 32,
// at least 1024 bits at `bits` when key_of.mask is below 1024, and room for
// count + k_positions_slack entries at `positions`.
std::size_t list_free_draws(const uint32_t* words, std::size_t count, const row_reducer& to_row,
                            const uint64_t* bits, bit_of_row key_of, uint32_t* positions);

// Rows of stamps tested together, passed over after one test when all are
// held.
constexpr std::size_t k_stamp_group_size = 8;

// The same for a table of stamps, where a row is held when its entry equals
// `stamp`, from rows already computed: a stamp table is small enough for the
// caches, and on it a plain inlined loop beats gathering (measured with
// AVX2 and AVX-512 alike). Requires room for `count` entries at
// `positions`.
template <typename entry>
std::size_t list_free_draws(const uint32_t* rows, std::size_t count, const entry* stamps,
                            entry stamp, uint32_t* positions) {
  std::size_t listed = 0;
  std::size_t first = 0;
  // Groups of held rows, the most, cost one test a group.
  for (; first + k_stamp_group_size <= count; first += k_stamp_group_size) {
    entry differ = 0;
    for (std::size_t i = first; i < first + k_stamp_group_size; ++i) {
      differ |= stamps[rows[i]] ^ stamp;
    }
    if (differ == 0) continue;
    for (std::size_t i = first; i < first + k_stamp_group_size; ++i) {
      positions[listed] = static_cast<uint32_t>(i);
      listed += stamps[rows[i]] != stamp;
    }
  }
  for (std::size_t i = first; i < count; ++i) {
    positions[listed] = static_cast<uint32_t>(i);
    listed += stamps[rows[i]] != stamp;
  }
  return listed;
}

// The last few free rows of a bicluster as 1024 bits, clear where the low
// ten bits of a free row point: the widest vector path holds them in
// registers, so a draw costs no memory access. A row taken since stays
// clear, which only lets more draws through to the exact test; so the
// filter keeps its rows and is made again from those still free each time
// their number halves.
class free_row_filter {
 public:
  // Most free rows worth a filter.
  static constexpr int64_t k_most_rows = 128;

  // Whether the filter is in use, from `start` to `stop`.
  bool active() const { return active_; }

  // Puts the filter in use, holding no free row yet.
  void start() {
    std::fill(std::begin(bits_), std::end(bits_), ~uint64_t{0});
    count_ = 0;
    made_for_ = 0;
    active_ = true;
  }

  void stop() { active_ = false; }

  // Adds `row` to the free rows. Past k_most_rows of them the filter puts
  // itself out of use, since it cannot keep them.
  void add_free_row(uint32_t row) {
    if (count_ == k_most_rows) {
      active_ = false;
      return;
    }
    rows_[count_++] = row;
    const uint32_t key = row & (k_bits - 1);
    bits_[key / 64] &= ~(uint64_t{1} << (key % 64));
  }

  // Called with the number of rows still free: once it is half what the
  // filter was made for, makes it again from the rows for which
  // `still_free` holds.
  template <typename predicate>
  void refresh(int64_t free_rows, predicate still_free) {
    if (made_for_ == 0) made_for_ = static_cast<int64_t>(count_);
    if (free_rows * 2 > made_for_) return;
    const std::size_t kept = count_;
    std::fill(std::begin(bits_), std::end(bits_), ~uint64_t{0});
    count_ = 0;
    for (std::size_t i = 0; i < kept; ++i) {
      if (still_free(rows_[i])) add_free_row(rows_[i]);
    }
    made_for_ = static_cast<int64_t>(count_);
  }

  // list_free_draws for the rows the filter may let through.
  std::size_t list(const uint32_t* words, std::size_t count, const row_reducer& to_row,
                   uint32_t* positions) const {
    return list_free_draws(words, count, to_row, bits_, {0, k_bits - 1}, positions);
  }

 private:
  static constexpr uint32_t k_bits = k_bits_in_registers;
  uint64_t bits_[k_bits / 64] = {};
  uint32_t rows_[k_most_rows] = {};
  std::size_t count_ = 0;
  int64_t made_for_ = 0;
  bool active_ = false;
};

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_FREE_DRAWS_H_
