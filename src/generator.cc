#include "generator.h"

#include <algorithm>
#include <new>

namespace init_bicluster {

namespace {

__extension__ typedef unsigned __int128 uint128;

// value % divisor by two multiplications instead of a division (the method of
// Lemire, Kaser and Kurz), exact for every 32-bit value and divisor.
class fast_modulo {
 public:
  explicit fast_modulo(uint32_t divisor)
      : divisor_(divisor), multiplier_(UINT64_MAX / std::max<uint32_t>(divisor, 1) + 1) {}

  uint32_t operator()(uint32_t value) const {
    const uint64_t fraction = multiplier_ * value;
    return static_cast<uint32_t>((static_cast<uint128>(fraction) * divisor_) >> 64);
  }

 private:
  uint64_t divisor_;
  uint64_t multiplier_;
};

// Values looked at together: at most a block of the generator, at least
// enough to keep the loop's fixed costs small.
constexpr std::size_t k_least_batch = 64;

// How many draws ahead a row's table entry is fetched: enough to cover a miss
// to memory, few enough not to overrun the misses the core can keep going.
constexpr std::size_t k_prefetch_distance = 16;

// The rows of one batch of draws, and those of them that were new.
struct batch_rows {
  uint32_t rows[rand_generator::k_block_size];
  uint32_t fresh_rows[rand_generator::k_block_size];
};

// Draws `size` distinct free rows for the bicluster whose stamp is `stamp` and
// writes them in the order drawn. The draws are taken a batch at a time: the
// rows of a batch are computed and their table entries fetched ahead, and the
// test-and-stamp loop has no branch on whether a row was new, since how many
// values are consumed does not depend on anything but the values themselves.
template <typename entry>
void draw_free_rows(int64_t size, entry stamp, entry* stamps, const fast_modulo& to_row,
                    rand_generator& random, batch_rows& scratch, record_writer& writer) {
  uint32_t* const rows = scratch.rows;
  uint32_t* const fresh_rows = scratch.fresh_rows;
  int64_t count = 0;
  while (count < size && !writer.failed()) {
    const std::span<const uint32_t> values = random.peek();
    const std::size_t wanted = static_cast<std::size_t>(
        std::min<int64_t>(size - count, static_cast<int64_t>(values.size())));
    const std::size_t batch = std::min(values.size(), std::max(2 * wanted, k_least_batch));
    for (std::size_t i = 0; i < batch; ++i) rows[i] = to_row(values[i]);
    for (std::size_t i = 0; i < std::min(batch, k_prefetch_distance); ++i) {
      __builtin_prefetch(stamps + rows[i], 1);
    }
    std::size_t fresh = 0;
    std::size_t used = 0;
    while (used < batch) {
      if (used + k_prefetch_distance < batch) {
        __builtin_prefetch(stamps + rows[used + k_prefetch_distance], 1);
      }
      const uint32_t row = rows[used++];
      fresh_rows[fresh] = row;
      fresh += stamps[row] != stamp;
      stamps[row] = stamp;
      if (fresh == wanted) break;
    }
    random.take(used);
    writer.add_free_rows({fresh_rows, fresh});
    count += static_cast<int64_t>(fresh);
  }
}

}  // namespace

struct bicluster_generator::workspace {
  explicit workspace(uint32_t seed) : random(seed) {}
  rand_generator random;
  batch_rows scratch;
};

bicluster_generator::bicluster_generator(const run_params& params, uint32_t seed)
    : params_(params), seed_(seed), writer_(params) {}

bicluster_generator::~bicluster_generator() = default;

shortage bicluster_generator::prepare() {
  if (!table_.allocate(params_.num_rows, params_.num_biclusters)) return shortage::row_table;
  if (!writer_.allocate_column_line()) return shortage::column_list;
  workspace_.reset(new (std::nothrow) workspace(seed_));
  if (workspace_ == nullptr || !writer_.allocate_buffer()) return shortage::buffers;
  return shortage::none;
}

template <typename entry>
void bicluster_generator::generate(entry* stamps) {
  const run_params& params = params_;
  rand_generator& random = workspace_->random;
  const fast_modulo to_row(static_cast<uint32_t>(params.num_rows));
  // 64-bit arithmetic: the spread of sizes can reach 2^32, and a size can sit
  // at the least 32-bit value before the fixed row is taken off it.
  const int64_t spread = int64_t{params.max_rows} - params.min_rows + 1;
  const bool has_fixed_row = params.fixed_row != -1;
  for (int32_t index = 0; index < params.num_biclusters && !writer_.failed(); ++index) {
    int64_t size = params.min_rows + int64_t{random.next()} % spread;
    writer_.begin_record(index);
    const entry stamp = static_cast<entry>(index + 1);
    if (has_fixed_row) {
      stamps[params.fixed_row] = stamp;
      --size;
    }
    draw_free_rows(size, stamp, stamps, to_row, random, workspace_->scratch, writer_);
    writer_.end_record();
  }
}

int bicluster_generator::write(output_sink& sink) {
  writer_.attach(sink);
  switch (table_.entry_size()) {
    case sizeof(uint8_t):
      generate(table_.entries<uint8_t>());
      break;
    case sizeof(uint16_t):
      generate(table_.entries<uint16_t>());
      break;
    default:
      generate(table_.entries<uint32_t>());
      break;
  }
  return writer_.finish();
}

}  // namespace init_bicluster
