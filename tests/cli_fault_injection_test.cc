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
    log_ = directory_ + "/../" + std::filesystem::path(directory_).filename().string() + ".log";
  }
  void TearDown() override {
    std::filesystem::remove(log_);
    CommandLine::TearDown();
  }

  // Runs the tool under strace on an old output file, tracing the calls that
  // write and put the file in place, with `injection` (an inject=... rule,
  // or nothing) applied to them.
  process_result run_injected(const std::string& injection) {
    write_file(output_, "old\n");
    // LeakSanitizer, in sanitizer builds, cannot work under ptrace.
    std::vector<std::string> arguments = {"strace",
                                          "-o",
                                          log_,
                                          "-e",
                                          "trace=write,close,linkat,rename",
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
    for (std::string line; std::getline(log, line);) calls.push_back(line);
    return calls;
  }

  // The output file as it was before the run, and nothing beside it.
  void expect_old_file_alone(const std::string& what) const {
    EXPECT_TRUE(read_file(output_) == "old\n") << what << ": the old file was changed";
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory_)) {
      ++files;
    }
    EXPECT_EQ(files, 1) << what << ": something was left beside the output";
  }

  // Buffered records and column lines long enough to be written directly.
  const std::vector<std::string> k_arguments = {"3000", "6000", "10", "1", "3000", "5", "7"};
  // How a traced write to the output begins, found in the clean run: the
  // descriptor of the first record's write.
  std::string output_write_;
  std::string log_;
};

TEST_F(FaultInjection, EveryWriteThatFailsIsReportedAndTheLast) {
  ASSERT_EQ(run_injected("").exit_status, 0);
  std::size_t writes = 0;
  for (const std::string& call : traced_calls()) {
    if (output_write_.empty() && call.find(", \"BICLUSTER 0\\n") != std::string::npos) {
      output_write_ = call.substr(0, call.find(' ') + 1);
    }
    writes += !output_write_.empty() && call.starts_with(output_write_);
  }
  ASSERT_GT(writes, 10u);
  for (std::size_t position = 1; position <= writes; ++position) {
    const process_result result =
        run_injected("inject=write:error=EIO:when=" + std::to_string(position));
    EXPECT_EQ(result.exit_status, 1) << position;
    EXPECT_EQ(result.standard_error, "Could not write output file: Input/output error\n")
        << position;
    std::size_t written = 0;
    bool failed = false;
    for (const std::string& call : traced_calls()) {
      if (!call.starts_with(output_write_)) continue;
      EXPECT_FALSE(failed) << "a write after the failure at " << position << ": " << call;
      ++written;
      failed = call.find("INJECTED") != std::string::npos;
    }
    EXPECT_EQ(written, position);
    expect_old_file_alone("write " + std::to_string(position));
  }
}

TEST_F(FaultInjection, AFailureToPutTheFileInPlaceKeepsTheOldOne) {
  ASSERT_EQ(run_injected("").exit_status, 0);
  // The close of the output is the first close after its writes.
  std::size_t closes = 0;
  bool wrote = false;
  for (const std::string& call : traced_calls()) {
    wrote = wrote || call.starts_with("write(");
    if (!call.starts_with("close(")) continue;
    ++closes;
    if (wrote) break;
  }
  const struct {
    std::string injection;
    std::string message;
  } cases[] = {
      {"inject=close:error=EIO:when=" + std::to_string(closes), "Input/output error"},
      {"inject=linkat:error=ENOSPC", "No space left on device"},
      {"inject=rename:error=EXDEV", "Invalid cross-device link"},
  };
  for (const auto& c : cases) {
    const process_result result = run_injected(c.injection);
    EXPECT_EQ(result.exit_status, 1) << c.injection;
    EXPECT_EQ(result.standard_error, "Could not write output file: " + c.message + "\n");
    expect_old_file_alone(c.injection);
  }
}

}  // namespace
}  // namespace init_bicluster
