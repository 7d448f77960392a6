// Write and close failures injected into the running executable by strace:
// every failure is reported, and nothing is written after it.
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli_fixture.h"

namespace init_bicluster {
namespace {

// AddressSanitizer's runtime and an emulator make writes and closes of their
// own, on the descriptors the output uses too, which strace cannot tell apart
// from the tool's; the ordinary native build runs these tests.
#if !defined(__SANITIZE_ADDRESS__) && !defined(TOOL_UNDER_EMULATOR)

const char* const k_strace = "/usr/bin/strace";
const char* const k_traced_calls = "write,close,linkat,renameat,openat,fdatasync,fchmod";

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

  // The command that runs the tool with `seed` on `path` under strace,
  // logging to `log` the calls of `trace` (by default those that write and
  // put the file in place), with `injections` (inject=... rules) applied to
  // them.
  std::vector<std::string> traced_command(const std::string& log,
                                          const std::vector<std::string>& injections,
                                          const std::string& path, int seed = 1,
                                          const std::string& trace = k_traced_calls) const {
    // LeakSanitizer, in sanitizer builds, cannot work under ptrace.
    std::vector<std::string> arguments = {
        "strace", "-o", log, "-e", "trace=" + trace, "-E", "ASAN_OPTIONS=detect_leaks=0"};
    for (const std::string& injection : injections) {
      arguments.insert(arguments.end(), {"-e", injection});
    }
    arguments.insert(arguments.end(), {TOOL_PATH, "--seed=" + std::to_string(seed)});
    arguments.insert(arguments.end(), k_arguments.begin(), k_arguments.end());
    arguments.push_back(path);
    return arguments;
  }

