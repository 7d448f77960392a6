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

// Room for the rows of `size` bytes of text, asked for once so that they are
// never moved (every row takes two bytes at least); the system gives pages as
// they fill. Without that room the rows grow as they are read.
void reserve_rows(bicluster_set& set, std::size_t size) {
  try {
    set.rows.reserve(size / 2);
    ask_for_huge_pages(set.rows.data(), set.rows.capacity() * sizeof(int32_t));
  } catch (...) {
  }
}

class reader {
 public:
  // Reads all of `text`.
  reader(std::string_view text, bicluster_set& set, int32_t num_rows, int32_t num_columns)
      : at_(text.data()), end_(text.data() + text.size()), set_(set), num_rows_(num_rows),
        num_columns_(num_columns), size_(text.size()) {}

  // Reads what `descriptor` gives, a block at a time, up to `size` bytes
  // (-1: to its end). Requires `buffer` of k_block bytes.
  reader(int descriptor, int64_t size, std::unique_ptr<char[]> buffer, bicluster_set& set,
         int32_t num_rows, int32_t num_columns)
      : at_(buffer.get()), end_(buffer.get()), set_(set), num_rows_(num_rows),
        num_columns_(num_columns), size_(size < 0 ? 0 : static_cast<std::size_t>(size)),
        descriptor_(descriptor), left_(size), more_(true), buffer_(std::move(buffer)) {}

  reader(const reader&) = delete;
  reader& operator=(const reader&) = delete;
  ~reader() {
    if (held_ != nullptr) munmap(held_, held_words_ * sizeof(uint64_t));
  }

  std::optional<std::string> read();

  // The errno value of a failed read of the descriptor, or 0.
  int read_error() const { return read_error_; }

  // How many bytes of input are held at once, and how many a field needs
  // ahead of it: the longest number, its space and more.
  static constexpr std::size_t k_block = std::size_t{1} << 20;
  static constexpr std::size_t k_field = 32;

 private:
  // Makes `wanted` bytes from `at_` on available, or all that are left;
  // moves them, so that every pointer into them but `at_` and `end_` is
  // then stale. Requires `wanted` <= k_block / 2.
  void fill(std::size_t wanted);
  // The message for line `line_`: `expected` was wanted at `at_`, where
  // `found` (or, when empty, the bytes there) stood.
  std::string refusal(const std::string& expected, const std::string& found = "");
  // Whether `*at_` is `character`; passes it when it is.
  bool expect(char character) {
    if (at_ == end_ || *at_ != character) return false;
    ++at_;
    return true;
  }
  // A number alone on its line. Requires k_field bytes filled.
  bool number_line(int32_t* value) { return parse_number(at_, end_, value) && expect('\n'); }
  std::optional<std::string> read_header(int32_t index);
  std::optional<std::string> read_fixed_row(bool first);
  std::optional<std::string> read_free_rows();
  std::optional<std::string> read_fixed_column(bool first);
  std::optional<std::string> read_columns(bool first);
  std::optional<std::string> compare_columns();
  // What the column lists lack when `num_columns` was given, for a message.
  std::string given_columns() const {
    return num_columns_ == -1 ? "" : " (num_columns is " + std::to_string(num_columns_) + ")";
  }
  // Makes the table of rows hold `row`. Returns false when it cannot grow.
  bool hold(std::size_t row);
  // Whether `row` is already among the free rows of this bicluster; marks it.
  bool seen(int32_t row);

  const char* at_;
  const char* end_;
  bicluster_set& set_;
  const int32_t num_rows_;
  const int32_t num_columns_;
  // The size of the input, where it is known; 0 otherwise.
  const std::size_t size_;
  // The descriptor read, -1 for a text given whole; the bytes still to be
  // read of it (-1: all it gives); whether more may come; the failure of a
  // read; the block the bytes are held in.
  int descriptor_ = -1;
  int64_t left_ = 0;
  bool more_ = false;
  int read_error_ = 0;
  std::unique_ptr<char[]> buffer_;
  int64_t line_ = 1;
  int64_t largest_row_ = -1;
  // The column list of the first record, its line feed included.
  std::string column_line_;
  int64_t column_line_number_ = 0;
  // A bit per row, set for the rows of the bicluster being read: zeroed
  // pages that grow with the largest row named, so that a few rows cost a
  // few pages, and pages the system gives only where rows fall.
  uint64_t* held_ = nullptr;
  std::size_t held_words_ = 0;
};

