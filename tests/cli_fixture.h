// A fixture for running the built executable in a fresh temporary folder.
#ifndef INIT_BICLUSTER_TESTS_CLI_FIXTURE_H_
#define INIT_BICLUSTER_TESTS_CLI_FIXTURE_H_

#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "init_bicluster.h"
#include "process_runner.h"
#include "run_params.h"
#include "test_watchdog.h"

namespace init_bicluster {

// Sets the kernel's setting fs.`name` (/proc/sys/fs) to `value` while it
// lives, and then back. Requires root.
class kernel_setting {
 public:
  kernel_setting(const std::string& name, const std::string& value)
      : path_("/proc/sys/fs/" + name), old_(read_file(path_)) {
    write_file(path_, value);
  }
  kernel_setting(const kernel_setting&) = delete;
  kernel_setting& operator=(const kernel_setting&) = delete;
  ~kernel_setting() {
    if (!old_.empty()) write_file(path_, old_);
  }

 private:
  std::string path_;
  std::string old_;
};

class CommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = test_watchdog::scratch_folder() + "/init_bicluster_cli_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    directory_ = pattern;
    output_ = directory_ + "/out.txt";
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  // Runs the tool with `arguments` after its name.
  process_result run(std::vector<std::string> arguments, const run_options& options = {}) {
    arguments.insert(arguments.begin(), "init_bicluster");
    return run_tool(tool_, arguments, options);
  }

 public:
  // Runs the executable `tool` with the argument vector `arguments` (the
  // first entry is its name), through the emulator in a cross build.
  static process_result run_tool(const std::string& tool, std::vector<std::string> arguments,
                                 const run_options& options = {}) {
    std::vector<std::string> emulator;
    for (std::string_view rest = TOOL_EMULATOR; !rest.empty();) {
      const std::size_t bar = std::min(rest.find('|'), rest.size());
      emulator.emplace_back(rest.substr(0, bar));
      rest.remove_prefix(std::min(bar + 1, rest.size()));
    }
    if (emulator.empty()) return run_process(tool, arguments, options);
    // qemu-user names the program as -0 says.
    emulator.insert(emulator.end(), {"-0", arguments[0], tool});
    emulator.insert(emulator.end(), arguments.begin() + 1, arguments.end());
    return run_process(emulator[0], emulator, options);
  }

 protected:
  // Options that run the tool as the user nobody. The build folder may be
  // closed to that user, so from now on the tool runs from a copy in the
  // test's folder, which is opened to everyone. Requires root.
  run_options as_nobody() {
    run_options options;
    const passwd* nobody = getpwnam("nobody");
    EXPECT_NE(nobody, nullptr) << "no user nobody";
    if (nobody == nullptr) return options;
    EXPECT_EQ(chmod(directory_.c_str(), 0755), 0);
    tool_ = directory_ + "/tool";
    std::filesystem::copy_file(TOOL_PATH, tool_);
    options.user_id = static_cast<int>(nobody->pw_uid);
    options.group_id = static_cast<int>(nobody->pw_gid);
    return options;
  }

  // The run_params that `arguments` (the eight after the program name) give.
 public:
  static run_params params_of(const std::vector<std::string>& arguments) {
    std::vector<const char*> texts;
    for (const std::string& argument : arguments) texts.push_back(argument.c_str());
    return parse_run_params(texts.data());
  }

  // Runs `command` with /bin/sh in `directory`; returns its standard output,
  // or "failed: ..." with its standard error.
  static std::string shell(const std::string& directory, const std::string& command) {
    const process_result result =
        run_process("/bin/sh", {"sh", "-c", "cd '" + directory + "' && " + command});
    return result.exit_status == 0 ? result.standard_output : "failed: " + result.standard_error;
  }

  // What the library writes for `arguments` (as for params_of) and `seed`.
  static std::string library_file(const std::vector<std::string>& arguments, uint32_t seed) {
    string_sink sink;
    EXPECT_EQ(write_biclusters(params_of(arguments), seed, sink), 0);
    return sink.text();
  }

 protected:
  bool output_exists() const { return std::filesystem::exists(output_); }

  std::string directory_;
  std::string output_;
  std::string tool_ = TOOL_PATH;
};

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_TESTS_CLI_FIXTURE_H_
