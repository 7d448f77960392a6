// The text layout of bicluster records, buffered onto an output sink.
#ifndef INIT_BICLUSTER_RECORD_WRITER_H_
#define INIT_BICLUSTER_RECORD_WRITER_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "decimal.h"
#include "output_sink.h"
#include "run_params.h"

namespace init_bicluster {

// Writes records of five lines: "BICLUSTER <index>", the fixed row, the free
// rows each followed by one space, the fixed column, and every column but the
// fixed one in ascending order, each followed by one space. Numbers are
// decimal without fill, as printf's "%d" writes them. Bytes reach the sink in
// large blocks; after the sink's first failure nothing more is sent to it.
// Its memory is taken by `allocate` before there is a sink at all, so that a
// run short of memory fails before it opens its output.
class record_writer {
 public:
  // Bytes gathered before they are handed to the sink.
  static constexpr std::size_t k_buffer_size = std::size_t{1} << 18;
  // Ready-made text at least this long is handed to the sink without a copy.
  static constexpr std::size_t k_direct_write_size = std::size_t{1} << 14;
  // Largest column list kept ready-made for all records; a longer one is
  // formatted again for every record.
  static constexpr std::size_t k_column_cache_limit = std::size_t{64} << 20;
  // Smallest buffer that holds a header line.
  static constexpr std::size_t k_min_buffer_size = 32;

  // Prepares to write the records of `params`, gathering `buffer_size` bytes
  // at a time; takes no memory yet. Requires `buffer_size` to be at least
  // k_min_buffer_size.
  explicit record_writer(const run_params& params, std::size_t buffer_size = k_buffer_size,
                         std::size_t column_cache_limit = k_column_cache_limit);

  record_writer(const record_writer&) = delete;
  record_writer& operator=(const record_writer&) = delete;

  // Takes the output buffer. Returns false when the memory cannot be had.
  bool allocate_buffer();

  // Makes the column list ready for all records, when it is used by more than
  // one and is below the cache limit. Returns false when the memory cannot be
  // had (nothing is kept then).
  bool allocate_column_line();

  // Sends everything from now on to `sink`. Requires `sink` to outlive the
  // writer, a successful allocate_buffer, and that nothing was written yet.
  void attach(output_sink& sink) { sink_ = &sink; }

  // Writes the header line with `index` and the fixed-row line. Requires
  // `index` >= 0 and an attached sink (as do all the writing calls below).
  void begin_record(int32_t index);

  // Writes `rows` as the next members of the free-row list.
  [[gnu::always_inline]] void add_free_rows(std::span<const uint32_t> rows) {
    while (!rows.empty()) {
      if (buffer_size_ - used_ < k_member_room) flush();
      const std::size_t fit = std::min(rows.size(), (buffer_size_ - used_) / k_member_room);
      char* const out = append_members(buffer_.get() + used_, rows.data(), fit);
      used_ = static_cast<std::size_t>(out - buffer_.get());
      rows = rows.subspan(fit);
    }
  }

  // Ends the free-row list and writes the fixed-column line and the column list.
  void end_record();

  // Whether the sink has failed; from then on writing does nothing.
  bool failed() const { return error_ != 0; }

  // Hands every gathered byte to the sink. Returns 0, or the errno value of the
  // sink's first failure.
  int finish();

 private:
  static constexpr std::string_view k_header_word = "BICLUSTER ";

  void flush();
  void put(std::string_view text);
  void put_columns();

  output_sink* sink_ = nullptr;
  const int32_t num_biclusters_;
  const int32_t num_columns_;
  const int32_t fixed_column_;
  // "\n<fixed row>\n", which follows every header's index.
  const std::string after_index_;
  // "\n<fixed column>\n", which closes the free-row list.
  const std::string after_free_rows_;
  // The column list with its line feed, when kept for all records.
  std::unique_ptr<char[]> column_line_storage_;
  std::string_view column_line_;
  const std::size_t column_cache_limit_;
  std::unique_ptr<char[]> buffer_;
  std::size_t buffer_size_;
  std::size_t used_ = 0;
  int error_ = 0;
};

// Length in bytes of the column list of a record, its line feed left out.
uint64_t column_list_length(int32_t num_columns, int32_t fixed_column);

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_RECORD_WRITER_H_
