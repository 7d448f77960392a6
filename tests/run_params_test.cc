#include "run_params.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace init_bicluster {
namespace {

TEST(ConvertArgument, IsLenientAndKeepsTheLow32Bits) {
  const struct {
    const char* text;
    int32_t expected;
  } cases[] = {
      {"5", 5},
      {"5x", 5},
      {"abc", 0},
      {"", 0},
      {"   12", 12},
      {"\t\n 7", 7},
      {"+4", 4},
      {"-1", -1},
      {"-", 0},
      {"+", 0},
      {"1e6", 1},
      {"0x10", 0},
      {"007", 7},
      {"2147483647", 2147483647},
      {"2147483648", -2147483647 - 1},
      {"-2147483648", -2147483647 - 1},
      {"4294967297", 1},  // 2^32 + 1
      {"9223372036854775807", -1},
      {"9223372036854775808", -1},  // beyond 64 bits: the greatest 64-bit value
      {"99999999999999999999999999999", -1},
      {"-9223372036854775809", 0},  // beyond 64 bits: the least 64-bit value
      {" 12 34", 12},
  };
  for (const auto& c : cases)
    EXPECT_EQ(convert_argument(c.text), c.expected) << '"' << c.text << '"';
}

TEST(ParseRunParams, ReadsTheEightArgumentsInOrder) {
  const char* arguments[] = {"10", "20", "3", "2", "5", "4", "-1", "out file.txt", "ignored"};
  const run_params params = parse_run_params(arguments);
  EXPECT_EQ(params.num_rows, 10);
  EXPECT_EQ(params.num_columns, 20);
  EXPECT_EQ(params.num_biclusters, 3);
  EXPECT_EQ(params.min_rows, 2);
  EXPECT_EQ(params.max_rows, 5);
  EXPECT_EQ(params.fixed_row, 4);
  EXPECT_EQ(params.fixed_column, -1);
  EXPECT_EQ(params.output_filename, "out file.txt");
}

run_params with(int32_t num_rows, int32_t min_rows, int32_t max_rows, int32_t fixed_row) {
  run_params params;
  params.num_rows = num_rows;
  params.num_columns = 4;
  params.num_biclusters = 2;
  params.min_rows = min_rows;
  params.max_rows = max_rows;
  params.fixed_row = fixed_row;
  return params;
}

TEST(CheckRunParams, RefusesUnsoundInputWithItsValues) {
  const int32_t least = -2147483647 - 1;
  const struct {
    run_params params;
    std::string message;  // empty: accepted
  } cases[] = {
      {with(10, 1, 11, -1), "Max rows (11) is greater than num rows (10)"},
      {with(10, 1, 10, -1), ""},
      {with(-5, -9, -6, -1), "Num rows (-5) must not be negative"},
      {with(10, 6, 5, -1), "Min rows (6) is greater than max rows (5)"},
      {with(10, 5, 5, 9), ""},
      {with(10, 5, 5, 10), "Fixed row (10) must be -1 or a row index from 0 to 9"},
      {with(10, 5, 5, -2), "Fixed row (-2) must be -1 or a row index from 0 to 9"},
      {with(0, 0, 0, -1), ""},
      {with(0, 0, 0, 0), "Fixed row (0) must be -1 when num rows is 0"},
      {with(10, -3, 2, -1), ""},
      {with(10, least, 10, 0), ""},
      // The first broken rule is the one reported.
      {with(-5, 3, -6, 7), "Num rows (-5) must not be negative"},
      {with(10, 6, 5, 99), "Min rows (6) is greater than max rows (5)"},
  };
  for (const auto& c : cases) {
    const auto refusal = check_run_params(c.params);
    EXPECT_EQ(refusal.value_or(""), c.message)
        << c.params.num_rows << " " << c.params.min_rows << " " << c.params.max_rows << " "
        << c.params.fixed_row;
  }
}

TEST(UsageText, NamesTheProgramAsInvoked) {
  EXPECT_EQ(usage_text("./bin/init_bicluster"),
            "./bin/init_bicluster: Create initial biclusters, potentialy with fixed rows and "
            "columns\nArgs: <num rows> <num columns> <num biclusters> <min rows> <max rows> "
            "<fixed row | -1> <fixed column | -1> <output filename>\n");
}

}  // namespace
}  // namespace init_bicluster
