#include "file_io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

namespace init_bicluster {
namespace {

// What the stand-in for write(2) does on each call: take at most n bytes
// (n >= 0), or fail with errno -n; and what it took.
std::vector<long> script;
std::size_t calls = 0;
std::string taken;

ssize_t scripted_write(int, const void* bytes, std::size_t count) {
  const long step = calls < script.size() ? script[calls] : 1 << 20;
  ++calls;
  if (step < 0) {
    errno = static_cast<int>(-step);
    return -1;
  }
  const std::size_t length = std::min(count, static_cast<std::size_t>(step));
  taken.append(static_cast<const char*>(bytes), length);
  return static_cast<ssize_t>(length);
}

TEST(WriteAll, ResumesAfterShortWritesAndInterruptionsAndStopsAtFailures) {
  const std::string bytes = "BICLUSTER 0\n-1\n3 1 \n-1\n0 1 2 \n";
  const struct {
    const char* what;
    std::vector<long> script;
    int error;
    std::size_t calls;
    std::size_t taken;
  } cases[] = {
      {"all at once", {}, 0, 1, bytes.size()},
      {"short writes", {1, 1, 2, 5}, 0, 5, bytes.size()},
      {"interrupted", {-EINTR, 3, -EINTR, -EINTR}, 0, 5, bytes.size()},
      {"no progress", {4, 0}, EIO, 2, 4},
      {"a failure", {4, -ENOSPC}, ENOSPC, 2, 4},
  };
  for (const auto& c : cases) {
    script = c.script;
    calls = 0;
    taken.clear();
    EXPECT_EQ(write_all(7, bytes, scripted_write), c.error) << c.what;
    EXPECT_EQ(calls, c.calls) << c.what;
    EXPECT_EQ(taken, bytes.substr(0, c.taken)) << c.what;
  }
}

}  // namespace
}  // namespace init_bicluster
