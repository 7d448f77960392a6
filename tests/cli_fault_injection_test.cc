// Write and close failures injected into the running executable by strace:
// every failure is reported, and nothing is written after it.
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli_fixture.h"

namespace init_bicluster {
namespace {

const char* const k_strace = "/usr/bin/strace";

class FaultInjection : public CommandLine {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(k_strace)) GTEST_SKIP() << "strace is not installed";
    CommandLine::SetUp();
    log_ = directory_ + "/strace.log";
  }

  // Runs the tool under strace, tracing only the calls on the output file,
  // with `injection` (an inject=... rule, or nothing) applied to them.
  process_result run_injected(const std::string& injection) {
    // LeakSanitizer, in sanitizer builds, cannot work under ptrace.
    std::vector<std::string> arguments = {"strace",
                                          "-o",
                                          log_,
                                          "-P",
                                          output_,
                                          "-e",
                                          "trace=write,close",
                                          "-E",
                                          "ASAN_OPTIONS=detect_leaks=0"};
    if (!injection.empty()) arguments.insert(arguments.end(), {"-e", injection});
    arguments.push_back(TOOL_PATH);
    arguments.insert(arguments.end(), k_arguments.begin(), k_arguments.end());
    arguments.push_back(output_);
    return run_process(k_strace, arguments);
  }

  // The traced calls, one line each.
  std::vector<std::string> traced_calls() const {
    std::istringstream log(read_file(log_));
    std::vector<std::string> calls;
    for (std::string line; std::getline(log, line);) {
      if (line.starts_with("write(") || line.starts_with("close(")) calls.push_back(line);
    }
    return calls;
  }

  // Buffered records and column lines long enough to be written directly.
  const std::vector<std::string> k_arguments = {"3000", "6000", "10", "1", "3000", "5", "7"};
  std::string log_;
};

TEST_F(FaultInjection, EveryWriteThatFailsIsReportedAndTheLast) {
  ASSERT_EQ(run_injected("").exit_status, 0);
  std::size_t writes = 0;
  for (const std::string& call : traced_calls()) writes += call.starts_with("write(");
  ASSERT_GT(writes, 10u);
  for (std::size_t position = 1; position <= writes; ++position) {
    const process_result result =
        run_injected("inject=write:error=EIO:when=" + std::to_string(position));
    EXPECT_EQ(result.exit_status, 1) << position;
    EXPECT_EQ(result.standard_error, "Could not write output file: Input/output error\n")
        << position;
    const std::vector<std::string> calls = traced_calls();
    std::size_t written = 0;
    bool failed = false;
    for (const std::string& call : calls) {
      if (!call.starts_with("write(")) continue;
      EXPECT_FALSE(failed) << "a write after the failure at " << position << ": " << call;
      ++written;
      failed = call.find("INJECTED") != std::string::npos;
    }
    EXPECT_EQ(written, position);
  }
}

TEST_F(FaultInjection, AFailedCloseIsReported) {
  const process_result result = run_injected("inject=close:error=EIO");
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.standard_error, "Could not write output file: Input/output error\n");
}

}  // namespace
}  // namespace init_bicluster