  // Runs the tool with seed 1 under strace on an old output file, as
  // traced_command does.
  process_result run_injected(const std::string& injection, const run_options& options = {},
                              const std::string& output = "") {
    const std::string& path = output.empty() ? output_ : output;
    if (output.empty()) write_file(output_, "old\n");
    std::vector<std::string> injections;
    if (!injection.empty()) injections.push_back(injection);
    return run_process(k_strace, traced_command(log_, injections, path), options);
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
      {"inject=openat:error=ENFILE:when=" + std::to_string(unnamed_open_),
       {},
       1,
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

// The processes of the tool that write `output`.
std::vector<pid_t> tools_writing(const std::string& output) {
  std::vector<pid_t> tools;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string command_line = read_file(entry.path().string() + "/cmdline");
    if (command_line.starts_with(std::string(TOOL_PATH) + '\0') &&
        command_line.find(std::string(1, '\0') + output + '\0') != std::string::npos) {
      tools.push_back(static_cast<pid_t>(std::stol(name)));
    }
  }
  return tools;
}

// Waits until the log `log` shows its run stopped.
void wait_until_stopped(const std::string& log) {
  while (read_file(log).find("stopped by SIGSTOP") == std::string::npos) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Lets every stopped run of the tool on `output` go on.
void continue_tools(const std::string& output) {
  const std::vector<pid_t> tools = tools_writing(output);
  EXPECT_FALSE(tools.empty());
  for (const pid_t tool : tools) kill(tool, SIGCONT);
}

// Changes made while a run is stopped, just after it first opened the path
// or just before its final step: the new file takes the identity the old
// one has then, a folder moved away or swapped for a link keeps the write in
// the folder that was checked, and a path that no longer names the checked
// file (or now names one where there was none) is left alone, the run
// failed; a link planted where the run found no file is followed only as
// the kernel follows it; a folder made append-only keeps no hidden file.
TEST_F(FaultInjection, ChangesDuringTheRunAreHeeded) {
  const std::string changed =
      "Could not write output file: another program changed the path during the run\n";
  const std::string identity = "stat -c '%a' d/f && getfacl -cp d/f";
  // The calls to stop at: the path's first open, and the sync of the final
  // step.
  write_file(output_, "old\n");
  ASSERT_EQ(run_injected("").exit_status, 0);
  std::size_t opens = 0;
  for (const std::string& call : traced_calls()) {
    if (!call.starts_with("openat(")) continue;
    ++opens;
    if (call.find("\"" + output_ + "\"") != std::string::npos) break;
  }
  const std::string after_open = "inject=openat:signal=SIGSTOP:when=" + std::to_string(opens);
  const std::string before_commit = "inject=fdatasync:signal=SIGSTOP";
  const struct {
    const char* what;
    std::string setup;  // in the test's folder
    std::string stop;
    std::string change;   // made while the run, writing d/f, is stopped
    std::string message;  // empty: the run succeeds
    // Files and their bytes after the run ("new": the run's, "missing": none).
    std::vector<std::pair<std::string, std::string>> files;
    std::string cleanup = "";
    std::pair<const char*, const char*> setting = {nullptr, nullptr};
  } cases[] = {
      {"mode and ACL changed",
       "chmod 644 d/f && setfacl -m u:2003:rw d/f",
       before_commit,
       "chmod 600 d/f && setfacl -x u:2003 d/f",
       "",
       {{"d/f", "new"}}},
      {"folder swapped for a link",
       "mkdir o && echo other > o/f",
       before_commit,
       "mv d moved && ln -s o d",
       "",
       {{"moved/f", "new"}, {"o/f", "other\n"}}},
      {"file replaced by another",
       "",
       before_commit,
       "echo other > d/g && mv d/g d/f",
       changed,
       {{"d/f", "other\n"}}},
      {"second name made",
       "",
       before_commit,
       "ln d/f d/g",
       changed,
       {{"d/f", "old\n"}, {"d/g", "old\n"}}},
      {"new path made", "rm d/f", before_commit, "echo other > d/f", changed, {{"d/f", "other\n"}}},
      {"file rotated after the open",
       "",
       after_open,
       "mv d/f d/f.1 && echo fresh > d/f",
       changed,
       {{"d/f", "fresh\n"}, {"d/f.1", "old\n"}}},
      {"file made after the open found none",
       "rm d/f",
       after_open,
       "echo other > d/f",
       changed,
       {{"d/f", "other\n"}}},
      {"link planted after the open found none",
       "rm d/f && chmod 1777 d && mkdir -m 700 r",
       after_open,
       "ln -s ../r/victim d/f && chown -h 65534 d/f",
       "Could not open output file\n",
       {{"r/victim", "missing"}},
       "",
       {"protected_symlinks", "1"}},
      {"folder made append-only",
       "",
       before_commit,
       "chattr +a d",
       "Could not write output file: Operation not permitted\n",
       {{"d/f", "old\n"}},
       "chattr -a d"},
  };
  const std::string new_file = library_file({"3000", "6000", "10", "1", "3000", "5", "7", ""}, 1);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(directory_);
    ASSERT_EQ(mkdir(directory_.c_str(), 0755), 0);
    ASSERT_EQ(shell(directory_, "mkdir d && echo old > d/f && true " +
                                    (c.setup.empty() ? "" : "&& " + c.setup)),
              "");
    std::unique_ptr<kernel_setting> setting;
    if (c.setting.first != nullptr) {
      setting = std::make_unique<kernel_setting>(c.setting.first, c.setting.second);
    }
    process_result result;
    const std::string output = directory_ + "/d/f";
    std::filesystem::remove(log_);
    std::thread run([&] { result = run_injected(c.stop, {}, output); });
    wait_until_stopped(log_);
    EXPECT_EQ(shell(directory_, c.change), "");
    const std::string wanted_identity = shell(directory_, identity);
    continue_tools(output);
    run.join();
    EXPECT_EQ(result.exit_status, c.message.empty() ? 0 : 1);
    EXPECT_EQ(result.standard_error, c.message);
    for (const auto& [path, bytes] : c.files) {
      const std::string file = directory_ + "/" + path;
      if (bytes == "missing") {
        EXPECT_FALSE(std::filesystem::exists(file)) << path;
      } else {
        EXPECT_TRUE(read_file(file) == (bytes == "new" ? new_file : bytes)) << path;
      }
    }
    if (c.message.empty() && c.files[0].first == "d/f") {
      EXPECT_EQ(shell(directory_, identity), wanted_identity);
    }
    EXPECT_EQ(shell(directory_, "find . -name '.f.*'"), "") << "something left beside";
    if (!c.cleanup.empty()) {
      EXPECT_EQ(shell(directory_, c.cleanup), "");
    }
  }
}

// Runs that commit to one path at once: each is stopped before its final
// step until both are, and again once it names its new file; both are let
// go together once both are stopped again or one waits for the other's
// lock. Exactly one succeeds; the other fails and leaves the winner's file.
TEST_F(FaultInjection, OfRunsThatCommitAtOnceExactlyOneSucceeds) {
  const std::string changed =
      "Could not write output file: another program changed the path during the run\n";
  const std::vector<std::string> positional = {"3000", "6000", "10", "1", "3000", "5", "7", ""};
  for (const bool new_path : {false, true}) {
    for (int round = 0; round < 4; ++round) {
      SCOPED_TRACE((new_path ? "new path, round " : "old file, round ") + std::to_string(round));
      std::filesystem::remove(output_);
      if (!new_path) write_file(output_, "old\n");
      const std::string logs[2] = {log_ + ".1", log_ + ".2"};
      process_result results[2];
      std::vector<std::thread> runs;
      for (int i = 0; i < 2; ++i) {
        std::filesystem::remove(logs[i]);
        runs.emplace_back([&, i] {
          results[i] = run_process(
              k_strace, traced_command(logs[i],
                                       {"inject=fdatasync:signal=SIGSTOP",
                                        "inject=linkat:signal=SIGSTOP:when=1"},
                                       output_, i + 1));
        });
      }
      const auto stops = [&](int i) {
        const std::string log = read_file(logs[i]);
        int count = 0;
        for (std::size_t at = log.find("stopped by SIGSTOP"); at != std::string::npos;
             at = log.find("stopped by SIGSTOP", at + 1)) {
          ++count;
        }
        return count;
      };
      while (stops(0) < 1 || stops(1) < 1) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      continue_tools(output_);
      while (stops(0) < 2 && stops(1) < 2) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      continue_tools(output_);
      for (std::thread& run : runs) run.join();
      const int winners = (results[0].exit_status == 0) + (results[1].exit_status == 0);
      EXPECT_EQ(winners, 1);
      for (int i = 0; i < 2; ++i) {
        if (results[i].exit_status == 0) {
          EXPECT_TRUE(read_file(output_) == library_file(positional, i + 1))
              << "not the winner's file";
        } else {
          EXPECT_EQ(results[i].exit_status, 1);
          EXPECT_EQ(results[i].standard_error, changed);
        }
      }
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory_), {}), 1);
    }
    for (const std::string& log : {log_ + ".1", log_ + ".2"}) std::filesystem::remove(log);
  }
}

