#include "decimal.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace init_bicluster {
namespace {

TEST(AppendDecimal, WritesWhatPrintfWrites) {
  std::vector<uint32_t> values = {0, 4294967295u, 2147483647u, 2147483648u};
  for (uint32_t power = 1; power <= 1000000000u; power *= 10) {
    values.insert(values.end(), {power - 1, power, power + 1, power * 2 - 1});
    if (power == 1000000000u) break;
  }
  std::mt19937 random(7);
  for (int i = 0; i < 100000; ++i) values.push_back(static_cast<uint32_t>(random()) >> (i % 32));
  for (const uint32_t value : values) {
    char text[k_decimal_room];
    char* end = append_decimal(text, value);
    ASSERT_EQ(std::string(text, end), std::to_string(value));
  }
}

}  // namespace
}  // namespace init_bicluster
