#include "free_draws.h"

#include "vector_path.h"
#include "x86_lanes.h"

namespace init_bicluster {

namespace {

std::size_t list_plainly(const uint32_t* words, std::size_t first, std::size_t count,
                         const row_reducer& to_row, const uint64_t* bits, bit_of_row key_of,
                         uint32_t* positions) {
  std::size_t listed = 0;
  for (std::size_t i = first; i < count; ++i) {
    const uint32_t key = (to_row.of_word(words[i]) >> key_of.shift) & key_of.mask;
    positions[listed] = static_cast<uint32_t>(i);
    listed += ((bits[key >> 6] >> (key & 63)) & 1) == 0;
  }
  return listed;
}

}  // namespace

std::size_t list_free_draws(const uint32_t* words, std::size_t count, const row_reducer& to_row,
                            const uint64_t* bits, bit_of_row key_of, uint32_t* positions) {
#if defined(__x86_64__)
  // The vector kernels take the draws of whole registers, the rest is
  // listed plainly.
  std::size_t whole = 0;
  std::size_t listed = 0;
  switch (selected_vector_path()) {
    case vector_path::avx512:
      whole = count - count % lanes_512::k_lanes;
      listed =
          key_of.mask < k_bits_in_registers
              ? lanes_512::list_whole_registers<true>(words, count, to_row, bits, key_of, positions)
              : lanes_512::list_whole_registers<false>(words, count, to_row, bits, key_of,
                                                       positions);
      break;
    case vector_path::avx2:
      whole = count - count % lanes_256::k_lanes;
      listed =
          lanes_256::list_whole_registers<false>(words, count, to_row, bits, key_of, positions);
      break;
    case vector_path::baseline:
      break;
  }
  return listed + list_plainly(words, whole, count, to_row, bits, key_of, positions + listed);
#else
  return list_plainly(words, 0, count, to_row, bits, key_of, positions);
#endif
}

}  // namespace init_bicluster
