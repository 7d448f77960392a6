// Write and close failures injected into the running executable by strace:
// every failure is reported, and nothing is written after it.
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <sstream>
#include <string>
#include <vector>

#include "cli_fixture.h"

namespace init_bicluster {
namespace {

// AddressSanitizer's runtime and an emulator make writes and closes of their
// own, on the descriptors the output uses too, which strace cannot tell apart
// from the tool's; the ordinary native build runs these tests.
#if !defined(__SANITIZE_ADDRESS__) && !defined(TOOL_UNDER_EMULATOR)

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

  // Runs the tool with seed 1 under strace on an old output file, tracing the calls that
  // write and put the file in place, with `injection` (an inject=... rule,
  // or nothing) applied to them.
  process_result run_injected(const std::string& injection, const run_options& options = {},
                              const std::string& output = "") {
    const std::string& path = output.empty() ? output_ : output;
    if (output.empty()) write_file(output_, "old\n");
    // LeakSanitizer, in sanitizer builds, cannot work under ptrace.
    std::vector<std::string> arguments = {"strace",
                                          "-o",
                                          log_,
                                          "-e",
                                          "trace=write,close,linkat,renameat,openat,fdatasync,fchmod",
                                          "-E",
                                          "ASAN_OPTIONS=detect_leaks=0"};
    if (!injection.empty()) arguments.insert(arguments.end(), {"-e", injection});
    arguments.insert(arguments.end(), {TOOL_PATH, "--seed=1"});
    arguments.insert(arguments.end(), k_arguments.begin(), k_arguments.end());
    arguments.push_back(path);
    return run_process(k_strace, arguments, options);
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

  // Runs the tool without a failure and finds its output's calls among all
  // it makes: how a write to the output begins, with the descriptor of the
  // first record's write, how many writes come before the output's first and
  // how many of its own there are, which close, counted among all, is the
  // output's, and which open makes the unnamed new file.
  void find_output_calls() {
    ASSERT_EQ(run_injected("").exit_status, 0);
    std::size_t writes = 0;
    std::size_t closes = 0;
    std::size_t opens = 0;
    for (const std::string& call : traced_calls()) {
      opens += call.starts_with("openat(");
      if (call.find("O_TMPFILE") != std::string::npos) unnamed_open_ = opens;
      if (output_write_.empty() && call.find(", \"BICLUSTER 0\\n") != std::string::npos) {
        output_write_ = call.substr(0, call.find(' ') + 1);
        output_close_call_ = "close(" + call.substr(6, call.find(',') - 6) + ")";
        writes_before_output_ = writes;
      }
      writes += call.starts_with("write(");
      output_writes_ +=
          output_close_ == 0 && !output_write_.empty() && call.starts_with(output_write_);
      closes += call.starts_with("close(");
      if (output_close_ == 0 && !output_write_.empty() && call.starts_with(output_close_call_)) {
        output_close_ = closes;
      }
    }
    ASSERT_GT(output_writes_, 10u);
  }

  // Buffered records and column lines long enough to be written directly.
  const std::vector<std::string> k_arguments = {"3000", "6000", "10", "1", "3000", "5", "7"};
  std::string output_write_;
  std::string output_close_call_;
  std::size_t writes_before_output_ = 0;
  std::size_t output_writes_ = 0;
  std::size_t output_close_ = 0;
  std::size_t unnamed_open_ = 0;
  std::string log_;
};

TEST_F(FaultInjection, EveryWriteThatFailsIsReportedAndTheLast) {
  ASSERT_NO_FATAL_FAILURE(find_output_calls());
  for (std::size_t position = 1; position <= output_writes_; ++position) {
    const process_result result = run_injected("inject=write:error=EIO:when=" +
                                               std::to_string(writes_before_output_ + position));
    EXPECT_EQ(result.exit_status, 1) << position;
    EXPECT_EQ(result.standard_error, "Could not write output file: Input/output error\n")
        << position;
    std::size_t written = 0;
    bool failed = false;
    for (const std::string& call : traced_calls()) {
      if (written > 0 && call.starts_with(output_close_call_)) break;
      if (!call.starts_with(output_write_)) continue;
      EXPECT_FALSE(failed) << "a write after the failure at " << position << ": " << call;
      ++written;
      failed = call.find("INJECTED") != std::string::npos;
    }
    EXPECT_EQ(written, position);
    expect_old_file_alone("write " + std::to_string(position));
  }
}

// Each failure leaves the old file and nothing beside it. A signal in the
// final step waits until the new file is in place; a file system without
// unnamed files gets a hidden one, which a failure removes.
TEST_F(FaultInjection, TheFinalStepLeavesTheOldFileOrTheWholeNewOne) {
  ASSERT_NO_FATAL_FAILURE(find_output_calls());
  ASSERT_GT(unnamed_open_, 0u);
  const std::string new_file = library_file({"3000", "6000", "10", "1", "3000", "5", "7", ""}, 1);
  const std::pair<int, rlim_t> small_files = {RLIMIT_FSIZE, 65536};
  const struct {
    std::string injection;
    std::vector<std::pair<int, rlim_t>> limits;
    int exit_status;
    std::string message;  // empty: the new file replaced the old one
  } cases[] = {
      {"inject=close:error=EIO:when=" + std::to_string(output_close_), {}, 1, "Input/output error"},
      {"inject=linkat:error=ENOSPC", {}, 1, "No space left on device"},
      {"inject=renameat:error=EXDEV", {}, 1, "Invalid cross-device link"},
      {"inject=linkat:signal=SIGTERM", {}, -1, ""},
      {"inject=renameat:signal=SIGTERM", {}, -1, ""},
      {"inject=fdatasync:error=EIO", {}, 1, "Input/output error"},
      // Labelling the new file: before anything is drawn, then at the end.
      {"inject=fchmod:error=EDQUOT:when=1", {}, 1, "Disk quota exceeded"},
      {"inject=fchmod:error=ENOSPC:when=2", {}, 1, "No space left on device"},
      {"inject=fchmod:error=ENOMEM:when=1", {}, 1, "Cannot allocate memory"},
      {"inject=fchmod:error=EPERM:when=2", {}, 1, "Operation not permitted"},
      {"inject=fchmod:error=EPERM:when=1", {}, 0, ""},
      {"inject=openat:error=ENFILE:when=" + std::to_string(unnamed_open_), {}, 1,
       "Too many open files in system"},
      {"inject=openat:error=EOPNOTSUPP:when=" + std::to_string(unnamed_open_),
       {small_files},
       1,
       "File too large"},
  };
  struct stat before;
  for (const auto& c : cases) {
    run_options options;
    options.limits = c.limits;
    write_file(output_, "old\n");
    ASSERT_EQ(stat(output_.c_str(), &before), 0);
    const process_result result = run_injected(c.injection, options);
    EXPECT_EQ(result.exit_status, c.exit_status) << c.injection;
    if (!c.message.empty()) {
      EXPECT_EQ(result.standard_error, "Could not write output file: " + c.message + "\n");
      expect_old_file_alone(c.injection);
      continue;
    }
    EXPECT_TRUE(read_file(output_) == new_file) << c.injection << ": not the whole new file";
    // A refusal to label the new file writes the path in place.
    struct stat after;
    ASSERT_EQ(stat(output_.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino == before.st_ino, c.exit_status == 0) << c.injection;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory_), {}), 1)
        << c.injection << ": something was left beside the output";
  }
}

