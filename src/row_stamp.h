// The table that records which bicluster last took each row.
#ifndef INIT_BICLUSTER_ROW_STAMP_H_
#define INIT_BICLUSTER_ROW_STAMP_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace init_bicluster {

// One entry per row of the matrix. An entry holds the index plus one of the
// last bicluster that took the row, and 0 while no bicluster has: a bicluster
// tests membership with one read, and the table never needs clearing since
// indices only grow. Entries are as narrow as the number of biclusters
// allows (one byte for up to 255), which keeps more of the table in cache.
// The table starts as zeroed pages that the system provides on first touch,
// so rows never drawn cost neither time nor memory.
class row_stamp {
 public:
  // An empty table; `allocate` gives it its rows.
  row_stamp() = default;

  // Gives the table `num_rows` entries, all 0, each wide enough for the stamp
  // `num_biclusters`. Returns false, leaving the table empty, when the memory
  // cannot be had. Requires `num_rows` >= 0.
  bool allocate(int32_t num_rows, int32_t num_biclusters);

  // Bytes per entry: 1, 2 or 4. Requires a successful `allocate`.
  std::size_t entry_size() const { return entry_size_; }

  // The entries, indexed by row. Requires a successful `allocate` and
  // sizeof(entry) == entry_size().
  template <typename entry>
  entry* entries() {
    return static_cast<entry*>(entries_.get());
  }

 private:
  struct free_deleter {
    void operator()(void* pointer) const { std::free(pointer); }
  };
  std::unique_ptr<void, free_deleter> entries_;
  std::size_t entry_size_ = 0;
};

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_ROW_STAMP_H_
