#include "row_collector.h"

#include <algorithm>
#include <new>

#include "row_stamp.h"

namespace init_bicluster {

namespace {

// The most free rows a bicluster of `params` can hold: its greatest size,
// less the fixed row.
std::size_t most_free_rows(const run_params& params) {
  const int64_t most = int64_t{params.max_rows} - (params.fixed_row != -1);
  return static_cast<std::size_t>(std::max<int64_t>(most, 0));
}

}  // namespace

row_collector::row_collector(const run_params& params)
    : capacity_(most_free_rows(params)), num_biclusters_(params.num_biclusters) {}

bool row_collector::allocate() {
  rows_.reset(new (std::nothrow) uint32_t[std::max<std::size_t>(capacity_, 1)]);
  if (rows_ == nullptr) return false;
  ask_for_huge_pages(rows_.get(), capacity_ * sizeof(uint32_t));
  return true;
}

}  // namespace init_bicluster
