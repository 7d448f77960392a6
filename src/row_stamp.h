// The table that tells which rows the bicluster being drawn already holds.
#ifndef INIT_BICLUSTER_ROW_STAMP_H_
#define INIT_BICLUSTER_ROW_STAMP_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "run_params.h"

namespace init_bicluster {

// One of two layouts, chosen for the size of the matrix:
// - stamps: one entry per row holding the index plus one of the last
//   bicluster that took the row (0 while none has), so that membership is
//   one read and the table never needs clearing, since indices only grow.
//   Entries are as narrow as the number of biclusters allows (one byte for
//   up to 255). Used while the table is small enough to stay in cache.
// - bits: one bit per row, set while the current bicluster holds the row and
//   cleared after it, an eighth of the narrowest stamps, so that far larger
//   matrices stay in cache. The rows a bicluster took are listed to clear
//   them, unless it took so many that clearing the whole table in order
//   costs less.
// The memory starts as zeroed pages that the system provides on first
// touch, so rows never drawn cost neither time nor memory; a table that the
// run will mostly touch is put on huge pages, which saves most of the misses
// of the address translation on a large table read at random.
class row_stamp {
 public:
  // The layouts above.
  enum class layout { stamps, bits };

  // An empty table; `allocate` gives it its rows.
  row_stamp() = default;

  // Chooses the layout for `params` and takes the memory. Returns false,
  // leaving the table empty, when the memory cannot be had. Requires params
  // accepted by check_run_params.
  bool allocate(const run_params& params);

  // The layout chosen. Requires a successful `allocate`.
  layout table_layout() const { return layout_; }

  // Bytes per stamp: 1, 2 or 4. Requires the stamps layout.
  std::size_t entry_size() const { return entry_size_; }

  // The stamps, indexed by row. Requires the stamps layout and
  // sizeof(entry) == entry_size().
  template <typename entry>
  entry* entries() {
    return static_cast<entry*>(table_.get());
  }

  // The bits, 64 rows a word, row r at bit r % 64 of word r / 64. Requires
  // the bits layout.
  uint64_t* bits() { return static_cast<uint64_t*>(table_.get()); }

  // Bytes of the bit table. Requires the bits layout.
  std::size_t bits_size() const { return table_size_; }

  // Room for the rows of one bicluster, to clear their bits after it, and
  // how many it holds. Requires the bits layout.
  uint32_t* taken_rows() { return static_cast<uint32_t*>(taken_rows_.get()); }
  std::size_t taken_rows_capacity() const { return taken_rows_capacity_; }

  // Room for a bit per word of the bit table (bit w % 64 of word w / 64 for
  // word w), for a bicluster that holds nearly every row to mark the words
  // whose rows it holds all. Its pages are only touched when used. Requires
  // the bits layout.
  uint64_t* full_words() { return static_cast<uint64_t*>(full_words_.get()); }

 private:
  struct unmapper {
    std::size_t size;
    void operator()(void* memory) const;
  };
  using mapping = std::unique_ptr<void, unmapper>;

  // At least `size` bytes of zeroed memory, the system's pages provided on
  // first touch; on huge pages when asked. Null when it cannot be had.
  static mapping map_zeroed(std::size_t size, bool huge_pages);

  layout layout_ = layout::stamps;
  std::size_t entry_size_ = 0;
  std::size_t table_size_ = 0;
  mapping table_{nullptr, {0}};
  mapping taken_rows_{nullptr, {0}};
  std::size_t taken_rows_capacity_ = 0;
  mapping full_words_{nullptr, {0}};
};

// The size of the huge pages the system backs anonymous memory with, or 0
// when it has none or does not tell (they are only an advice then).
std::size_t huge_page_size();

// Asks the system to back the whole huge pages within [begin, begin + size)
// of anonymous memory with huge pages: memory written once from end to end
// costs a fault per small page otherwise. Only an advice; requires memory
// the caller owns.
void ask_for_huge_pages(void* begin, std::size_t size);

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_ROW_STAMP_H_
