#include "row_collector.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "row_stamp.h"

namespace init_bicluster {

namespace {

// Room for this many rows is taken first; a larger bicluster makes more.
constexpr std::size_t k_first_room = std::size_t{1} << 16;

// The most free rows a bicluster of `params` can hold: its greatest size,
// less the fixed row.
std::size_t most_free_rows(const run_params& params) {
  const int64_t most = int64_t{params.max_rows} - (params.fixed_row != -1);
  return static_cast<std::size_t>(std::max<int64_t>(most, 0));
}

}  // namespace

row_collector::row_collector(const run_params& params)
    : capacity_(most_free_rows(params)), num_biclusters_(params.num_biclusters) {}

bool row_collector::allocate() { return grow(std::min(capacity_, k_first_room)); }

bool row_collector::grow(std::size_t rows) {
  const std::size_t room = std::max({rows, std::min(capacity_, 2 * room_), std::size_t{1}});
  if (room > SIZE_MAX / sizeof(uint32_t)) return false;
  std::unique_ptr<uint32_t[]> larger(new (std::nothrow) uint32_t[room]);
  if (larger == nullptr) return false;
  ask_for_huge_pages(larger.get(), room * sizeof(uint32_t));
  if (count_ > 0) std::memcpy(larger.get(), rows_.get(), count_ * sizeof(uint32_t));
  rows_ = std::move(larger);
  room_ = room;
  return true;
}

}  // namespace init_bicluster
