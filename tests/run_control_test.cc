#include "run_control.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bicluster_file_check.h"
#include "memory_environment.h"

namespace init_bicluster {
namespace {

run_outcome run_with(const std::vector<std::string>& arguments, memory_environment& environment) {
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  return run_init_bicluster(static_cast<int>(argv.size()), argv.data(), environment);
}

TEST(RunControl, WithoutAProgramNameTheUsageNamesTheTool) {
  memory_environment environment(1);
  const char* const argv[] = {nullptr};
  const run_outcome outcome = run_init_bicluster(0, argv, environment);
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.standard_output.substr(0, 16), "init_bicluster: ");
}

TEST(RunControl, AMegabyteArgumentIsReadLikeAnyOther) {
  memory_environment environment(1);
  const std::string digits(1 << 20, '7');
  const std::string spaces_then_number = std::string(1 << 20, ' ') + "12";
  const run_outcome outcome = run_with(
      {"tool", spaces_then_number, "3", "2", "1", "4", "-1", digits, std::string(1 << 20, 'p')},
      environment);
  EXPECT_EQ(outcome.exit_status, 0);
  EXPECT_EQ(outcome.standard_error, "");
  EXPECT_EQ(environment.opened_path.size(), std::size_t{1} << 20);
  run_params params;
  params.num_rows = 12;
  params.num_columns = 3;
  params.num_biclusters = 2;
  params.min_rows = 1;
  params.max_rows = 4;
  params.fixed_column = -1;  // 10^(2^20) - 1 overflows to the greatest 64-bit value
  EXPECT_EQ(check_bicluster_file(environment.text, params), "");
}

// A run large enough to reach the sink many times: buffered records and
// column lines long enough to be handed over directly.
const std::vector<std::string> k_many_writes = {"tool", "3000", "6000", "30", "1",
                                                "3000", "5",    "7",    "out"};

TEST(RunControl, AFailureAtAnyWriteEndsTheRunWithOneMessage) {
  memory_environment clean(5);
  ASSERT_EQ(run_with(k_many_writes, clean).exit_status, 0);
  const int writes = clean.writes;
  ASSERT_GT(writes, 30);
  for (int position = 1; position <= writes; ++position) {
    memory_environment environment(5);
    environment.fail_at_write = position;
    environment.error = position % 2 == 0 ? ENOSPC : EIO;
    const run_outcome outcome = run_with(k_many_writes, environment);
    EXPECT_EQ(outcome.exit_status, 1) << position;
    EXPECT_EQ(outcome.standard_output, "");
    EXPECT_EQ(outcome.standard_error, position % 2 == 0
                                          ? "Could not write output file: No space left on device\n"
                                          : "Could not write output file: Input/output error\n");
    EXPECT_EQ(environment.writes, position) << "a write was tried after the failure";
    EXPECT_EQ(environment.calls_after_failure, 0) << position;
    EXPECT_TRUE(clean.text.starts_with(environment.text));
  }
}

TEST(RunControl, AFailureAtCloseIsAFailure) {
  memory_environment environment(5);
  environment.fail_at_close = true;
  const run_outcome outcome = run_with(k_many_writes, environment);
  EXPECT_EQ(outcome.exit_status, 1);
  EXPECT_EQ(outcome.standard_error, "Could not write output file: Input/output error\n");
  EXPECT_TRUE(environment.closed);
}

TEST(RunControl, RefusalsNeverOpenTheOutput) {
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
           {"tool", "10", "4", "2", "1", "11", "-1", "-1", "out"},
           {"tool", "-5", "4", "2", "-9", "-6", "-1", "-1", "out"},
           {"tool", "10", "4", "2", "6", "5", "-1", "-1", "out"},
           {"tool", "10", "4", "2", "1", "3", "10", "-1", "out"},
           {"tool", "10", "4", "2", "1", "3", "-1", "-1"},
       }) {
    memory_environment environment(1);
    EXPECT_EQ(run_with(arguments, environment).exit_status, 1);
    EXPECT_EQ(environment.opened_path, "");
  }
}

}  // namespace
}  // namespace init_bicluster
