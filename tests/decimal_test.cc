#include "decimal.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "vector_path.h"

namespace init_bicluster {
namespace {

// Every digit count and its edges, the largest values, and random values of
// every bit length.
std::vector<uint32_t> values_to_format() {
  std::vector<uint32_t> values = {0, 4294967295u, 2147483647u, 2147483648u};
  for (uint32_t power = 1; power <= 1000000000u; power *= 10) {
    values.insert(values.end(), {power - 1, power, power + 1, power * 2 - 1});
    if (power == 1000000000u) break;
  }
  std::mt19937 random(7);
  for (int i = 0; i < 100000; ++i) values.push_back(static_cast<uint32_t>(random()) >> (i % 32));
  return values;
}

TEST(AppendDecimal, WritesWhatPrintfWrites) {
  for (const uint32_t value : values_to_format()) {
    char text[k_decimal_room];
    char* end = append_decimal(text, value);
    ASSERT_EQ(std::string(text, end), std::to_string(value));
  }
}

// Runs of every length from every start, so that groups of eight hold small
// and large values together and the runs end inside a group.
TEST(AppendMembers, WritesWhatPrintfWritesOnEveryPath) {
  const std::vector<uint32_t> values = values_to_format();
  for (const vector_path path : k_vector_paths) {
    if (!select_vector_path(path)) continue;
    for (std::size_t start = 0; start + 20 < values.size(); start += 37) {
      const std::size_t count = start % 20;
      std::string expected;
      for (std::size_t i = start; i < start + count; ++i) {
        expected += std::to_string(values[i]) + ' ';
      }
      std::vector<char> text(count * k_member_room);
      char* end = append_members(text.data(), values.data() + start, count);
      ASSERT_EQ(std::string(text.data(), end), expected) << static_cast<int>(path) << " " << start;
    }
  }
  select_vector_path(best_vector_path());
}

}  // namespace
}  // namespace init_bicluster
