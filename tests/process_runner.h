// Running a program as a child process and capturing what it did.
#ifndef INIT_BICLUSTER_TESTS_PROCESS_RUNNER_H_
#define INIT_BICLUSTER_TESTS_PROCESS_RUNNER_H_

#include <sys/resource.h>

#include <string>
#include <utility>
#include <vector>

namespace init_bicluster {

// What a finished child process left behind.
struct process_result {
  // The exit status, or -1 when the process did not exit normally (a signal,
  // or killed for taking too long).
  int exit_status = -1;
  std::string standard_output;
  std::string standard_error;
};

// How to run a child process.
struct run_options {
  // Killed after this long.
  int timeout_seconds = 60;
  // When not -1, the child drops to this user and group before it starts;
  // requires running as root.
  int user_id = -1;
  int group_id = -1;
  // Resource limits (RLIMIT_..., value) set in the child before it starts.
  std::vector<std::pair<int, rlim_t>> limits;
  // When not empty, the child's standard output is this file, opened for
  // appending, and nothing of it is captured.
  std::string standard_output_file;
  // The same for standard error.
  std::string standard_error_file;
  // Starts the child with standard error closed.
  bool close_standard_error = false;
  // When above 0, SIGKILL is sent to the child this long after it started.
  int kill_after_milliseconds = 0;
};

// Runs `program` with the argument vector `arguments` (the first entry is what
// the program sees as its name) and no standard input. Requires an existing,
// executable `program`; a child that cannot start exits with 127.
process_result run_process(const std::string& program, const std::vector<std::string>& arguments,
                           const run_options& options = {});

// Reads a whole file; empty when it cannot be read.
std::string read_file(const std::string& path);

// Writes `contents` to `path`, replacing it.
void write_file(const std::string& path, const std::string& contents);

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_TESTS_PROCESS_RUNNER_H_