// A file written in place (here for its second name) is locked for the whole
// run: other runs fail at once and leave it to the first, whose bytes it
// then holds whole.
TEST_F(FaultInjection, AFileWrittenInPlaceKeepsOtherRunsOut) {
  ASSERT_NO_FATAL_FAILURE(find_output_calls());
  write_file(output_, "old\n");
  ASSERT_EQ(link(output_.c_str(), (directory_ + "/other-name").c_str()), 0);
  process_result first;
  std::filesystem::remove(log_);
  std::thread first_run([&] {
    first = run_process(k_strace, traced_command(log_,
                                                 {"inject=write:signal=SIGSTOP:when=" +
                                                  std::to_string(writes_before_output_ + 1)},
                                                 output_));
  });
  wait_until_stopped(log_);
  for (int seed = 2; seed <= 5; ++seed) {
    std::vector<std::string> arguments = {"--seed=" + std::to_string(seed)};
    arguments.insert(arguments.end(), k_arguments.begin(), k_arguments.end());
    arguments.push_back(output_);
    const process_result other = run(arguments);
    EXPECT_EQ(other.exit_status, 1) << seed;
    EXPECT_EQ(other.standard_error,
              "Could not write output file: another program holds a lock on the file\n")
        << seed;
  }
  continue_tools(output_);
  first_run.join();
  EXPECT_EQ(first.exit_status, 0);
  const std::string expected = library_file({"3000", "6000", "10", "1", "3000", "5", "7", ""}, 1);
  EXPECT_TRUE(read_file(output_) == expected) << "not the first run's whole file";
  EXPECT_TRUE(read_file(directory_ + "/other-name") == expected);
}

