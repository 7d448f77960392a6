#include "generator.h"

#include "record_writer.h"

namespace init_bicluster {

int generate_biclusters(const run_params& params, row_stamp& table, rand_generator& random,
                        output_sink& sink) {
  record_writer writer(sink, params);
  uint32_t* stamps = table.entries();
  // 64-bit arithmetic: the spread of sizes can reach 2^32, and a size can sit
  // at the least 32-bit value before the fixed row is taken off it.
  const int64_t spread = int64_t{params.max_rows} - params.min_rows + 1;
  const bool has_fixed_row = params.fixed_row != -1;
  for (int32_t index = 0; index < params.num_biclusters && !writer.failed(); ++index) {
    int64_t size = params.min_rows + int64_t{random.next()} % spread;
    writer.begin_record(index);
    const uint32_t stamp = static_cast<uint32_t>(index) + 1;
    if (has_fixed_row) {
      stamps[params.fixed_row] = stamp;
      --size;
    }
    for (int64_t count = 0; count < size && !writer.failed();) {
      const uint32_t row = random.next() % static_cast<uint32_t>(params.num_rows);
      if (stamps[row] == stamp) continue;
      stamps[row] = stamp;
      writer.add_free_row(row);
      ++count;
    }
    writer.end_record();
  }
  return writer.finish();
}

}  // namespace init_bicluster
