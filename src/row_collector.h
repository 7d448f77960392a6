// Gathers the free rows of each bicluster as it is drawn and hands them to a
// visitor, in place of formatting them.
#ifndef INIT_BICLUSTER_ROW_COLLECTOR_H_
#define INIT_BICLUSTER_ROW_COLLECTOR_H_

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "bicluster_set.h"
#include "run_params.h"

namespace init_bicluster {

// Takes the calls a record_writer takes while a run is drawn, and hands each
// finished bicluster to a visitor; stops the run when the visitor says so.
class row_collector {
 public:
  // Prepares for the biclusters of `params`; takes no memory yet. Requires
  // params accepted by check_run_params.
  explicit row_collector(const run_params& params);

  row_collector(const row_collector&) = delete;
  row_collector& operator=(const row_collector&) = delete;

  // Takes room for the free rows of a bicluster, which grows as larger ones
  // are drawn, up to the largest the run can draw. Returns false when the
  // memory cannot be had.
  bool allocate();

  // Hands everything from now on to `visitor`. Requires a successful
  // `allocate` and a visitor that outlives the collector.
  void attach(bicluster_visitor& visitor) { visitor_ = &visitor; }

  // Starts the bicluster `index`.
  void begin_record(int32_t index) {
    index_ = index;
    count_ = 0;
  }

  // Adds `rows` as the next free rows of the bicluster; stops the run when
  // no room for them can be had.
  [[gnu::always_inline]] void add_free_rows(std::span<const uint32_t> rows) {
    if (count_ + rows.size() > room_ && !grow(count_ + rows.size())) {
      out_of_memory_ = stopped_ = true;
      return;
    }
    std::memcpy(rows_.get() + count_, rows.data(), rows.size_bytes());
    count_ += rows.size();
  }

  // Hands the finished bicluster to the visitor, unless the run was stopped
  // within it.
  void end_record() {
    if (stopped_) return;
    // Rows are below 2^31, so they read the same as signed numbers.
    const auto* rows = reinterpret_cast<const int32_t*>(rows_.get());
    // A run stopped after its last bicluster is whole.
    if (!visitor_->visit(index_, rows, count_) && index_ + 1 < num_biclusters_) stopped_ = true;
  }

  // Whether the visitor stopped the run; from then on no row is drawn. Asked
  // once per batch of draws and once per bicluster, it asks the visitor every
  // k_calls_per_question calls.
  bool failed() {
    if (!stopped_ && ++calls_ % k_calls_per_question == 0) stopped_ = visitor_->should_stop();
    return stopped_;
  }
  bool stopped() const { return stopped_; }

  // Whether the run stopped for want of room for a bicluster's rows.
  bool out_of_memory() const { return out_of_memory_; }

 private:
  // Makes room for at least `rows` rows, keeping those gathered. Returns
  // false when it cannot be had.
  bool grow(std::size_t rows);

  // A batch is at most a block of the generator, a few hundred draws.
  static constexpr uint32_t k_calls_per_question = 4096;

  const std::size_t capacity_;
  uint32_t calls_ = 0;
  const int32_t num_biclusters_;
  std::unique_ptr<uint32_t[]> rows_;
  std::size_t room_ = 0;
  bicluster_visitor* visitor_ = nullptr;
  int32_t index_ = 0;
  std::size_t count_ = 0;
  bool stopped_ = false;
  bool out_of_memory_ = false;
};

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_ROW_COLLECTOR_H_