void reader::fill(std::size_t wanted) {
  if (!more_ || static_cast<std::size_t>(end_ - at_) >= wanted) return;
  char* const start = buffer_.get();
  const auto kept = static_cast<std::size_t>(end_ - at_);
  std::memmove(start, at_, kept);
  at_ = start;
  char* end = start + kept;
  while (more_ && static_cast<std::size_t>(end - at_) < wanted) {
    std::size_t room = k_block - static_cast<std::size_t>(end - start);
    if (left_ >= 0) room = std::min<std::size_t>(room, static_cast<std::size_t>(left_));
    const ssize_t got = room == 0 ? 0 : ::read(descriptor_, end, room);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got < 0) read_error_ = errno;
      more_ = false;
      break;
    }
    end += got;
    if (left_ >= 0) left_ -= got;
  }
  end_ = end;
}

std::string reader::refusal(const std::string& expected, const std::string& found_text) {
  std::string found = found_text;
  fill(k_shown_bytes);
  if (!found.empty()) {
    found = "'" + found + "'";
  } else if (at_ == end_) {
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
    const bool cut = (stop < end_ || more_) && stop[-1] != ' ' && stop[-1] != '\n';
    found += cut ? "...'" : "'";
  }
  return "line " + std::to_string(line_) + ": " + expected + ", found " + found;
}

