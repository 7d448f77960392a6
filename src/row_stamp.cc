#include "row_stamp.h"

#include <algorithm>
#include <limits>

namespace init_bicluster {

bool row_stamp::allocate(int32_t num_rows, int32_t num_biclusters) {
  std::size_t size = sizeof(uint32_t);
  if (num_biclusters <= std::numeric_limits<uint8_t>::max()) {
    size = sizeof(uint8_t);
  } else if (num_biclusters <= std::numeric_limits<uint16_t>::max()) {
    size = sizeof(uint16_t);
  }
  // calloc does not answer alike for zero entries on every system; one spare
  // entry keeps an empty matrix an ordinary allocation.
  const std::size_t count = static_cast<std::size_t>(std::max<int32_t>(num_rows, 1));
  entries_.reset(std::calloc(count, size));
  entry_size_ = entries_ != nullptr ? size : 0;
  return entries_ != nullptr;
}

}  // namespace init_bicluster
