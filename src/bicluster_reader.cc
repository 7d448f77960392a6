// The strict reader of bicluster files.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "bicluster_set.h"
#include "file_io.h"
#include "row_stamp.h"

namespace init_bicluster {

namespace {

// How much of what was found instead a message shows.
constexpr std::size_t k_shown_bytes = 24;

// A number as printf's "%d" writes it: an optional minus sign, then "0" or
// digits that do not begin with 0; within the 32-bit range.
bool parse_number(const char*& at, const char* end, int32_t* value) {
  const char* p = at;
  const bool negative = p < end && *p == '-';
  p += negative;
  if (p == end || *p < '0' || *p > '9') return false;
  if (*p == '0') {
    // "0" alone; never "-0" nor a leading zero.
    if (negative || (p + 1 < end && p[1] >= '0' && p[1] <= '9')) return false;
    *value = 0;
    at = p + 1;
    return true;
  }
  int64_t number = 0;
  const char* const first = p;
  while (p < end && *p >= '0' && *p <= '9') {
    number = number * 10 + (*p - '0');
    if (++p - first > 10) return false;
  }
  if (negative) number = -number;
  if (number < INT32_MIN || number > INT32_MAX) return false;
  *value = static_cast<int32_t>(number);
  at = p;
  return true;
}

// Reads a number of one to seven digits, without a leading zero, that
// stands at `at` followed by a space, from eight bytes at once. Returns how
// many digits it read into `*value`, or 0 when the bytes are anything else
// (fewer than eight left, another form, or the other byte order), which the
// byte-by-byte reading then takes.
inline int eight_digits(const char* at, const char* end, uint64_t* value) {
  if constexpr (std::endian::native != std::endian::little) return 0;
  if (end - at < 8) return 0;
  uint64_t bytes;
  std::memcpy(&bytes, at, sizeof bytes);
  // Digits become 0 to 9; every other byte, more than 9 or with its top bit.
  const uint64_t values = bytes ^ 0x3030303030303030u;
  const uint64_t not_digits =
      ((values + 0x7676767676767676u) | values) & 0x8080808080808080u;
  // The first byte that is not a digit: a carry from a byte above 0x89 only
  // reaches the bytes after it.
  if (not_digits == 0) return 0;
  const int digits = std::countr_zero(not_digits) / 8;
  if (digits == 0 || (digits > 1 && (values & 0xFF) == 0) ||
      ((bytes >> (8 * digits)) & 0xFF) != ' ') {
    return 0;
  }
  // The digits at the top, zeros below as leading zeros, then pairs, fours
  // and eights of digits combined.
  uint64_t number = values << (8 * (8 - digits));
  number = (number * 10 + (number >> 8)) & 0x00FF00FF00FF00FFu;
  number = (number * 100 + (number >> 16)) & 0x0000FFFF0000FFFFu;
  number = (number * 10000 + (number >> 32)) & 0x00000000FFFFFFFFu;
  *value = number;
  return digits;
}

class reader {
 public:
  reader(std::string_view text, bicluster_set& set, int32_t num_rows, int32_t num_columns)
      : at_(text.data()), end_(text.data() + text.size()), set_(set), num_rows_(num_rows),
        num_columns_(num_columns) {}

  reader(const reader&) = delete;
  reader& operator=(const reader&) = delete;
  ~reader() {
    if (held_ != nullptr) munmap(held_, held_size_);
  }

  std::optional<std::string> read();

 private:
  // The message for line `line_`: `expected` was wanted at `at_`.
  std::string refusal(const std::string& expected) const;
  // The message when `*at_` is not `character`, or the end of the text.
  bool expect(char character) {
    if (at_ == end_ || *at_ != character) return false;
    ++at_;
    return true;
  }
  // A number alone on its line.
  bool number_line(int32_t* value) {
    return parse_number(at_, end_, value) && expect('\n');
  }
  std::optional<std::string> read_header(int32_t index);
  std::optional<std::string> read_fixed_row(bool first);
  std::optional<std::string> read_free_rows();
  std::optional<std::string> read_fixed_column(bool first);
  std::optional<std::string> read_columns(bool first);
  // Whether `row` is already among the free rows of this bicluster; marks it.
  bool seen(int32_t row);

