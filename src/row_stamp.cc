#include "row_stamp.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <limits>

namespace init_bicluster {

namespace {

// Stamp tables up to this size stay in the second-level cache; larger ones
// are bits.
constexpr std::size_t k_largest_stamp_table = std::size_t{256} << 10;

// The size of the system's pages, 4 KiB where it cannot be had.
std::size_t page_size() {
  static const std::size_t size = [] {
    const long reported = sysconf(_SC_PAGESIZE);
    return reported > 0 ? static_cast<std::size_t>(reported) : std::size_t{4096};
  }();
  return size;
}

}  // namespace

std::size_t huge_page_size() {
  static const std::size_t size = [] {
    unsigned long long reported = 0;
    if (std::FILE* file = std::fopen("/sys/kernel/mm/transparent_hugepage/hpage_pmd_size", "re")) {
      if (std::fscanf(file, "%llu", &reported) != 1) reported = 0;
      std::fclose(file);
    }
    // A power of two, a whole number of pages, and small enough to map.
    const bool usable = reported >= page_size() && (reported & (reported - 1)) == 0 &&
                        reported <= (std::numeric_limits<std::size_t>::max() >> 2);
    return usable ? static_cast<std::size_t>(reported) : std::size_t{0};
  }();
  return size;
}

void ask_for_huge_pages(void* begin, std::size_t size) {
  const std::size_t huge = huge_page_size();
  if (huge == 0 || size < 2 * huge) return;
  const auto first = (reinterpret_cast<uintptr_t>(begin) + huge - 1) / huge * huge;
  const auto last = (reinterpret_cast<uintptr_t>(begin) + size) / huge * huge;
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

void row_stamp::unmapper::operator()(void* memory) const { munmap(memory, size); }

row_stamp::mapping row_stamp::map_zeroed(std::size_t wanted_size, bool huge_pages) {
  const std::size_t page = page_size();
  const std::size_t huge_page = huge_pages ? huge_page_size() : 0;
  if (wanted_size > std::numeric_limits<std::size_t>::max() - page - huge_page) {
    return mapping(nullptr, {0});
  }
  const std::size_t size = (wanted_size + page - 1) / page * page;
  // Huge pages need a region aligned to their size: map a huge page more
  // and give back what lies outside the aligned part.
  const std::size_t mapped_size = size + huge_page;
  void* memory = mmap(nullptr, mapped_size, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (memory == MAP_FAILED) return mapping(nullptr, {0});
  if (huge_page == 0) return mapping(memory, {size});
  char* const start = static_cast<char*>(memory);
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(start);
  char* const aligned = start + (huge_page - address % huge_page) % huge_page;
  if (aligned > start) munmap(start, static_cast<std::size_t>(aligned - start));
  char* const end = start + mapped_size;
  if (end > aligned + size) munmap(aligned + size, static_cast<std::size_t>(end - aligned - size));
  // Only advice: without huge pages the table works the same.
  madvise(aligned, size, MADV_HUGEPAGE);
  return mapping(aligned, {size});
}

bool row_stamp::allocate(const run_params& params) {
  std::size_t width = sizeof(uint32_t);
  if (params.num_biclusters <= std::numeric_limits<uint8_t>::max()) {
    width = sizeof(uint8_t);
  } else if (params.num_biclusters <= std::numeric_limits<uint16_t>::max()) {
    width = sizeof(uint16_t);
  }
  // One spare row keeps an empty matrix an ordinary allocation.
  const std::size_t rows = static_cast<std::size_t>(std::max<int32_t>(params.num_rows, 1));
  layout_ = rows * width <= k_largest_stamp_table ? layout::stamps : layout::bits;
  table_size_ = layout_ == layout::stamps ? rows * width : (rows + 63) / 64 * sizeof(uint64_t);
  // The least number of free rows the run draws: when it is a good part of
  // the matrix, nearly every page of the table is touched.
  const int64_t least_free_rows =
      int64_t{std::max(params.num_biclusters, 0)} *
      std::max<int64_t>(int64_t{params.min_rows} - (params.fixed_row != -1), 0);
  const bool mostly_touched = least_free_rows >= static_cast<int64_t>(rows / 8);
  table_ = map_zeroed(table_size_,
                      mostly_touched && huge_page_size() != 0 && table_size_ >= huge_page_size());
  if (table_ == nullptr) return false;
  if (layout_ == layout::bits) {
    // Clearing a listed row is a write to a random place in the table, some
    // sixty times what clearing a byte of the whole table in order costs: a
    // bicluster of more rows than a 64th of the table's bytes clears it all.
    taken_rows_capacity_ = table_size_ / 64 + 1;
    taken_rows_ = map_zeroed(taken_rows_capacity_ * sizeof(uint32_t), false);
    full_words_ = map_zeroed((table_size_ / sizeof(uint64_t) + 63) / 64 * sizeof(uint64_t), false);
    if (taken_rows_ == nullptr || full_words_ == nullptr) {
      table_.reset();
      taken_rows_.reset();
      full_words_.reset();
      return false;
    }
  }
  entry_size_ = width;
  return true;
}

}  // namespace init_bicluster
