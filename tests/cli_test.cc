// Runs the built executable and checks its status, messages and file.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "bicluster_file_check.h"
#include "cli_fixture.h"
#include "init_bicluster.h"
#include "process_runner.h"
#include "run_params.h"

namespace init_bicluster {
namespace {

const std::string k_usage_tail =
    ": Create initial biclusters, potentialy with fixed rows and columns\n"
    "Args: <num rows> <num columns> <num biclusters> <min rows> <max rows> "
    "<fixed row | -1> <fixed column | -1> <output filename>\n";

TEST_F(CommandLine, ShortCommandLinesGetTheUsageAndCreateNothing) {
  for (const std::size_t count : {0, 1, 7}) {
    std::vector<std::string> arguments = {"my tool"};
    const std::vector<std::string> all = {"6", "4", "2", "2", "3", "4", "2", output_};
    arguments.insert(arguments.end(), all.begin(), all.begin() + static_cast<long>(count));
    const process_result result = run_tool(TOOL_PATH, arguments);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.standard_output, "my tool" + k_usage_tail);
    EXPECT_EQ(result.standard_error, "");
    EXPECT_FALSE(output_exists());
  }
}

TEST_F(CommandLine, WritesAValidFileAndIgnoresExtraArguments) {
  for (const int extra : {0, 1, 92}) {
    std::vector<std::string> arguments = {"300", "40", "12", "5", "60", "17", "39", output_};
    for (int i = 0; i < extra; ++i) arguments.push_back("x" + std::to_string(i));
    const process_result result = run(arguments);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.standard_output, "");
    EXPECT_EQ(result.standard_error, "");
    EXPECT_EQ(check_bicluster_file(read_file(output_), params_of(arguments)), "");
  }
}

TEST_F(CommandLine, RefusalsLeaveAnExistingFileAsItWas) {
  const struct {
    std::vector<std::string> numbers;
    std::string message;
  } cases[] = {
      {{"10", "4", "2", "1", "11", "-1", "-1"}, "Max rows (11) is greater than num rows (10)\n"},
      {{"-5", "4", "2", "-9", "-6", "-1", "-1"}, "Num rows (-5) must not be negative\n"},
      {{"10", "4", "2", "6", "5", "-1", "-1"}, "Min rows (6) is greater than max rows (5)\n"},
      {{"10", "4", "2", "1", "3", "10", "-1"},
       "Fixed row (10) must be -1 or a row index from 0 to 9\n"},
      {{"1e6", "4", "2", "1", "1", "1", "-1"},
       "Fixed row (1) must be -1 or a row index from 0 to 0\n"},
  };
  for (const auto& c : cases) {
    write_file(output_, "precious\n");
    std::vector<std::string> arguments = c.numbers;
    arguments.push_back(output_);
    const process_result result = run(arguments);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.standard_output, "");
    EXPECT_EQ(result.standard_error, c.message);
    EXPECT_EQ(read_file(output_), "precious\n");
  }
}

TEST_F(CommandLine, AnUnopenablePathIsReported) {
  const process_result result =
      run({"10", "4", "2", "1", "10", "-1", "-1", directory_ + "/missing/out.txt"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.standard_output, "");
  EXPECT_EQ(result.standard_error, "Could not open output file\n");
}

TEST_F(CommandLine, NoBiclustersLeavesAnEmptyFile) {
  for (const char* count : {"0", "-3"}) {
    write_file(output_, "old contents\n");
    const process_result result = run({"10", "4", count, "1", "10", "-1", "-1", output_});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.standard_error, "");
    EXPECT_TRUE(output_exists());
    EXPECT_EQ(read_file(output_), "");
  }
}

