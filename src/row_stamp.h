// The table that records which bicluster last took each row.
#ifndef INIT_BICLUSTER_ROW_STAMP_H_
#define INIT_BICLUSTER_ROW_STAMP_H_

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace init_bicluster {

// One entry per row of the matrix. An entry holds the index plus one of the
// last bicluster that took the row, and 0 while no bicluster has: a bicluster
// tests membership with one read and the table never needs clearing, since
// indices only grow. The table starts as zeroed pages that the system
// provides on first touch, so rows never drawn cost neither time nor memory.
class row_stamp {
 public:
  // An empty table; `allocate` gives it its rows.
  row_stamp() = default;

  // Gives the table `num_rows` entries, all 0. Returns false, leaving the
  // table empty, when the memory cannot be had. Requires `num_rows` >= 0.
  bool allocate(int32_t num_rows);

  // The entries, indexed by row. Requires a successful `allocate`.
  uint32_t* entries() { return entries_.get(); }

 private:
  struct free_deleter {
    void operator()(uint32_t* pointer) const { std::free(pointer); }
  };
  std::unique_ptr<uint32_t[], free_deleter> entries_;
};

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_ROW_STAMP_H_