// A file written in place whose close fails (as some file systems report a
// write that failed late) is a failure, reported as such.
TEST_F(FaultInjection, AFileWrittenInPlaceWhoseCloseFailsIsAFailure) {
  write_file(output_, "old\n");
  ASSERT_EQ(link(output_.c_str(), (directory_ + "/other-name").c_str()), 0);
  ASSERT_NO_FATAL_FAILURE(find_output_calls());
  const process_result result =
      run_injected("inject=close:error=EIO:when=" + std::to_string(output_close_));
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.standard_error, "Could not write output file: Input/output error\n");
}

// A fault in any call from the run's first naming of the path to its first
// write of the file (a want of descriptors or memory, an I/O error, an
// interruption) never leads to a write in place: a size limit then makes
// the first write fail, and the old file must stay, bytes and inode.
TEST_F(FaultInjection, AFailedCheckNeverPutsTheOldFileAtRisk) {
  test_watchdog::allow_seconds(120);
  write_file(output_, "old\n");
  ASSERT_EQ(run_process(k_strace, traced_command(log_, {}, output_, 1, "all")).exit_status, 0);
  // Calls that cannot fail for want of anything, or that belong to the
  // memory allocator, are left out. The log of each run goes nowhere: the
  // size limit holds for strace too.
  const std::set<std::string> k_left_out = {
      "brk",   "mmap",    "munmap", "mprotect",       "madvise",      "mremap",
      "futex", "geteuid", "getpid", "rt_sigprocmask", "rt_sigaction", "exit_group"};
  std::map<std::string, int> counts;
  std::vector<std::pair<std::string, int>> swept;
  bool named = false;
  for (const std::string& call : traced_calls()) {
    const std::size_t parenthesis = call.find('(');
    if (parenthesis == std::string::npos || call.starts_with("---") || call.starts_with("+++")) {
      continue;
    }
    const std::string name = call.substr(0, parenthesis);
    const int occurrence = ++counts[name];
    named = named || call.find("\"" + output_ + "\"") != std::string::npos;
    if (name == "write" && call.find("\"BICLUSTER 0\\n") != std::string::npos) break;
    if (named && !k_left_out.contains(name)) swept.emplace_back(name, occurrence);
  }
  ASSERT_GT(swept.size(), 20u);
  run_options options;
  options.limits = {{RLIMIT_FSIZE, 1000}};
  struct stat before;
  for (const auto& [name, occurrence] : swept) {
    for (const char* error : {"ENFILE", "ENOMEM", "EIO", "EINTR", "EAGAIN"}) {
      const std::string injection =
          "inject=" + name + ":error=" + error + ":when=" + std::to_string(occurrence);
      write_file(output_, "old\n");
      ASSERT_EQ(stat(output_.c_str(), &before), 0);
      const process_result result =
          run_process(k_strace, traced_command("/dev/null", {injection}, output_, 1, name), options);
      EXPECT_EQ(result.exit_status, 1) << injection;
      EXPECT_TRUE(result.standard_error.starts_with("Could not "))
          << injection << ": " << result.standard_error;
      struct stat after;
      EXPECT_EQ(stat(output_.c_str(), &after), 0);
      EXPECT_EQ(after.st_ino, before.st_ino) << injection;
      expect_old_file_alone(injection);
    }
  }
}

#endif

}  // namespace
}  // namespace init_bicluster
