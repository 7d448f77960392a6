#include "process_runner.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "test_watchdog.h"

namespace init_bicluster {

namespace {

std::string temporary_path() {
  std::string name = test_watchdog::scratch_folder() + "/init_bicluster_capture_XXXXXX";
  const int descriptor = mkstemp(name.data());
  if (descriptor >= 0) close(descriptor);
  return name;
}

}  // namespace

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

void write_file(const std::string& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

process_result run_process(const std::string& program, const std::vector<std::string>& arguments,
                           const run_options& options) {
  const std::string out_path = temporary_path();
  const std::string err_path = temporary_path();
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  const pid_t parent = getpid();
  const pid_t child = fork();
  if (child == 0) {
    // A group of its own, which the runner and the watchdog kill whole (a
    // program under strace included), and death with the test.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    // The child starts with the three standard streams only.
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = options.standard_output_file.empty()
                        ? open(out_path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC)
                        : open(options.standard_output_file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    const int err = options.standard_error_file.empty()
                        ? open(err_path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC)
                        : open(options.standard_error_file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (options.close_standard_error) close(2);
    // Descriptors the test runner left open are not the child's.
    close_range(3, ~0u, 0);
    for (const auto& [resource, value] : options.limits) {
      const rlimit limit = {value, value};
      if (setrlimit(resource, &limit) != 0) _exit(127);
    }
    if (options.user_id != -1 &&
        (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(options.group_id)) != 0 ||
         setuid(static_cast<uid_t>(options.user_id)) != 0)) {
      _exit(127);
    }
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  setpgid(child, child);
  test_watchdog::watch(child);
  process_result result;
  int status = 0;
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + std::chrono::seconds(options.timeout_seconds);
  const auto kill_time = start + std::chrono::milliseconds(options.kill_after_milliseconds);
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (options.kill_after_milliseconds > 0 && std::chrono::steady_clock::now() > kill_time) {
      kill(-child, SIGKILL);
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(-child, SIGKILL);
      waitpid(child, &status, 0);
      status = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  test_watchdog::unwatch(child);
  if (status != -1 && WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  result.standard_output = read_file(out_path);
  result.standard_error = read_file(err_path);
  unlink(out_path.c_str());
  unlink(err_path.c_str());
  return result;
}

}  // namespace init_bicluster