// The process of the tool that writes `output`, or 0 when there is none.
pid_t tool_writing(const std::string& output) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string command_line = read_file(entry.path().string() + "/cmdline");
    if (command_line.starts_with(std::string(TOOL_PATH) + '\0') &&
        command_line.find(std::string(1, '\0') + output + '\0') != std::string::npos) {
      return static_cast<pid_t>(std::stol(name));
    }
  }
  return 0;
}

// Changes made while a run is stopped just before its final step: the new
// file takes the identity the old one has then, a folder moved away or
// swapped for a link keeps the write in the folder that was checked, and a
// path that no longer names the checked file is left alone, the run failed.
TEST_F(FaultInjection, ChangesDuringTheRunAreHeeded) {
  const std::string changed =
      "Could not write output file: another program changed the path during the run\n";
  const std::string identity = "stat -c '%a' d/f && getfacl -cp d/f";
  const struct {
    const char* what;
    std::string setup;   // in the test's folder
    std::string change;  // made while the run, writing d/f, is stopped
    std::string message;  // empty: the run succeeds
    std::vector<std::pair<std::string, std::string>> files;  // and their bytes after the run
  } cases[] = {
      {"mode and ACL changed", "chmod 644 d/f && setfacl -m u:2003:rw d/f",
       "chmod 600 d/f && setfacl -x u:2003 d/f", "", {{"d/f", "new"}}},
      {"folder swapped for a link", "mkdir o && echo other > o/f", "mv d moved && ln -s o d", "",
       {{"moved/f", "new"}, {"o/f", "other\n"}}},
      {"file replaced by another", "", "echo other > d/g && mv d/g d/f", changed,
       {{"d/f", "other\n"}}},
      {"second name made", "", "ln d/f d/g", changed, {{"d/f", "old\n"}, {"d/g", "old\n"}}},
      {"new path made", "rm d/f", "echo other > d/f", changed, {{"d/f", "other\n"}}},
  };
  const std::string new_file = library_file({"3000", "6000", "10", "1", "3000", "5", "7", ""}, 1);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(directory_);
    ASSERT_EQ(mkdir(directory_.c_str(), 0755), 0);
    ASSERT_EQ(shell(directory_, "mkdir d && echo old > d/f && true " +
                                    (c.setup.empty() ? "" : "&& " + c.setup)),
              "");
    process_result result;
    const std::string output = directory_ + "/d/f";
    std::filesystem::remove(log_);
    std::thread run([&] { result = run_injected("inject=fdatasync:signal=SIGSTOP", {}, output); });
    while (read_file(log_).find("stopped by SIGSTOP") == std::string::npos) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(shell(directory_, c.change), "");
    const std::string wanted_identity = shell(directory_, identity);
    const pid_t tool = tool_writing(output);
    EXPECT_GT(tool, 0);
    if (tool > 0) kill(tool, SIGCONT);
    run.join();
    EXPECT_EQ(result.exit_status, c.message.empty() ? 0 : 1);
    EXPECT_EQ(result.standard_error, c.message);
    for (const auto& [path, bytes] : c.files) {
      EXPECT_TRUE(read_file(directory_ + "/" + path) == (bytes == "new" ? new_file : bytes))
          << path;
    }
    if (c.message.empty() && c.files[0].first == "d/f") {
      EXPECT_EQ(shell(directory_, identity), wanted_identity);
    }
    EXPECT_EQ(shell(directory_, "find . -name '.f.*'"), "") << "something left beside";
  }
}

#endif

}  // namespace
}  // namespace init_bicluster
