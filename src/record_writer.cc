#include "record_writer.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace init_bicluster {

namespace {

std::string number_line(int32_t value) {
  std::string line(1, '\n');
  line += std::to_string(value);
  line += '\n';
  return line;
}

// Writes the members of the column list from `*next` onwards while they fit
// before `limit`, leaving out `fixed_column`; advances `*next` past them.
char* append_columns(char* out, const char* limit, int32_t* next, int32_t num_columns,
                     int32_t fixed_column) {
  int32_t column = *next;
  while (column < num_columns && out < limit) {
    if (column != fixed_column) {
      out = append_member(out, static_cast<uint32_t>(column));
    }
    ++column;
  }
  *next = column;
  return out;
}

}  // namespace

uint64_t column_list_length(int32_t num_columns, int32_t fixed_column) {
  uint64_t length = 0;
  uint64_t band_start = 0;
  uint64_t digits = 1;
  const uint64_t end = num_columns > 0 ? static_cast<uint64_t>(num_columns) : 0;
  while (band_start < end) {
    const uint64_t band_end = std::min(end, band_start == 0 ? 10 : band_start * 10);
    length += (band_end - band_start) * (digits + 1);
    band_start = band_end;
    ++digits;
  }
  if (fixed_column >= 0 && fixed_column < num_columns) {
    length -= std::to_string(fixed_column).size() + 1;
  }
  return length;
}

record_writer::record_writer(const run_params& params, std::size_t buffer_size,
                             std::size_t column_cache_limit)
    : num_biclusters_(params.num_biclusters),
      num_columns_(params.num_columns),
      fixed_column_(params.fixed_column),
      after_index_(number_line(params.fixed_row)),
      after_free_rows_(number_line(params.fixed_column)),
      column_cache_limit_(column_cache_limit),
      buffer_size_(buffer_size) {}

bool record_writer::allocate_buffer() {
  buffer_.reset(new (std::nothrow) char[buffer_size_]);
  return buffer_ != nullptr;
}

bool record_writer::allocate_column_line() {
  // Worth keeping only when a second record will use it.
  const uint64_t length = column_list_length(num_columns_, fixed_column_);
  if (num_biclusters_ <= 1 || length >= column_cache_limit_) return true;
  // Every member fits in k_member_room bytes, so the room below the exact
  // length plus that slack never runs out.
  const std::size_t room = static_cast<std::size_t>(length) + k_member_room;
  std::unique_ptr<char[]> line(new (std::nothrow) char[room]);
  if (line == nullptr) return false;
  int32_t next = 0;
  char* end = append_columns(line.get(), line.get() + room, &next, num_columns_, fixed_column_);
  *end++ = '\n';
  column_line_ = std::string_view(line.get(), static_cast<std::size_t>(end - line.get()));
  column_line_storage_ = std::move(line);
  return true;
}

void record_writer::begin_record(int32_t index) {
  if (buffer_size_ - used_ < k_header_word.size() + k_member_room) flush();
  char* out = buffer_.get() + used_;
  std::memcpy(out, k_header_word.data(), k_header_word.size());
  out += k_header_word.size();
  out = append_decimal(out, static_cast<uint32_t>(index));
  used_ = static_cast<std::size_t>(out - buffer_.get());
  put(after_index_);
}

void record_writer::end_record() {
  put(after_free_rows_);
  if (column_line_storage_ != nullptr) {
    put(column_line_);
  } else {
    put_columns();
  }
}

void record_writer::put_columns() {
  int32_t next = 0;
  while (next < num_columns_ && !failed()) {
    // Members are written while they start below the limit, so the limit must
    // lie above the gathered bytes for the loop to move on.
    if (buffer_size_ - used_ <= k_member_room) flush();
    char* start = buffer_.get();
    char* out = append_columns(start + used_, start + buffer_size_ - k_member_room, &next,
                               num_columns_, fixed_column_);
    used_ = static_cast<std::size_t>(out - start);
  }
  put("\n");
}

void record_writer::put(std::string_view text) {
  // Large ready-made text goes to the sink directly: copying it into the
  // buffer would cost as much as the write itself.
  if (text.size() >= std::min(k_direct_write_size, buffer_size_)) {
    flush();
    if (!failed()) error_ = sink_->write(text);
    return;
  }
  if (buffer_size_ - used_ < text.size()) flush();
  std::memcpy(buffer_.get() + used_, text.data(), text.size());
  used_ += text.size();
}

void record_writer::flush() {
  if (used_ > 0 && !failed()) error_ = sink_->write({buffer_.get(), used_});
  used_ = 0;
}

int record_writer::finish() {
  flush();
  return error_;
}

}  // namespace init_bicluster
