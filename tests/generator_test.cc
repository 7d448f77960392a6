#include "generator.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bicluster_file_check.h"
#include "init_bicluster.h"
#include "process_runner.h"
#include "reference_model.h"
#include "sha256.h"
#include "test_watchdog.h"
#include "vector_path.h"

namespace init_bicluster {
namespace {

run_params make_params(std::vector<int32_t> numbers) {
  run_params params;
  params.num_rows = numbers[0];
  params.num_columns = numbers[1];
  params.num_biclusters = numbers[2];
  params.min_rows = numbers[3];
  params.max_rows = numbers[4];
  params.fixed_row = numbers[5];
  params.fixed_column = numbers[6];
  return params;
}

std::string generate(const run_params& params, uint32_t seed) {
  bicluster_generator generator(params, seed);
  EXPECT_EQ(generator.prepare(), shortage::none);
  string_sink sink;
  EXPECT_EQ(generator.write(sink), 0);
  return sink.text();
}

// One line of a table of known answers: a name, a seed, the seven numeric
// arguments in their command-line spelling, then what the table adds.
struct known_answer {
  std::string name;
  uint32_t seed = 0;
  run_params params;
  std::vector<std::string> more;
};

std::vector<known_answer> read_known_answers(const std::string& table) {
  std::ifstream lines(std::string(TEST_DATA_DIR) + "/" + table);
  std::vector<known_answer> answers;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    known_answer answer;
    fields >> answer.name >> answer.seed;
    std::vector<std::string> texts(7);
    std::vector<const char*> arguments;
    for (std::string& text : texts) {
      fields >> text;
      arguments.push_back(text.c_str());
    }
    arguments.push_back("unused");
    answer.params = parse_run_params(arguments.data());
    for (std::string field; fields >> field;) answer.more.push_back(field);
    answers.push_back(std::move(answer));
  }
  return answers;
}

// The run drawn into memory is what reading `text`, its file, gives (with
// the dimensions given, and inferred where the file tells them), and writes
// `text` again.
void expect_drawn_as_written(const run_params& params, uint32_t seed, const std::string& text) {
  bicluster_set drawn;
  ASSERT_EQ(draw_biclusters(params, seed, drawn), 0);
  string_sink written;
  EXPECT_EQ(write_biclusters(drawn, written), 0);
  EXPECT_TRUE(written.text() == text) << "written from memory";
  bicluster_set read;
  const std::optional<std::string> refusal =
      read_biclusters(text, read, params.num_rows, params.num_columns);
  ASSERT_FALSE(refusal.has_value()) << *refusal;
  // An empty file tells no fixed row or column, and no file a column count
  // below 0.
  if (params.num_biclusters > 0 && params.num_columns >= 0) {
    EXPECT_TRUE(read == drawn) << "read back";
  } else {
    EXPECT_EQ(read.offsets, drawn.offsets);
    EXPECT_EQ(read.rows, drawn.rows);
  }
  if (params.num_biclusters > 0 && params.fixed_column < params.num_columns - 1) {
    ASSERT_FALSE(read_biclusters(text, read).has_value());
    EXPECT_EQ(read.num_columns, std::max(params.num_columns, 0));
    EXPECT_EQ(read.offsets, drawn.offsets);
  }
}

// NAME.txt holds the exact file of each line of cases.tsv.
TEST(Generator, WritesTheKnownAnswersExactly) {
  const std::vector<known_answer> answers = read_known_answers("cases.tsv");
  for (const known_answer& answer : answers) {
    ASSERT_FALSE(check_run_params(answer.params).has_value()) << answer.name;
    const std::string known = read_file(std::string(TEST_DATA_DIR) + "/" + answer.name + ".txt");
    EXPECT_EQ(generate(answer.params, answer.seed), known) << answer.name;
    expect_drawn_as_written(answer.params, answer.seed, known);
  }
  EXPECT_EQ(answers.size(), 7u);
}

TEST(Generator, KeepsTheFileRulesAcrossArgumentSets) {
  const int32_t least = -2147483647 - 1;
  const std::vector<std::vector<int32_t>> cases = {
      {6, 4, 2, 2, 3, 4, 2},          {10, 5, 20, 10, 10, -1, -1},  // every row, in random order
      {10, 5, 20, 10, 10, 3, 0},                                    // every row, one of them fixed
      {9, 6, 30, -3, 2, -1, -7},                                    // sizes at and below zero
      {9, 6, 30, -3, 2, 8, 5},                                      // ... with a fixed row
      {9, 0, 5, 1, 1, 4, 9},    // fixed size one: no free rows; no columns
      {9, -4, 5, 1, 3, -1, 2},  // negative columns
      {0, 3, 4, 0, 0, -1, 1},   // empty matrix
      {1, 1, 3, 1, 1, 0, 0},          {1000, 30, 40, 1, 1000, 999, 29},
      {50, 20, 40, least, 50, 7, 3},   // the widest spread of sizes
      {50, 2, 5, least, least, 7, 3},  // least size, fixed row: no draw loop
      {300, 40, 12, 5, 60, 17, 39},   {5, 3, 0, 1, 3, -1, 2},
      {5, 3, -3, 1, 3, -1, 2},
  };
  for (const auto& numbers : cases) {
    const run_params params = make_params(numbers);
    ASSERT_FALSE(check_run_params(params).has_value());
    for (const uint32_t seed : {1u, 7u, 2024u, 4000000000u}) {
      EXPECT_EQ(check_bicluster_file(generate(params, seed), params), "")
          << "seed " << seed << ", arguments " << numbers[0] << " " << numbers[1] << " "
          << numbers[2] << " " << numbers[3] << " " << numbers[4] << " " << numbers[5] << " "
          << numbers[6];
    }
  }
}

TEST(Generator, SameSeedSameFileOtherSeedOtherFile) {
  const run_params params = make_params({1000, 10, 20, 5, 50, 3, 4});
  EXPECT_EQ(generate(params, 5), generate(params, 5));
  EXPECT_NE(generate(params, 5), generate(params, 6));
}

std::string generate_reference(const run_params& params, uint32_t seed) {
  char* text = nullptr;
  std::size_t length = 0;
  std::FILE* out = open_memstream(&text, &length);
  EXPECT_GE(write_reference_file(params, seed, out), 0);
  std::fclose(out);
  std::string result(text, length);
  std::free(text);
  return result;
}

// The file of `params` and `seed` is the model's, and the same run drawn into
// memory is what reading that file gives, and writes the same bytes.
void expect_same_as_reference(const run_params& params, uint32_t seed) {
  const std::string text = generate(params, seed);
  ASSERT_EQ(text, generate_reference(params, seed))
      << "seed " << seed << ", arguments " << params.num_rows << " " << params.num_columns << " "
      << params.num_biclusters << " " << params.min_rows << " " << params.max_rows << " "
      << params.fixed_row << " " << params.fixed_column;
  expect_drawn_as_written(params, seed, text);
}

// Random argument sets around the boundaries: sizes at and below zero, every
// row taken, fixed rows and columns in and out of range, no columns.
TEST(Generator, MatchesTheStraightforwardModel) {
  std::mt19937 choose(20261208);
  auto pick = [&](int32_t low, int32_t high) {
    return std::uniform_int_distribution<int32_t>(low, high)(choose);
  };
  for (int trial = 0; trial < 400; ++trial) {
    run_params params;
    params.num_rows = pick(0, 1) == 0 ? pick(0, 12) : pick(13, 5000);
    params.num_columns = pick(-3, 40);
    params.num_biclusters = pick(-2, 30);
    params.max_rows = pick(0, 3) == 0 ? params.num_rows : pick(-4, params.num_rows);
    params.min_rows =
        pick(0, 3) == 0 ? params.max_rows : pick(params.max_rows - 8, params.max_rows);
    params.fixed_row = params.num_rows > 0 && pick(0, 1) == 0 ? pick(0, params.num_rows - 1) : -1;
    params.fixed_column = pick(-3, params.num_columns + 2);
    const uint32_t seed = static_cast<uint32_t>(choose());
    ASSERT_FALSE(check_run_params(params).has_value());
    expect_same_as_reference(params, seed);
  }
}

// The vector paths this processor runs, the baseline included.
std::vector<vector_path> runnable_vector_paths() {
  std::vector<vector_path> paths;
  for (const vector_path path : k_vector_paths) {
    if (static_cast<int>(path) <= static_cast<int>(best_vector_path())) paths.push_back(path);
  }
  return paths;
}

std::string path_name(const ::testing::TestParamInfo<vector_path>& info) {
  static constexpr const char* k_names[] = {"baseline", "avx2", "avx512"};
  return k_names[static_cast<int>(info.param)];
}

// Runs a test on one vector path and goes back to the best one after it.
class OnPath : public ::testing::TestWithParam<vector_path> {
 protected:
  void SetUp() override { ASSERT_TRUE(select_vector_path(GetParam())); }
  void TearDown() override { select_vector_path(best_vector_path()); }
};

// Enough biclusters for wider table entries, and batches that end in the
// middle of the generator's blocks. At each width boundary the matrix has
// rows enough that the last biclusters still draw rows no bicluster took, so
// a stamp that wraps to the value of an untouched row changes the draws.
// Matrices too large for stamps take bits, cleared through the list of a
// bicluster's rows or, for one that takes most rows, wholly. Biclusters that
// take every row reach the summaries and filters of the last free rows, with
// and without a fixed row, on bits and on stamps of every width.
TEST_P(OnPath, MatchesTheModelForEveryTableKind) {
  const std::vector<std::vector<int32_t>> cases = {
      {20, 3, 255, 0, 20, -1, 1},
      {20, 3, 256, 0, 20, 19, 1},
      {200, 2, 65535, 1, 3, 0, -1},
      {200, 2, 65536, 1, 3, -1, -1},
      {5000, 1, 70000, 0, 9, 4999, 0},
      {100000, 4, 40, 700, 2000, 5, 2},
      {3000, 1, 255, 1, 20, -1, -1},
      {3000, 1, 256, 1, 20, -1, -1},
      {3000, 1, 257, 1, 20, 7, -1},
      {1000000, 1, 65535, 1, 3, -1, -1},
      {1000000, 1, 65536, 1, 3, -1, -1},
      {1000000, 1, 65537, 1, 3, 9, -1},
      {300000, 2, 4, 300000, 300000, -1, -1},
      {300000, 1, 3, 300000, 300000, 150000, -1},
      {40, 1, 65537, 40, 40, 3, 0},
      {300000, 2, 5, 250000, 300000, 299999, 1},
      {300000, 2, 30, 1, 9000, 17, -1},
      {300000, 2, 30, 550, 650, 0, -1},
      {300000, 2, 40, 1, 500, 17, -1},
  };
  for (const auto& numbers : cases) expect_same_as_reference(make_params(numbers), 99);
}

// Each line of large.tsv adds the length and SHA-256 digest of the exact
// file. These runs reach what small ones cannot: huge pages for a large
// table, every row of a bit table taken with the fixed row near the end,
// spreads of sizes of 2^31 and more, and four-byte stamps.
class LargeRuns : public OnPath {};

TEST_P(LargeRuns, MatchTheirLengthAndDigest) {
  test_watchdog::allow_seconds(60);
  const std::vector<known_answer> answers = read_known_answers("large.tsv");
  for (const known_answer& answer : answers) {
    ASSERT_FALSE(check_run_params(answer.params).has_value()) << answer.name;
    ASSERT_EQ(answer.more.size(), 2u) << answer.name;
    digest_sink sink;
    EXPECT_EQ(write_biclusters(answer.params, answer.seed, sink), 0) << answer.name;
    EXPECT_EQ(std::to_string(sink.length()), answer.more[0]) << answer.name;
    EXPECT_EQ(sink.hex_digest(), answer.more[1]) << answer.name;
    // The same run drawn into memory, then written.
    bicluster_set drawn;
    ASSERT_EQ(draw_biclusters(answer.params, answer.seed, drawn), 0) << answer.name;
    digest_sink from_memory;
    EXPECT_EQ(write_biclusters(drawn, from_memory), 0) << answer.name;
    EXPECT_EQ(from_memory.hex_digest(), answer.more[1]) << answer.name << ", from memory";
  }
  EXPECT_EQ(answers.size(), 5u);
}

INSTANTIATE_TEST_SUITE_P(Every, OnPath, ::testing::ValuesIn(runnable_vector_paths()), path_name);
INSTANTIATE_TEST_SUITE_P(Every, LargeRuns, ::testing::ValuesIn(runnable_vector_paths()), path_name);

}  // namespace
}  // namespace init_bicluster
