// File sinks give back every descriptor they take, however they end, and a
// sink whose plan failed reports that failure on every call.
#include "output_sink.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "process_runner.h"
#include "test_watchdog.h"

namespace init_bicluster {
namespace {

std::set<int> open_descriptors() {
  std::set<int> descriptors;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    descriptors.insert(std::stoi(entry.path().filename()));
  }
  return descriptors;
}

// Opens `path`, writes to it and closes it (or, unless `close`, drops it).
// Returns the errors of open, write and close.
std::string written(const std::string& path, bool close = true) {
  int error = 0;
  const std::unique_ptr<file_sink> sink = file_sink::open(path, &error);
  if (sink == nullptr) return "open " + std::to_string(error);
  const int write_error = sink->write("BICLUSTER 0\n-1\n\n-1\n\n");
  const int close_error = close ? sink->close() : 0;
  return "write " + std::to_string(write_error) + ", close " + std::to_string(close_error);
}

TEST(FileSink, GivesBackEveryDescriptor) {
  std::string folder = test_watchdog::scratch_folder() + "/init_bicluster_sink_XXXXXX";
  ASSERT_NE(mkdtemp(folder.data()), nullptr);
  const std::string file = folder + "/f";
  write_file(file, "old\n");
  ASSERT_EQ(link(file.c_str(), (folder + "/linked").c_str()), 0);
  const std::set<int> before = open_descriptors();
  for (int round = 0; round < 10; ++round) {
    EXPECT_EQ(written(folder + "/new" + std::to_string(round)), "write 0, close 0");
    EXPECT_EQ(written(file), "write 0, close 0");
    EXPECT_EQ(written(folder + "/linked"), "write 0, close 0");
    EXPECT_EQ(written(folder + "/unfinished", false), "write 0, close 0");
    EXPECT_EQ(written(folder + "/missing/f"), "open " + std::to_string(ENOENT));
  }
  EXPECT_EQ(open_descriptors(), before);

  // One descriptor free: the file opens, its folder cannot.
  rlimit limit;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  const auto is_free = [](int descriptor) { return fcntl(descriptor, F_GETFD) < 0; };
  int free_descriptor = 0;
  while (!is_free(free_descriptor)) ++free_descriptor;
  int next_free = free_descriptor + 1;
  while (!is_free(next_free)) ++next_free;
  const rlimit one_free = {static_cast<rlim_t>(next_free), limit.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &one_free), 0);
  const std::string short_of_descriptors = written(file);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
  EXPECT_EQ(short_of_descriptors,
            "write " + std::to_string(EMFILE) + ", close " + std::to_string(EMFILE));
  EXPECT_EQ(read_file(file), "BICLUSTER 0\n-1\n\n-1\n\n");
  EXPECT_EQ(open_descriptors(), before);

  // No inode for the new file: its plan fails, and says why every time.
  if (geteuid() == 0) {
    const std::string full = folder + "/full";
    ASSERT_EQ(run_process("/bin/sh", {"sh", "-c",
                                      "mkdir '" + full + "' && mount -t tmpfs -o size=1m,nr_inodes=2 "
                                      "tmpfs '" + full + "' && echo old > '" + full + "/f'"})
                  .exit_status,
              0);
    EXPECT_EQ(written(full + "/f"),
              "write " + std::to_string(ENOSPC) + ", close " + std::to_string(ENOSPC));
    EXPECT_EQ(read_file(full + "/f"), "old\n");
    run_process("/bin/umount", {"umount", full});
    EXPECT_EQ(open_descriptors(), before);
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace init_bicluster
