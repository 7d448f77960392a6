#include "bicluster_set.h"

#include <sys/mman.h>

#include <algorithm>
#include <climits>
#include <cerrno>
#include <new>
#include <span>

#include "generator.h"
#include "record_writer.h"
#include "row_stamp.h"

namespace init_bicluster {

namespace {

// Appends each bicluster to a set whose room was taken beforehand, and asks
// whether to stop.
class set_filler final : public bicluster_visitor {
 public:
  set_filler(bicluster_set& set, const std::function<bool()>& should_stop)
      : set_(set), should_stop_(should_stop) {}

  bool visit(int32_t index, const int32_t* free_rows, std::size_t count) override {
    try {
      set_.rows.insert(set_.rows.end(), free_rows, free_rows + count);
      set_.offsets.push_back(static_cast<int64_t>(set_.rows.size()));
    } catch (...) {
      out_of_memory_ = true;
      return false;
    }
    return (index & 255) != 255 || !should_stop();
  }

  bool should_stop() override { return should_stop_ && should_stop_(); }

  // Whether the rows outgrew the memory the system would give.
  bool out_of_memory() const { return out_of_memory_; }

 private:
  bicluster_set& set_;
  const std::function<bool()>& should_stop_;
  bool out_of_memory_ = false;
};

// Asks for room for `rows` rows of `set`; false when it cannot be had.
bool reserve(bicluster_set& set, int64_t rows) {
  if (rows > static_cast<int64_t>(set.rows.max_size())) return false;
  try {
    set.rows.reserve(static_cast<std::size_t>(rows));
  } catch (...) {
    return false;
  }
  return true;
}

}  // namespace

int draw_biclusters(const run_params& params, uint32_t seed, bicluster_visitor& visitor) {
  bicluster_generator generator(params, seed);
  if (generator.prepare(output_form::rows) != shortage::none) return ENOMEM;
  return generator.visit(visitor);
}

int draw_biclusters(const run_params& params, uint32_t seed, bicluster_set& set) {
  return draw_biclusters(params, seed, set, std::function<bool()>());
}

int draw_biclusters(const run_params& params, uint32_t seed, bicluster_set& set,
                    const std::function<bool()>& should_stop) {
  set = bicluster_set{};
  set.num_rows = params.num_rows;
  set.num_columns = params.num_columns;
  set.fixed_row = params.fixed_row;
  set.fixed_column = params.fixed_column;
  const int64_t count = std::max<int32_t>(params.num_biclusters, 0);
  const int64_t fixed = params.fixed_row != -1;
  const int64_t most = std::max<int64_t>(params.max_rows - fixed, 0);
  const int64_t least = std::max<int64_t>(params.min_rows - fixed, 0);
  // Room for every row the run can draw, so that filling never moves the
  // rows; the system gives pages only as they fill. Where it will not give
  // that much address space, room for a run of middling sizes, or at least
  // of the smallest, to grow from; a run whose smallest cannot be had could
  // never be drawn.
  const auto room_for = [&](int64_t per_bicluster) {
    return (per_bicluster == 0 || count <= INT64_MAX / 4 / per_bicluster) &&
           reserve(set, count * per_bicluster);
  };
  if (!room_for(most) && !room_for((least + most) / 2) && !room_for(least)) {
    set = bicluster_set{};
    return ENOMEM;
  }
  try {
    set.offsets.reserve(static_cast<std::size_t>(count) + 1);
    set.offsets.push_back(0);
  } catch (...) {
    set = bicluster_set{};
    return ENOMEM;
  }
  ask_for_huge_pages(set.rows.data(), set.rows.capacity() * sizeof(int32_t));
  ask_for_huge_pages(set.offsets.data(), set.offsets.capacity() * sizeof(int64_t));
  set_filler filler(set, should_stop);
  int error = draw_biclusters(params, seed, filler);
  if (filler.out_of_memory()) error = ENOMEM;
  if (error != 0) set = bicluster_set{};
  return error;
}

int write_biclusters(const bicluster_set& set, output_sink& sink) {
  run_params params;
  params.num_rows = set.num_rows;
  params.num_columns = set.num_columns;
  params.num_biclusters = static_cast<int32_t>(set.size());
  params.fixed_row = set.fixed_row;
  params.fixed_column = set.fixed_column;
  record_writer writer(params);
  if (!writer.allocate_column_line() || !writer.allocate_buffer()) return ENOMEM;
  writer.attach(sink);
  // Rows are at least 0, so they read the same as unsigned numbers.
  const auto* rows = reinterpret_cast<const uint32_t*>(set.rows.data());
  for (std::size_t index = 0; index < set.size() && !writer.failed(); ++index) {
    writer.begin_record(static_cast<int32_t>(index));
    const auto first = static_cast<std::size_t>(set.offsets[index]);
    const auto last = static_cast<std::size_t>(set.offsets[index + 1]);
    writer.add_free_rows(std::span<const uint32_t>(rows + first, last - first));
    writer.end_record();
  }
  const int error = writer.finish();
  return error != 0 ? error : sink.close();
}

}  // namespace init_bicluster
