#include "bicluster_file_check.h"

#include <charconv>
#include <cstdint>
#include <set>
#include <string_view>
#include <vector>

namespace init_bicluster {

namespace {

// Splits off the next line (without its line feed); false when none is left.
bool next_line(std::string_view* text, std::string_view* line) {
  const std::size_t end = text->find('\n');
  if (end == std::string_view::npos) return false;
  *line = text->substr(0, end);
  text->remove_prefix(end + 1);
  return true;
}

// Reads a list line: numbers each followed by exactly one space.
bool read_list(std::string_view line, std::vector<int64_t>* members) {
  while (!line.empty()) {
    int64_t value = 0;
    const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), value);
    if (error != std::errc() || end == line.data() + line.size() || *end != ' ') return false;
    if (std::to_string(value) != std::string_view(line.data(), end)) return false;
    members->push_back(value);
    line.remove_prefix(static_cast<std::size_t>(end - line.data()) + 1);
  }
  return true;
}

}  // namespace

std::string check_bicluster_file(const std::string& text, const run_params& params) {
  const int64_t fixed = params.fixed_row != -1 ? 1 : 0;
  std::string_view rest = text;
  const int64_t records = params.num_biclusters > 0 ? params.num_biclusters : 0;
  std::string expected_columns;
  for (int64_t column = 0; records > 0 && column < params.num_columns; ++column) {
    if (column != params.fixed_column) expected_columns += std::to_string(column) + " ";
  }
  for (int64_t index = 0; index < records; ++index) {
    const std::string where = "record " + std::to_string(index) + ": ";
    std::string_view header, fixed_row, rows, fixed_column, columns;
    if (!next_line(&rest, &header) || !next_line(&rest, &fixed_row) || !next_line(&rest, &rows) ||
        !next_line(&rest, &fixed_column) || !next_line(&rest, &columns)) {
      return where + "fewer than five lines";
    }
    if (header != "BICLUSTER " + std::to_string(index)) return where + "bad header";
    if (fixed_row != std::to_string(params.fixed_row)) return where + "bad fixed row line";
    if (fixed_column != std::to_string(params.fixed_column)) return where + "bad fixed column line";
    if (columns != expected_columns) return where + "bad column list";
    std::vector<int64_t> members;
    if (!read_list(rows, &members)) return where + "bad free-row list";
    std::set<int64_t> seen;
    for (const int64_t row : members) {
      if (row < 0 || row >= params.num_rows) return where + "free row out of range";
      if (row == params.fixed_row) return where + "free row is the fixed row";
      if (!seen.insert(row).second) return where + "free row repeated";
    }
    const int64_t count = static_cast<int64_t>(members.size());
    // A drawn size s gives max(0, s - fixed) free rows.
    const bool size_fits =
        count > 0 ? params.min_rows <= count + fixed && count + fixed <= params.max_rows
                  : params.min_rows <= fixed;
    if (!size_fits) return where + "free-row count fits no size in range";
  }
  if (!rest.empty()) return "bytes after the last record";
  return "";
}

}  // namespace init_bicluster
