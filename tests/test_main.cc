// The tests' main: GoogleTest's, with every test under the watchdog.
#include <gtest/gtest.h>

#include "test_watchdog.h"

namespace {

class watchdog_listener final : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo& test) override {
    init_bicluster::test_watchdog::begin_test(std::string(test.test_suite_name()) + "." +
                                              test.name());
  }
  void OnTestEnd(const ::testing::TestInfo&) override { init_bicluster::test_watchdog::end_test(); }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  init_bicluster::test_watchdog::start();
  ::testing::UnitTest::GetInstance()->listeners().Append(new watchdog_listener);
  const int status = RUN_ALL_TESTS();
  init_bicluster::test_watchdog::finish();
  return status;
}
