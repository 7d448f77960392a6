#include "row_stamp.h"

#include <algorithm>

namespace init_bicluster {

bool row_stamp::allocate(int32_t num_rows) {
  // calloc never returns the same answer for zero entries on every system;
  // one spare entry keeps an empty matrix an ordinary allocation.
  const std::size_t count = static_cast<std::size_t>(std::max<int32_t>(num_rows, 1));
  entries_.reset(static_cast<uint32_t*>(std::calloc(count, sizeof(uint32_t))));
  return entries_ != nullptr;
}

}  // namespace init_bicluster