TEST_F(CommandLine, CreatesTheFileWithTheUsualMode) {
  const mode_t old_mask = umask(022);
  const process_result result = run({"5", "2", "1", "1", "2", "-1", "-1", output_});
  umask(old_mask);
  ASSERT_EQ(result.exit_status, 0);
  struct stat info;
  ASSERT_EQ(stat(output_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST_F(CommandLine, AFullDeviceIsAFailure) {
  const struct {
    const char* what;
    std::vector<std::string> numbers;
  } cases[] = {
      {"fails only at the end", {"6", "4", "2", "2", "3", "4", "2"}},
      {"fails while writing", {"20000", "20000", "2000", "10", "100", "5", "7"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> arguments = c.numbers;
    arguments.push_back("/dev/full");
    const process_result result = run(arguments);
    EXPECT_EQ(result.exit_status, 1) << c.what;
    EXPECT_EQ(result.standard_output, "") << c.what;
    EXPECT_EQ(result.standard_error, "Could not write output file: No space left on device\n")
        << c.what;
  }
}

TEST_F(CommandLine, WithoutASeedTheClockSecondSeedsTheRun) {
  const std::string second = directory_ + "/second.txt";
  const std::vector<std::string> arguments = {"1000", "10", "20", "5", "50", "3", "4", output_};
  std::vector<std::string> again = arguments;
  again.back() = second;
  for (int attempt = 0; attempt < 20; ++attempt) {
    const std::time_t before = std::time(nullptr);
    const process_result first_run = run(arguments);
    const process_result second_run = run(again);
    if (std::time(nullptr) != before) continue;  // The clock ticked between them.
    ASSERT_EQ(first_run.exit_status, 0);
    ASSERT_EQ(second_run.exit_status, 0);
    EXPECT_EQ(read_file(output_), library_file(arguments, static_cast<uint32_t>(before)));
    EXPECT_EQ(read_file(output_), read_file(second));
    return;
  }
  FAIL() << "the clock ticked during every attempt";
}

TEST_F(CommandLine, SeedOptionsWriteTheFileOfThatSeed) {
  const std::string example = read_file(std::string(TEST_DATA_DIR) + "/example.txt");
  const std::vector<std::string> small = {"6", "4", "2", "2", "3", "4", "2"};
  const std::vector<std::string> large = {"1000", "30", "300", "1", "1000", "7", "3"};
  const struct {
    std::vector<std::string> options;
    const std::vector<std::string>& numbers;
    uint32_t seed;
  } cases[] = {
      {{"--seed", "1"}, small, 1},
      {{"--seed=1"}, small, 1},
      {{"--seed=0001", "--"}, small, 1},
      {{"--seed", "0"}, large, 0},
      {{"--seed=4294967295"}, large, 4294967295u},
      {{"--seed", "2147483648"}, large, 2147483648u},
  };
  for (const auto& c : cases) {
    std::vector<std::string> arguments = c.options;
    arguments.insert(arguments.end(), c.numbers.begin(), c.numbers.end());
    arguments.push_back(output_);
    const process_result result = run(arguments);
    const std::string what = arguments[0] + " " + arguments[1];
    EXPECT_EQ(result.exit_status, 0) << what;
    EXPECT_EQ(result.standard_error, "") << what;
    std::vector<std::string> positional = c.numbers;
    positional.push_back(output_);
    EXPECT_EQ(read_file(output_), library_file(positional, c.seed)) << what;
  }
  ASSERT_EQ(run({"--seed", "1", "6", "4", "2", "2", "3", "4", "2", output_}).exit_status, 0);
  EXPECT_EQ(read_file(output_), example);
}

TEST_F(CommandLine, BadOptionsAreRefusedBeforeTheFileIsTouched) {
  const std::string seed_rule = "a whole number from 0 to 4294967295\n";
  const struct {
    std::vector<std::string> options;
    std::string message;
  } cases[] = {
      {{"--seed="}, "Option --seed must be " + seed_rule},
      {{"--seed", "-1"}, "Option --seed must be " + seed_rule},
      {{"--seed", "+1"}, "Option --seed must be " + seed_rule},
      {{"--seed", " 1"}, "Option --seed must be " + seed_rule},
      {{"--seed", "1 "}, "Option --seed must be " + seed_rule},
      {{"--seed=10 "}, "Option --seed must be " + seed_rule},
      {{"--seed", "1x"}, "Option --seed must be " + seed_rule},
      {{"--seed", "0x10"}, "Option --seed must be " + seed_rule},
      {{"--seed", "4294967296"}, "Option --seed must be " + seed_rule},
      {{"--seed", "99999999999999999999999"}, "Option --seed must be " + seed_rule},
      {{"--seed", "1", "--seed=1"}, "Option --seed is given twice\n"},
      {{"--seeds=1"}, "Unknown option --seeds (--help lists the options)\n"},
      {{"--frob"}, "Unknown option --frob (--help lists the options)\n"},
      {{"--seed=3", "--5"}, "Unknown option --5 (--help lists the options)\n"},
      {{"--\x1b]2;x\x07\\\xc3\xa9=\x1b"},
       "Unknown option --\\x1b]2;x\\x07\\\\\\xc3\\xa9 (--help lists the options)\n"},
  };
  for (const auto& c : cases) {
    write_file(output_, "precious\n");
    std::vector<std::string> arguments = c.options;
    const std::vector<std::string> rest = {"6", "4", "2", "2", "3", "4", "2", output_};
    arguments.insert(arguments.end(), rest.begin(), rest.end());
    const process_result result = run(arguments);
    EXPECT_EQ(result.exit_status, 1) << c.options[0];
    EXPECT_EQ(result.standard_output, "");
    EXPECT_EQ(result.standard_error, c.message) << c.options.back();
    EXPECT_EQ(read_file(output_), "precious\n");
  }
  // A bad seed is refused before a bad argument is; a seed can be missing only at the end.
  const process_result both = run({"--seed=x", "10", "4", "2", "1", "11", "-1", "-1", output_});
  EXPECT_EQ(both.standard_error, "Option --seed must be " + seed_rule);
  const process_result missing = run({"--seed"});
  EXPECT_EQ(missing.exit_status, 1);
  EXPECT_EQ(missing.standard_error, "Option --seed needs a value: " + seed_rule);
}

TEST_F(CommandLine, OptionsOnlyLeadTheCommandLine) {
  const struct {
    std::vector<std::string> arguments;
    int status;
    std::string output;
    std::string error;
  } cases[] = {
      {{"--help"}, 0, "init_bicluster" + k_usage_tail, ""},
      {{"--seed=5", "--help", "--frob"}, 0, "init_bicluster" + k_usage_tail, ""},
      {{"--version"}, 0, "init_bicluster " INIT_BICLUSTER_VERSION "\n", ""},
      {{"--seed", "5", "6", "4"}, 1, "init_bicluster" + k_usage_tail, ""},
      {{"--", "6", "4", "2", "2", "3", "4", "2"}, 1, "init_bicluster" + k_usage_tail, ""},
      {{"--", "--5", "3", "2", "1", "3", "-1", "-1", "o"},
       1,
       "",
       "Max rows (3) is greater than num rows (0)\n"},
      {{"-h"}, 1, "init_bicluster" + k_usage_tail, ""},
      // Not options: the first argument does not begin with "--".
      {{"-5", "--seed", "2", "-9", "-6", "-1", "-1", "o"},
       1,
       "",
       "Num rows (-5) must not be negative\n"},
      {{"10", "4", "2", "1", "3", "-1", "-1", "--help"}, 0, "", ""},
  };
  const std::filesystem::path old_directory = std::filesystem::current_path();
  std::filesystem::current_path(directory_);
  for (const auto& c : cases) {
    const process_result result = run(c.arguments);
    EXPECT_EQ(result.exit_status, c.status) << c.arguments[0];
    EXPECT_EQ(result.standard_output.substr(0, c.output.size()), c.output) << c.arguments[0];
    if (c.arguments[0] != "--help" && c.arguments[0] != "--seed=5") {
      EXPECT_EQ(result.standard_output, c.output);
    } else {
      EXPECT_NE(result.standard_output.find("\n  --seed N "), std::string::npos);
      EXPECT_NE(result.standard_output.find("man init_bicluster\n"), std::string::npos);
    }
    EXPECT_EQ(result.standard_error, c.error) << c.arguments[0];
  }
  std::filesystem::current_path(old_directory);
  EXPECT_TRUE(std::filesystem::exists(directory_ + "/--help"));
  // Help and the version that cannot be written are failures.
  run_options full;
  full.standard_output_file = "/dev/full";
  for (const char* option : {"--help", "--version"}) {
    const process_result result = run({option}, full);
    EXPECT_EQ(result.exit_status, 1) << option;
    EXPECT_EQ(result.standard_error, "Could not write standard output: No space left on device\n");
  }
}

}  // namespace
}  // namespace init_bicluster