std::optional<std::string> reader::read_header(int32_t index) {
  static constexpr std::string_view k_word = "BICLUSTER ";
  int32_t value = 0;
  fill(k_word.size() + k_field);
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
  fill(k_field);
  const char* const start = at_;
  if (!number_line(&value)) {
    at_ = start;
    return refusal("the fixed row, a number alone on its line");
  }
  if (first) {
    // Rows below num_rows, or below 2^31 - 1, the tool's largest count.
    const int32_t limit = num_rows_ == -1 ? INT32_MAX : num_rows_;
    if (value < -1 || value >= limit) {
      at_ = start;
      return refusal(num_rows_ == -1 && value < -1
                         ? std::string("-1 or a row number")
                         : "-1 or a row number below " + std::to_string(limit));
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

bool reader::hold(std::size_t row) {
  const std::size_t words = row / 64 + 1;
  if (words <= held_words_) return true;
  // At least twice the table, and a page's worth to begin with.
  const std::size_t wanted = std::max({words, 2 * held_words_, std::size_t{512}});
  void* table =
      held_ == nullptr
          ? mmap(nullptr, wanted * sizeof(uint64_t), PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0)
          : mremap(held_, held_words_ * sizeof(uint64_t), wanted * sizeof(uint64_t), MREMAP_MAYMOVE);
  if (table == MAP_FAILED) return false;
  held_ = static_cast<uint64_t*>(table);
  held_words_ = wanted;
  return true;
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
  const std::size_t first = set_.rows.size();
  std::size_t checked = first;
  // The first row listed twice among those read but not checked yet.
  const auto check_up_to = [&](std::size_t last) -> std::optional<int32_t> {
    for (; checked < last; ++checked) {
      if (seen(set_.rows[checked])) return set_.rows[checked];
    }
    return std::nullopt;
  };
  const auto twice = [&](int32_t row) {
    return refusal("a row not listed before in this bicluster", std::to_string(row) + " ");
  };
  std::optional<std::string> refused;
  // Rows below num_rows, or below 2^31 - 1, the tool's largest count.
  const int64_t limit = num_rows_ == -1 ? int64_t{INT32_MAX} : num_rows_;
  // The common case, digits and a space, on locals the loop keeps in
  // registers; anything else goes to parse_number for the message.
  const char* at = at_;
  const char* end = end_;
  for (;;) {
    if (static_cast<std::size_t>(end - at) < k_field && more_) {
      at_ = at;
      fill(k_field);
      at = at_;
      end = end_;
    }
    if (at == end || *at == '\n') break;
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
    if (good && !hold(static_cast<std::size_t>(row))) throw std::bad_alloc();
    if (!good) {
      at_ = start;
      int32_t value = 0;
      if (const auto repeated = check_up_to(set_.rows.size())) {
        refused = twice(*repeated);
      } else if (!parse_number(at_, end_, &value) || !expect(' ') || value < 0) {
        at_ = start;
        refused = refusal("a row number followed by one space");
      } else {
        at_ = start;
        refused = refusal(value >= limit ? "a row number below " + std::to_string(limit)
                                         : std::string("a row other than the fixed row"));
      }
      break;
    }
    ++at;
    const auto word = static_cast<std::size_t>(row >> 6);
    __builtin_prefetch(held_ + word, 1);
    set_.rows.push_back(static_cast<int32_t>(row));
    if (set_.rows.size() - checked > k_ahead) {
      if (const auto repeated = check_up_to(set_.rows.size() - k_ahead)) {
        refused = twice(*repeated);
        break;
      }
    }
  }
  if (!refused) {
    if (const auto repeated = check_up_to(set_.rows.size())) refused = twice(*repeated);
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
  fill(k_field);
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

std::optional<std::string> reader::compare_columns() {
  // The same bytes as the first record's list, compared a block at a time;
  // only whole numbers are passed, so that where the lists part the
  // number there is still held.
  const std::size_t length = column_line_.size();
  std::size_t matched = 0;
  while (matched < length) {
    const std::size_t wanted = std::min(length - matched, k_block / 2);
    fill(wanted);
    const std::size_t available = std::min(static_cast<std::size_t>(end_ - at_), length - matched);
    const char* const expected = column_line_.data() + matched;
    const std::size_t same =
        available > 0 && std::memcmp(at_, expected, available) == 0
            ? available
            : static_cast<std::size_t>(std::mismatch(at_, at_ + available, expected).first - at_);
    // Less than was wanted: the input ended there.
    if (same < available || available < wanted) {
      // The number where they part, from the space before it.
      const std::size_t parted = matched + same;
      const std::size_t number = column_line_.rfind(' ', parted == 0 ? 0 : parted - 1);
      const std::size_t begin = number == std::string::npos || parted == 0 ? 0 : number + 1;
      at_ += begin - matched;
      std::string wanted = "a line feed after the last column";
      if (column_line_[begin] != '\n') {
        wanted = "column " + column_line_.substr(begin, column_line_.find(' ', begin) - begin) +
                 " followed by one space";
      }
      return refusal("the column list of line " + std::to_string(column_line_number_) + " (" +
                     wanted + ")");
    }
    // Past the last space of what matched, or to the end of the line.
    std::size_t passed = available;
    if (matched + available < length) {
      const void* space = memrchr(at_, ' ', available);
      passed = space == nullptr ? 0 : static_cast<std::size_t>(static_cast<const char*>(space) - at_) + 1;
    }
    at_ += passed;
    matched += passed;
  }
  ++line_;
  return std::nullopt;
}

std::optional<std::string> reader::read_columns(bool first) {
  if (!first) return compare_columns();
  const int64_t fixed = set_.fixed_column;
  const bool bounded = num_columns_ != -1;
  // The columns are 0 upwards, the fixed one left out.
  int64_t next = fixed == 0 ? 1 : 0;
  int64_t last = -1;
  for (;;) {
    fill(k_field);
    if (at_ == end_ || *at_ == '\n' || (bounded && next >= num_columns_)) break;
    const char* const start = at_;
    int32_t column = 0;
    if (!parse_number(at_, end_, &column) || !expect(' ') || column != next) {
      at_ = start;
      return refusal("column " + std::to_string(next) + " followed by one space" +
                     given_columns());
    }
    column_line_.append(start, static_cast<std::size_t>(at_ - start));
    last = next;
    next += 1 + (next + 1 == fixed);
  }
  if (bounded && next >= num_columns_) {
    if (!expect('\n')) return refusal("a line feed after the last column" + given_columns());
  } else if (bounded || !expect('\n')) {
    return refusal("column " + std::to_string(next) + " followed by one space" + given_columns());
  }
  if (!bounded) set_.num_columns = static_cast<int32_t>(last + 1);
  column_line_ += '\n';
  column_line_number_ = line_;
  ++line_;
  return std::nullopt;
}

std::optional<std::string> reader::read() {
  set_ = bicluster_set{};
  set_.num_columns = num_columns_ == -1 ? 0 : num_columns_;
  set_.offsets.push_back(0);
  reserve_rows(set_, size_);
  for (int64_t index = 0;; ++index) {
    fill(1);
    if (at_ == end_) break;
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
    return std::string(k_reader_out_of_memory);
  }
}

std::optional<std::string> read_biclusters_from(int descriptor, bicluster_set& set,
                                                int32_t num_rows, int32_t num_columns,
                                                int* error) {
  int failure = 0;
  std::optional<std::string> result;
  try {
    // A regular file is read as long as it was when it was opened: what is
    // added later is not read.
    struct stat info;
    const bool sized = fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
    const int64_t size = sized ? static_cast<int64_t>(info.st_size) : -1;
    reader file(descriptor, size, std::unique_ptr<char[]>(new char[reader::k_block]), set,
                num_rows < 0 ? -1 : num_rows, num_columns < 0 ? -1 : num_columns);
    result = file.read();
    failure = file.read_error();
    if (failure != 0) result = std::strerror(failure);
  } catch (...) {
    failure = ENOMEM;
    result = std::string(k_reader_out_of_memory);
  }
  if (error != nullptr) *error = failure;
  return result;
}

std::optional<std::string> read_bicluster_file(const std::string& path, bicluster_set& set,
                                               int32_t num_rows, int32_t num_columns) {
  const int descriptor = open_file(path, O_RDONLY | O_NOCTTY);
  if (descriptor < 0) return path + ": " + std::strerror(errno);
  int error = 0;
  std::optional<std::string> result =
      read_biclusters_from(descriptor, set, num_rows, num_columns, &error);
  ::close(descriptor);
  if (error != 0 && error != ENOMEM) result = path + ": " + *result;
  return result;
}

}  // namespace init_bicluster