  const char* at_;
  const char* const end_;
  bicluster_set& set_;
  const int32_t num_rows_;
  const int32_t num_columns_;
  int64_t line_ = 1;
  int64_t largest_row_ = -1;
  // The column list of the first record, its line feed included.
  std::string_view column_line_;
  int64_t column_line_number_ = 0;
  // A bit per row that may be named, set for the rows of the bicluster being
  // read: zeroed pages that the system gives only where rows fall, so that
  // a few rows of a huge matrix cost a few pages.
  uint64_t* held_ = nullptr;
  std::size_t held_size_ = 0;
};

std::string reader::refusal(const std::string& expected) const {
  std::string found;
  if (at_ == end_) {
    found = "the end of the file";
  } else {
    static constexpr char k_hex[] = "0123456789abcdef";
    // Up to and with the next space or line feed.
    const char* stop = at_;
    while (stop < end_ && static_cast<std::size_t>(stop - at_) < k_shown_bytes) {
      if (*stop++ == ' ' || stop[-1] == '\n') break;
    }
    found = "'";
    for (const char* p = at_; p < stop; ++p) {
      const auto byte = static_cast<unsigned char>(*p);
      if (byte == '\n') {
        found += "\\n";
      } else if (byte >= 0x20 && byte < 0x7f && byte != '\\' && byte != '\'') {
        found += *p;
      } else {
        found += {'\\', 'x', k_hex[byte >> 4], k_hex[byte & 15]};
      }
    }
    const bool cut = stop < end_ && stop[-1] != ' ' && stop[-1] != '\n';
    found += cut ? "...'" : "'";
  }
  return "line " + std::to_string(line_) + ": " + expected + ", found " + found;
}

std::optional<std::string> reader::read_header(int32_t index) {
  static constexpr std::string_view k_word = "BICLUSTER ";
  int32_t value = 0;
  if (static_cast<std::size_t>(end_ - at_) < k_word.size() ||
      std::memcmp(at_, k_word.data(), k_word.size()) != 0) {
    return refusal("'BICLUSTER " + std::to_string(index) + "'");
  }
  at_ += k_word.size();
  const char* const start = at_;
  if (!parse_number(at_, end_, &value) || value != index) {
    at_ = start;
    return refusal("the bicluster index " + std::to_string(index));
  }
  if (!expect('\n')) return refusal("a line feed after the index");
  ++line_;
  return std::nullopt;
}

std::optional<std::string> reader::read_fixed_row(bool first) {
  int32_t value = 0;
  const char* const start = at_;
  if (!number_line(&value)) {
    at_ = start;
    return refusal("the fixed row, a number alone on its line");
  }
  if (first) {
    if (value < -1 || (num_rows_ != -1 && value >= num_rows_)) {
      at_ = start;
      return refusal(num_rows_ == -1 ? std::string("-1 or a row number")
                                     : "-1 or a row number below " + std::to_string(num_rows_));
    }
    set_.fixed_row = value;
    largest_row_ = std::max<int64_t>(largest_row_, value);
  } else if (value != set_.fixed_row) {
    at_ = start;
    return refusal("the fixed row of every record, " + std::to_string(set_.fixed_row));
  }
  ++line_;
  return std::nullopt;
}

bool reader::seen(int32_t row) {
  const auto word = static_cast<std::size_t>(row) >> 6;
  const uint64_t bit = uint64_t{1} << (row & 63);
  const bool before = (held_[word] & bit) != 0;
  held_[word] |= bit;
  return before;
}

std::optional<std::string> reader::read_free_rows() {
  // Rows are checked against those before them a few rows after they are
  // read, once their word of the table has been fetched: a large table is
  // read at random.
  constexpr std::size_t k_ahead = 16;
  const char* starts[k_ahead];
  const std::size_t first = set_.rows.size();
  std::size_t checked = first;
  // The first row listed twice among those read but not checked yet.
  const auto check_up_to = [&](std::size_t last) -> const char* {
    for (; checked < last; ++checked) {
      if (seen(set_.rows[checked])) return starts[(checked - first) % k_ahead];
    }
    return nullptr;
  };
  std::optional<std::string> refused;
  // The common case, digits and a space, on locals the loop keeps in
  // registers; anything else goes to parse_number for the message.
  const char* at = at_;
  const char* const end = end_;
  const int64_t limit = num_rows_ == -1 ? int64_t{INT32_MAX} + 1 : num_rows_;
  while (at < end && *at != '\n') {
    const char* const start = at;
    uint64_t row = 0;
    bool good = false;
    if (const int digits = eight_digits(at, end, &row); digits > 0) {
      // One to seven digits and a space, read at once.
      at += digits;
      good = true;
    } else {
      auto digit = static_cast<unsigned>(*at - '0');
      row = digit;
      good = digit <= 9;
      if (good && digit == 0) {
        ++at;
      } else if (good) {
        while (++at < end && (digit = static_cast<unsigned>(*at - '0')) <= 9 && at - start < 11) {
          row = row * 10 + digit;
        }
      }
    }
    good = good && at < end && *at == ' ' && at - start <= 10 && row < uint64_t(limit) &&
           static_cast<int64_t>(row) != set_.fixed_row;
    if (!good) {
      at_ = start;
      int32_t value = 0;
      if (const char* twice = check_up_to(set_.rows.size())) {
        at_ = twice;
        refused = refusal("a row not listed before in this bicluster");
      } else if (!parse_number(at_, end_, &value) || !expect(' ') || value < 0) {
        at_ = start;
        refused = refusal("a row number followed by one space");
      } else {
        at_ = start;
        refused = refusal(value >= limit ? "a row number below " + std::to_string(num_rows_)
                                         : std::string("a row other than the fixed row"));
      }
      break;
    }
    ++at;
    const auto word = static_cast<std::size_t>(row >> 6);
    __builtin_prefetch(held_ + word, 1);
    starts[(set_.rows.size() - first) % k_ahead] = start;
    set_.rows.push_back(static_cast<int32_t>(row));
    if (set_.rows.size() - checked > k_ahead) {
      if (const char* twice = check_up_to(set_.rows.size() - k_ahead)) {
        at_ = twice;
        refused = refusal("a row not listed before in this bicluster");
        break;
      }
    }
  }
  if (!refused) {
    if (const char* twice = check_up_to(set_.rows.size())) {
      at_ = twice;
      refused = refusal("a row not listed before in this bicluster");
    }
  }
  // The marks of this bicluster's rows, cleared for the next.
  for (std::size_t i = first; i < set_.rows.size(); ++i) {
    const auto row = static_cast<std::size_t>(set_.rows[i]);
    largest_row_ = std::max<int64_t>(largest_row_, static_cast<int64_t>(row));
    held_[row >> 6] = 0;
  }
  if (refused) return refused;
  at_ = at;
  if (!expect('\n')) return refusal("a row number followed by one space, or a line feed");
  set_.offsets.push_back(static_cast<int64_t>(set_.rows.size()));
  ++line_;
  return std::nullopt;
}

std::optional<std::string> reader::read_fixed_column(bool first) {
  int32_t value = 0;
  const char* const start = at_;
  if (!number_line(&value)) {
    at_ = start;
    return refusal("the fixed column, a number alone on its line");
  }
  if (first) {
    set_.fixed_column = value;
  } else if (value != set_.fixed_column) {
    at_ = start;
    return refusal("the fixed column of every record, " + std::to_string(set_.fixed_column));
  }
  ++line_;
  return std::nullopt;
}

std::optional<std::string> reader::read_columns(bool first) {
  if (!first) {
    // The same bytes as the first record's list.
    const std::size_t length = column_line_.size();
    if (static_cast<std::size_t>(end_ - at_) < length ||
        std::memcmp(at_, column_line_.data(), length) != 0) {
      return refusal("the column list of line " + std::to_string(column_line_number_));
    }
    at_ += length;
    ++line_;
    return std::nullopt;
  }
  const char* const line_start = at_;
  const int64_t fixed = set_.fixed_column;
  const bool bounded = num_columns_ != -1;
  // The columns are 0 upwards, the fixed one left out.
  int64_t next = fixed == 0 ? 1 : 0;
  int64_t last = -1;
  while (at_ < end_ && *at_ != '\n' && !(bounded && next >= num_columns_)) {
    const char* const start = at_;
    int32_t column = 0;
    if (!parse_number(at_, end_, &column) || !expect(' ') || column != next) {
      at_ = start;
      return refusal("column " + std::to_string(next) + " followed by one space");
    }
    last = next;
    next += 1 + (next + 1 == fixed);
  }
  if (bounded && next >= num_columns_) {
    if (!expect('\n')) return refusal("a line feed after the last column");
  } else if (bounded || !expect('\n')) {
    return refusal("column " + std::to_string(next) + " followed by one space");
  }
  if (!bounded) set_.num_columns = static_cast<int32_t>(last + 1);
  column_line_ = std::string_view(line_start, static_cast<std::size_t>(at_ - line_start));
  column_line_number_ = line_;
  ++line_;
  return std::nullopt;
}

std::optional<std::string> reader::read() {
  set_ = bicluster_set{};
  set_.num_columns = num_columns_ == -1 ? 0 : num_columns_;
  set_.offsets.push_back(0);
  // Rows below num_rows, or below 2^31 when it is not given.
  const int64_t rows = num_rows_ == -1 ? int64_t{INT32_MAX} + 1 : num_rows_;
  held_size_ = static_cast<std::size_t>((rows + 63) / 64 + 1) * sizeof(uint64_t);
  void* const table = mmap(nullptr, held_size_, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (table == MAP_FAILED) throw std::bad_alloc();
  held_ = static_cast<uint64_t*>(table);
  // Every row takes two bytes at least: room for that many, asked for once,
  // so that the rows are never moved; the system gives pages as they fill.
  try {
    set_.rows.reserve(static_cast<std::size_t>(end_ - at_) / 2);
    ask_for_huge_pages(set_.rows.data(), set_.rows.capacity() * sizeof(int32_t));
  } catch (...) {
    // Without that room the rows grow as they are read.
  }
  for (int64_t index = 0; at_ < end_; ++index) {
    if (index > INT32_MAX) return refusal("the end of the file after the last bicluster");
    const bool first = index == 0;
    if (auto refused = read_header(static_cast<int32_t>(index))) return refused;
    if (auto refused = read_fixed_row(first)) return refused;
    if (auto refused = read_free_rows()) return refused;
    if (auto refused = read_fixed_column(first)) return refused;
    if (auto refused = read_columns(first)) return refused;
  }
  set_.num_rows = num_rows_ != -1 ? num_rows_ : static_cast<int32_t>(largest_row_ + 1);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> read_biclusters(std::string_view text, bicluster_set& set,
                                           int32_t num_rows, int32_t num_columns) {
  try {
    reader file(text, set, num_rows < 0 ? -1 : num_rows, num_columns < 0 ? -1 : num_columns);
    return file.read();
  } catch (...) {
    // Only an allocation can throw here.
    return std::string("out of memory while reading the biclusters");
  }
}

std::optional<std::string> read_bicluster_file(const std::string& path, bicluster_set& set,
                                               int32_t num_rows, int32_t num_columns) {
  const int descriptor = open_file(path, O_RDONLY | O_NOCTTY);
  if (descriptor < 0) return path + ": " + std::strerror(errno);
  // Read into memory rather than mapped: a file that another program cuts
  // short while it is read would end the process at the missing page.
  std::optional<std::string> result;
  try {
    struct stat info;
    std::size_t room = std::size_t{1} << 20;
    if (fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
      room = static_cast<std::size_t>(info.st_size) + 1;
    }
    std::unique_ptr<char[]> text(new char[room]);
    ask_for_huge_pages(text.get(), room);
    std::size_t used = 0;
    for (;;) {
      if (used == room) {
        std::unique_ptr<char[]> larger(new char[2 * room]);
        std::memcpy(larger.get(), text.get(), used);
        text = std::move(larger);
        room *= 2;
      }
      const ssize_t got = ::read(descriptor, text.get() + used, room - used);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        result = path + ": " + std::strerror(errno);
        break;
      }
      if (got == 0) {
        result = read_biclusters(std::string_view(text.get(), used), set, num_rows, num_columns);
        break;
      }
      used += static_cast<std::size_t>(got);
    }
  } catch (...) {
    result = path + ": " + std::strerror(ENOMEM);
  }
  ::close(descriptor);
  return result;
}

}  // namespace init_bicluster
