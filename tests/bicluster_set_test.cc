// Biclusters in memory: a run handed over one bicluster at a time and
// stopped early, and the reader's refusals.
#include "bicluster_set.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "init_bicluster.h"

namespace init_bicluster {
namespace {

run_params small_run() {
  run_params params;
  params.num_rows = 50;
  params.num_columns = 4;
  params.num_biclusters = 6;
  params.min_rows = 1;
  params.max_rows = 9;
  params.fixed_row = 3;
  params.fixed_column = 2;
  return params;
}

// Keeps the biclusters it is handed, and stops the run after `last`.
class stopping_visitor final : public bicluster_visitor {
 public:
  explicit stopping_visitor(int32_t last) : last_(last) {}
  bool visit(int32_t index, const int32_t* free_rows, std::size_t count) override {
    indices.push_back(index);
    rows.emplace_back(free_rows, free_rows + count);
    return index < last_;
  }
  std::vector<int32_t> indices;
  std::vector<std::vector<int32_t>> rows;

 private:
  int32_t last_;
};

TEST(DrawBiclusters, HandsOverEachBiclusterUntilTheVisitorStops) {
  const run_params params = small_run();
  bicluster_set whole;
  ASSERT_EQ(draw_biclusters(params, 5, whole), 0);
  for (const int32_t last : {0, 2, 5, 100}) {
    stopping_visitor visitor(last);
    // Stopping at the last bicluster stops nothing.
    EXPECT_EQ(draw_biclusters(params, 5, visitor), last < 5 ? ECANCELED : 0) << last;
    const std::size_t visited = static_cast<std::size_t>(std::min(last, 5) + 1);
    ASSERT_EQ(visitor.indices.size(), visited) << last;
    for (std::size_t i = 0; i < visited; ++i) {
      EXPECT_EQ(visitor.indices[i], static_cast<int32_t>(i));
      const std::vector<int32_t> expected(whole.rows.begin() + whole.offsets[i],
                                          whole.rows.begin() + whole.offsets[i + 1]);
      EXPECT_EQ(visitor.rows[i], expected) << last << ", bicluster " << i;
    }
  }
}

// A visitor asked whether to stop, within one bicluster of every row.
class interrupting_visitor final : public bicluster_visitor {
 public:
  bool visit(int32_t, const int32_t*, std::size_t) override {
    ++visited;
    return true;
  }
  bool should_stop() override { return ++asked == 2; }
  int visited = 0;
  int asked = 0;
};

TEST(DrawBiclusters, StopsWithinABiclusterWhenAsked) {
  run_params params;
  params.num_rows = params.min_rows = params.max_rows = 4000000;
  params.num_columns = 1;
  params.num_biclusters = 2;
  interrupting_visitor visitor;
  EXPECT_EQ(draw_biclusters(params, 1, visitor), ECANCELED);
  EXPECT_EQ(visitor.asked, 2);
  EXPECT_EQ(visitor.visited, 0);
  // Collected whole, the run leaves nothing.
  int asked = 0;
  bicluster_set set;
  EXPECT_EQ(draw_biclusters(params, 1, set, [&] { return ++asked == 2; }), ECANCELED);
  EXPECT_EQ(asked, 2);
  EXPECT_TRUE(set.offsets.empty() && set.rows.empty());
}

TEST(DrawBiclusters, ReportsMemoryThatCannotBeHad) {
  run_params params = small_run();
  params.num_rows = params.max_rows = params.min_rows = 2147483647;
  params.num_biclusters = 2147483647;
  params.fixed_row = -1;
  bicluster_set set;
  set.rows = {1, 2};
  EXPECT_EQ(draw_biclusters(params, 1, set), ENOMEM);
  EXPECT_TRUE(set.rows.empty());
}

// An address-space limit cannot be combined with AddressSanitizer's shadow,
// nor with an emulator's reserve.
#if !defined(__SANITIZE_ADDRESS__) && !defined(TOOL_UNDER_EMULATOR)
// What `draw` returns in a child process whose address space may grow by
// `room` bytes beyond what it holds.
int in_a_child_with_room(const std::function<int()>& draw, rlim_t room) {
  const pid_t child = fork();
  if (child == 0) {
    std::ifstream statm("/proc/self/statm");
    unsigned long pages = 0;
    statm >> pages;
    const rlim_t limit = pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + room;
    const rlimit address_space = {limit, limit};
    _exit(setrlimit(RLIMIT_AS, &address_space) == 0 ? draw() : 255);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Rows that outgrow the memory in the middle of a run are a want of memory,
// not a stop, whether the run is collected whole or handed over.
TEST(DrawBiclusters, RowsThatOutgrowTheMemoryAreAWantOfIt) {
  run_params spread = small_run();
  spread.num_rows = spread.max_rows = 10000000;
  spread.num_biclusters = 40;
  spread.min_rows = 1;
  spread.fixed_row = -1;
  EXPECT_EQ(in_a_child_with_room(
                [&] {
                  bicluster_set set;
                  return draw_biclusters(spread, 1, set);
                },
                rlim_t{300} << 20),
            ENOMEM);
  run_params large = spread;
  large.num_rows = 200000000;
  large.min_rows = large.max_rows = 150000000;
  large.num_biclusters = 1;
  EXPECT_EQ(in_a_child_with_room(
                [&] {
                  stopping_visitor visitor(1);
                  return draw_biclusters(large, 1, visitor);
                },
                rlim_t{300} << 20),
            ENOMEM);
}
#endif

// One line of each record of a good file changed at a time, and what the
// reader says of it.
TEST(ReadBiclusters, RefusesEachMalformedFormAtItsLine) {
  const std::string record1 = "BICLUSTER 1\n3\n7 0 \n2\n0 1 3 \n";
  const std::string good = "BICLUSTER 0\n3\n5 \n2\n0 1 3 \n" + record1;
  const struct {
    std::string text;
    int32_t num_rows;
    int32_t num_columns;
    std::string message;  // empty: read
  } cases[] = {
      {good, -1, -1, ""},
      {good, 8, 4, ""},
      {"", -1, -1, ""},
      {"BICLUSTER 1\n3\n5 \n2\n0 1 3 \n", -1, -1, "line 1: the bicluster index 0, found '1\\n'"},
      {"BICLUSTER  0\n", -1, -1, "line 1: the bicluster index 0, found ' '"},
      {"bicluster 0\n", -1, -1, "line 1: 'BICLUSTER 0', found 'bicluster '"},
      {"BICLUSTER 0\r\n", -1, -1, "line 1: a line feed after the index, found '\\x0d\\n'"},
      {"BICLUSTER 0\n+3\n", -1, -1, "line 2: the fixed row, a number alone on its line, found '+3\\n'"},
      {"BICLUSTER 0\n03\n", -1, -1, "line 2: the fixed row, a number alone on its line, found '03\\n'"},
      {"BICLUSTER 0\n-0\n", -1, -1, "line 2: the fixed row, a number alone on its line, found '-0\\n'"},
      {"BICLUSTER 0\n-2\n", -1, -1, "line 2: -1 or a row number, found '-2\\n'"},
      {"BICLUSTER 0\n3\n", 3, -1, "line 2: -1 or a row number below 3, found '3\\n'"},
      {"BICLUSTER 0\n3\n5\n", -1, -1,
       "line 3: a row number followed by one space, found '5\\n'"},
      {"BICLUSTER 0\n3\n5  \n", -1, -1,
       "line 3: a row number followed by one space, found ' '"},
      {"BICLUSTER 0\n3\n2147483648 \n", -1, -1,
       "line 3: a row number followed by one space, found '2147483648 '"},
      {"BICLUSTER 0\n3\n-5 \n", -1, -1, "line 3: a row number followed by one space, found '-5 '"},
      {"BICLUSTER 0\n-1\n0123456 \n-1\n\n", -1, -1,
       "line 3: a row number followed by one space, found '0123456 '"},
      {"BICLUSTER 0\n-1\n0 \n-1\n\n", 0, -1, "line 3: a row number below 0, found '0 '"},
      {good, 0, -1, "line 2: -1 or a row number below 0, found '3\\n'"},
      {"BICLUSTER 0\n" + std::string(40, 'x'), -1, -1,
       "line 2: the fixed row, a number alone on its line, found '" + std::string(24, 'x') +
           "...'"},
      {"BICLUSTER 0\n3\n2147483647 \n", -1, -1,
       "line 3: a row number below 2147483647, found '2147483647 '"},
      {"BICLUSTER 0\n2147483647\n", -1, -1,
       "line 2: -1 or a row number below 2147483647, found '2147483647\\n'"},
      {"BICLUSTER 0\n-1\n0 2147483646 \n-1\n\n", -1, -1, ""},
      {"BICLUSTER 0\n3\n5 8 \n", 8, -1, "line 3: a row number below 8, found '8 '"},
      {"BICLUSTER 0\n3\n5 3 \n", -1, -1, "line 3: a row other than the fixed row, found '3 '"},
      {"BICLUSTER 0\n3\n5 1 5 \n", -1, -1,
       "line 3: a row not listed before in this bicluster, found '5 '"},
      {"BICLUSTER 0\n3\n5 \n2 \n", -1, -1,
       "line 4: the fixed column, a number alone on its line, found '2 '"},
      {"BICLUSTER 0\n3\n5 \n2\n0 1 2 \n", -1, -1, "line 5: column 3 followed by one space, found '2 '"},
      {"BICLUSTER 0\n3\n5 \n2\n0 1 3\n", -1, -1,
       "line 5: column 3 followed by one space, found '3\\n'"},
      {"BICLUSTER 0\n3\n5 \n2\n0 1 3 \n", -1, 5,
       "line 5: column 4 followed by one space (num_columns is 5), found '\\n'"},
      {"BICLUSTER 0\n3\n5 \n2\n0 1 3 4 \n", -1, 4,
       "line 5: a line feed after the last column (num_columns is 4), found '4 '"},
      {"BICLUSTER 0\n3\n5 \n2\n0 1 3 ", -1, -1,
       "line 5: column 4 followed by one space, found the end of the file"},
      {"BICLUSTER 0\n3\n5 \n2\n0 1 3 \nBICLUSTER 1\n4\n", -1, -1,
       "line 7: the fixed row of every record, 3, found '4\\n'"},
      {"BICLUSTER 0\n3\n5 \n2\n0 1 3 \nBICLUSTER 1\n3\n\n-1\n", -1, -1,
       "line 9: the fixed column of every record, 2, found '-1\\n'"},
      {"BICLUSTER 0\n3\n5 \n2\n0 1 3 \nBICLUSTER 1\n3\n\n2\n0 1 \n", -1, -1,
       "line 10: the column list of line 5 (column 3 followed by one space), found '\\n'"},
      {"BICLUSTER 0\n3\n5 \n2\n0 1 3 \nBICLUSTER 1\n3\n\n2\n0 1 4 \n", -1, -1,
       "line 10: the column list of line 5 (column 3 followed by one space), found '4 '"},
      {"BICLUSTER 0\n3\n5 \n2\n0 1 3 4 5 6 7 8 9 10 11 \nBICLUSTER 1\n3\n\n2\n0 1 3 4 5 6 7 8 9 10 12 \n",
       -1, -1, "line 10: the column list of line 5 (column 11 followed by one space), found '12 '"},
      {"BICLUSTER 0\n3\n5 \n2\n0 1 3 \nBICLUSTER 1\n3\n\n2\n0 1 3 ", -1, -1,
       "line 10: the column list of line 5 (a line feed after the last column), found the end of "
       "the file"},
      {good + "\n", -1, -1, "line 11: 'BICLUSTER 2', found '\\n'"},
      {good + "BICLUSTER 2\n3\n\x01\xff \n", -1, -1,
       "line 13: a row number followed by one space, found '\\x01\\xff '"},
  };
  for (const auto& c : cases) {
    bicluster_set set;
    const std::optional<std::string> refusal =
        read_biclusters(c.text, set, c.num_rows, c.num_columns);
    EXPECT_EQ(refusal.value_or(""), c.message) << c.text;
  }
}

// What a file leaves open is taken as small as it allows; what it writes
// back is its own bytes.
TEST(ReadBiclusters, InfersTheSmallestMatrixAndWritesTheFileBack) {
  const struct {
    std::string text;
    int32_t num_rows, num_columns, fixed_row, fixed_column;
    std::vector<int64_t> offsets;
    std::vector<int32_t> rows;
  } cases[] = {
      {"", 0, 0, -1, -1, {0}, {}},
      {"BICLUSTER 0\n3\n5 \n2\n0 1 3 \nBICLUSTER 1\n3\n7 0 \n2\n0 1 3 \n", 8, 4, 3, 2, {0, 1, 3},
       {5, 7, 0}},
      {"BICLUSTER 0\n9\n\n3\n0 1 2 \n", 10, 3, 9, 3, {0, 0}, {}},
      {"BICLUSTER 0\n-1\n\n0\n1 2 \n", 0, 3, -1, 0, {0, 0}, {}},
      {"BICLUSTER 0\n-1\n4 \n-7\n\n", 5, 0, -1, -7, {0, 1}, {4}},
  };
  for (const auto& c : cases) {
    bicluster_set set;
    ASSERT_FALSE(read_biclusters(c.text, set).has_value()) << c.text;
    EXPECT_EQ(set.num_rows, c.num_rows) << c.text;
    EXPECT_EQ(set.num_columns, c.num_columns) << c.text;
    EXPECT_EQ(set.fixed_row, c.fixed_row) << c.text;
    EXPECT_EQ(set.fixed_column, c.fixed_column) << c.text;
    EXPECT_EQ(set.offsets, c.offsets) << c.text;
    EXPECT_EQ(set.rows, c.rows) << c.text;
    string_sink written;
    EXPECT_EQ(write_biclusters(set, written), 0);
    EXPECT_EQ(written.text(), c.text);
  }
  bicluster_set set;
  EXPECT_EQ(read_bicluster_file("/nonexistent/b", set).value_or(""),
            "/nonexistent/b: No such file or directory");
  ASSERT_FALSE(read_bicluster_file(std::string(TEST_DATA_DIR) + "/example.txt", set));
  EXPECT_EQ(set.size(), 2u);
}

// Files read a block at a time, from a regular file and through a FIFO, say
// what the same bytes say when read whole, wherever the blocks part them:
// lists longer than a block, a change past the first block, a cut end.
TEST(ReadBiclusters, FromAFileOrAPipeAsFromTheBytes) {
  const auto file_of = [](int32_t num_rows, int32_t num_columns, int32_t size, int32_t fixed) {
    run_params params;
    params.num_rows = num_rows;
    params.num_columns = num_columns;
    params.num_biclusters = 3;
    params.min_rows = params.max_rows = size;
    params.fixed_row = -1;
    params.fixed_column = fixed;
    string_sink sink;
    EXPECT_EQ(write_biclusters(params, 5, sink), 0);
    return sink.text();
  };
  // Column lists of 1.3 MB, and free-row lists of 2.6 MB.
  const std::string wide = file_of(100, 200000, 5, 7);
  const std::string tall = file_of(10000000, 3, 350000, -1);
  std::string changed_column = wide;
  changed_column[wide.size() - 200000] = '9';
  std::string repeated_row = tall;
  const std::size_t second = tall.find('\n', tall.find("BICLUSTER 1")) + 1;
  const std::size_t row = tall.find(' ', second + (std::size_t{3} << 20) - tall.size() / 3) + 1;
  repeated_row.replace(row, tall.find(' ', row) - row,
                       tall.substr(second, tall.find(' ', second) - second));
  const std::string texts[] = {wide, tall, changed_column, repeated_row,
                               wide.substr(0, wide.size() - 3), tall + "BICLUSTER 3\n-1\n5 5 \n"};
  const std::string path = std::string(testing::TempDir()) + "/init_bicluster_read_test";
  for (const std::string& text : texts) {
    bicluster_set whole;
    const std::string said = read_biclusters(text, whole).value_or("read");
    for (const bool through_a_pipe : {false, true}) {
      std::filesystem::remove(path);
      std::thread writer;
      if (through_a_pipe) {
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        writer = std::thread([&] {
          // A reader that stops early makes the writes fail, not end the
          // process.
          sigset_t pipe;
          sigemptyset(&pipe);
          sigaddset(&pipe, SIGPIPE);
          pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
          std::ofstream(path, std::ios::binary) << text;
        });
      } else {
        std::ofstream(path, std::ios::binary) << text;
      }
      bicluster_set read;
      EXPECT_EQ(read_bicluster_file(path, read).value_or("read"), said)
          << (through_a_pipe ? "pipe" : "file") << ", " << text.size() << " bytes";
      if (through_a_pipe) writer.join();
      EXPECT_TRUE(said != "read" || read == whole);
    }
  }
  std::filesystem::remove(path);
}

// Input that is wrong from its first byte is refused there, after a block of
// it, however much more it would give; and no descriptor stays open.
TEST(ReadBiclusters, EndlessInputIsRefusedAtItsFirstLine) {
  const auto open_descriptors = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
  };
  std::string zeros;
  for (int byte = 0; byte < 24; ++byte) zeros += "\\x00";
  const auto before = open_descriptors();
  for (int i = 0; i < 10; ++i) {
    bicluster_set set;
    EXPECT_FALSE(read_bicluster_file(std::string(TEST_DATA_DIR) + "/example.txt", set));
    EXPECT_EQ(read_bicluster_file("/dev/zero", set).value_or(""),
              "line 1: 'BICLUSTER 0', found '" + zeros + "...'");
    EXPECT_EQ(read_bicluster_file("/dev/urandom", set).value_or("").substr(0, 30),
              "line 1: 'BICLUSTER 0', found '");
  }
  EXPECT_EQ(open_descriptors(), before);
}

}  // namespace
}  // namespace init_bicluster
