#include "test_watchdog.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>

namespace init_bicluster::test_watchdog {

namespace {

using clock = std::chrono::steady_clock;

struct state {
  std::mutex mutex;
  std::condition_variable changed;
  // The running test, its start and its limit; no deadline between tests.
  std::string test_name;
  clock::time_point test_start;
  std::chrono::seconds limit{0};
  bool running = false;
  double scale = 1;
  std::string scratch = "/tmp";
  std::array<std::atomic<pid_t>, 8> groups{};
};

state& watched() {
  static state* const instance = new state;
  return *instance;
}

[[noreturn]] void overrun() {
  state& s = watched();
  std::fprintf(stderr, "\n%s ran past its time limit of %lld s: ended, its children killed\n",
               s.test_name.c_str(), static_cast<long long>(s.limit.count()));
  std::fflush(stderr);
  for (std::atomic<pid_t>& group : s.groups) {
    const pid_t pid = group.load();
    if (pid > 0) kill(-pid, SIGKILL);
  }
  std::error_code ignored;
  std::filesystem::remove_all(s.scratch, ignored);
  _exit(1);
}

void watch_loop() {
  state& s = watched();
  std::unique_lock lock(s.mutex);
  for (;;) {
    if (!s.running) {
      s.changed.wait(lock);
      continue;
    }
    const clock::time_point deadline = s.test_start + s.limit;
    if (s.changed.wait_until(lock, deadline) == std::cv_status::timeout && s.running &&
        clock::now() >= s.test_start + s.limit) {
      overrun();
    }
  }
}

}  // namespace

void start() {
  state& s = watched();
  if (const char* scale = std::getenv("INIT_BICLUSTER_TEST_TIME_SCALE")) {
    s.scale = std::max(1.0, std::atof(scale));
  }
  // A test process that crashed could not remove its folder: the folders
  // of processes that no longer run go first. The name holds the process.
  const std::string prefix = "init_bicluster_tests_";
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator("/tmp", ignored)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(prefix)) continue;
    const pid_t owner = static_cast<pid_t>(std::atol(name.c_str() + prefix.size()));
    if (owner > 0 && kill(owner, 0) != 0 && errno == ESRCH) {
      std::filesystem::remove_all(entry.path(), ignored);
    }
  }
  std::string pattern = "/tmp/" + prefix + std::to_string(getpid()) + "_XXXXXX";
  if (mkdtemp(pattern.data()) != nullptr) {
    s.scratch = pattern;
    chmod(pattern.c_str(), 0755);
  }
  std::thread(watch_loop).detach();
}

void begin_test(const std::string& name) {
  state& s = watched();
  std::lock_guard lock(s.mutex);
  s.test_name = name;
  s.test_start = clock::now();
  s.limit = std::chrono::seconds(static_cast<long long>(k_default_seconds * s.scale + 0.5));
  s.running = true;
  s.changed.notify_all();
}

void end_test() {
  state& s = watched();
  std::lock_guard lock(s.mutex);
  s.running = false;
  s.changed.notify_all();
}

void finish() {
  state& s = watched();
  std::error_code ignored;
  if (s.scratch != "/tmp") std::filesystem::remove_all(s.scratch, ignored);
}

const std::string& scratch_folder() { return watched().scratch; }

void allow_seconds(int seconds) {
  state& s = watched();
  std::lock_guard lock(s.mutex);
  s.limit = std::chrono::seconds(static_cast<long long>(seconds * s.scale + 0.5));
  s.changed.notify_all();
}

void watch(pid_t group) {
  for (std::atomic<pid_t>& slot : watched().groups) {
    pid_t empty = 0;
    if (slot.compare_exchange_strong(empty, group)) return;
  }
}

void unwatch(pid_t group) {
  for (std::atomic<pid_t>& slot : watched().groups) {
    pid_t expected = group;
    if (slot.compare_exchange_strong(expected, 0)) return;
  }
}

}  // namespace init_bicluster::test_watchdog
