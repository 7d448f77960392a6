#include "init_bicluster.h"

#include <gtest/gtest.h>

#include <string>

#include "memory_environment.h"
#include "process_runner.h"
#include "run_control.h"

namespace init_bicluster {
namespace {

run_params example_params() {
  run_params params;
  params.num_rows = 6;
  params.num_columns = 4;
  params.num_biclusters = 2;
  params.min_rows = 2;
  params.max_rows = 3;
  params.fixed_row = 4;
  params.fixed_column = 2;
  return params;
}

TEST(WriteBiclusters, WritesWhatTheToolWritesForTheSameSeed) {
  string_sink sink;
  EXPECT_EQ(write_biclusters(example_params(), 1, sink), 0);
  EXPECT_EQ(sink.text(), read_file(std::string(TEST_DATA_DIR) + "/example.txt"));

  memory_environment environment(1234);
  const char* const argv[] = {"tool", "6", "4", "2", "2", "3", "4", "2", "out"};
  ASSERT_EQ(run_init_bicluster(9, argv, environment).exit_status, 0);
  string_sink same_seed;
  EXPECT_EQ(write_biclusters(example_params(), 1234, same_seed), 0);
  EXPECT_EQ(same_seed.text(), environment.text);
}

// Counts calls; fails the first write or the close.
class failing_sink final : public output_sink {
 public:
  explicit failing_sink(bool fail_write) : fail_write_(fail_write) {}
  int write(std::string_view) override {
    ++calls;
    return fail_write_ ? EPIPE : 0;
  }
  int close() override {
    ++calls;
    return fail_write_ ? 0 : EDQUOT;
  }
  int calls = 0;

 private:
  bool fail_write_;
};

TEST(WriteBiclusters, ReportsTheSinksFailures) {
  failing_sink bad_write(true);
  EXPECT_EQ(write_biclusters(example_params(), 1, bad_write), EPIPE);
  EXPECT_EQ(bad_write.calls, 1);
  failing_sink bad_close(false);
  EXPECT_EQ(write_biclusters(example_params(), 1, bad_close), EDQUOT);
  EXPECT_EQ(bad_close.calls, 2);
  // The same through a set drawn into memory, as the bindings write.
  bicluster_set set;
  ASSERT_EQ(draw_biclusters(example_params(), 1, set), 0);
  failing_sink set_write(true);
  EXPECT_EQ(write_biclusters(set, set_write), EPIPE);
  EXPECT_EQ(set_write.calls, 1);
  failing_sink set_close(false);
  EXPECT_EQ(write_biclusters(set, set_close), EDQUOT);
  EXPECT_EQ(set_close.calls, 2);
}

TEST(Version, IsTheBuildsVersion) {
  EXPECT_STREQ(version(), INIT_BICLUSTER_VERSION);
  EXPECT_EQ(std::string(version()), std::to_string(INIT_BICLUSTER_VERSION_MAJOR) + "." +
                                        std::to_string(INIT_BICLUSTER_VERSION_MINOR) + "." +
                                        std::to_string(INIT_BICLUSTER_VERSION_PATCH));
}

}  // namespace
}  // namespace init_bicluster
