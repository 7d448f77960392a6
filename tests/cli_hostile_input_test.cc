// Hostile command lines and output paths, end to end: each run ends quickly
// with a valid file and status 0, or one message and status 1.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bicluster_file_check.h"
#include "cli_fixture.h"
#include "run_params.h"

namespace init_bicluster {
namespace {

constexpr const char* k_out = "@out";  // stands for the output path in a case

struct hostile_case {
  const char* what;
  std::vector<std::string> arguments;
  int exit_status;
  std::string message;  // the whole of standard error
};

TEST_F(CommandLine, HostileArgumentsEndWithTheirPromisedOutcome) {
  const std::string zero_rows_refusal = "Fixed row (0) must be -1 when num rows is 0\n";
  const std::string thirty_digits = "123456789012345678901234567890";
  // One argument may not exceed 128 KiB on Linux; in-process runs try 1 MB.
  const std::string longest(128 * 1024 - 1, '9');
  const hostile_case cases[] = {
      {"empty strings", {"", "", "", "", "", "", "", k_out}, 1, zero_rows_refusal},
      {"only spaces", {" ", "  ", "\t", " ", " ", " ", " ", k_out}, 1, zero_rows_refusal},
      {"signs alone", {"-", "+", "-", "+", "-", "+", "-", k_out}, 1, zero_rows_refusal},
      {"thirty digits",
       {thirty_digits, "3", "2", "1", thirty_digits, "-1", "-1", k_out},
       1,
       "Num rows (-1) must not be negative\n"},
      {"greatest 32-bit rows",
       {"2147483647", "3", "4", "1", "5", "2147483646", "-1", k_out},
       0,
       ""},
      {"one beyond 32 bits",
       {"2147483648", "3", "4", "1", "3", "-1", "-1", k_out},
       1,
       "Max rows (3) is greater than num rows (-2147483648)\n"},
      {"least 32-bit sizes",
       {"10", "3", "5", "-2147483648", "5", "9", "-2147483648", k_out},
       0,
       ""},
      {"least 32-bit size only",
       {"10", "3", "5", "-2147483648", "-2147483648", "0", "2", k_out},
       0,
       ""},
      {"greatest 32-bit column", {"10", "3", "2", "1", "3", "-1", "2147483647", k_out}, 0, ""},
      {"greatest 64-bit count",
       {"10", "3", "9223372036854775807", "1", "3", "-1", "-1", k_out},
       0,
       ""},
      {"least 64-bit count",
       {"10", "3", "-9223372036854775808", "1", "3", "-1", "-1", k_out},
       0,
       ""},
      {"beyond 64 bits", {"10", "3", "3", "9223372036854775808", "3", "-1", "-1", k_out}, 0, ""},
      {"below 64 bits", {"10", "3", "3", "-9223372036854775809", "3", "-1", "-1", k_out}, 0, ""},
      {"longest number",
       {"10", "3", "1", "1", longest, "-1", "-1", k_out},
       1,
       "Min rows (1) is greater than max rows (-1)\n"},
      {"bytes above 127",
       {"\xff\xfe"
        "5",
        "\xe9", "2", "1", "1", "-1", "-1", k_out},
       1,
       "Max rows (1) is greater than num rows (0)\n"},
      {"bytes above 127 after digits", {"5\xff", "3\xe9", "2", "1", "1", "-1", "-1", k_out}, 0, ""},
      {"path too long",
       {"10", "3", "2", "1", "3", "-1", "-1", std::string(100000, 'p')},
       1,
       "Could not open output file\n"},
      {"path with bytes above 127", {"10", "3", "2", "1", "3", "-1", "-1", "@out\xe9\xff"}, 0, ""},
      {"path with spaces and a newline",
       {"10", "3", "2", "1", "3", "-1", "-1", "@out a\nb c"},
       0,
       ""},
  };
  int number = 0;
  for (const hostile_case& c : cases) {
    std::vector<std::string> arguments = c.arguments;
    std::string path;
    for (std::string& argument : arguments) {
      if (argument.starts_with(k_out)) {
        argument = path = directory_ + "/" + std::to_string(++number) + argument.substr(1);
      }
    }
    run_options options;
    options.timeout_seconds = 20;
    const process_result result = run(arguments, options);
    EXPECT_EQ(result.exit_status, c.exit_status) << c.what;
    EXPECT_EQ(result.standard_error, c.message) << c.what;
    EXPECT_EQ(result.standard_output, "") << c.what;
    if (c.exit_status == 0) {
      EXPECT_EQ(check_bicluster_file(read_file(path), params_of(arguments)), "") << c.what;
    } else if (!path.empty()) {
      EXPECT_FALSE(std::filesystem::exists(path)) << c.what;
    }
  }
}

TEST_F(CommandLine, HostileOutputPathsAreReported) {
  std::filesystem::create_directory(directory_ + "/folder");
  std::filesystem::create_symlink("/dev/full", directory_ + "/full");
  const struct {
    std::string path;
    std::string message;
  } cases[] = {
      {directory_ + "/folder", "Could not open output file\n"},
      {directory_ + "/folder/", "Could not open output file\n"},
      {"", "Could not open output file\n"},
      {directory_ + "/full", "Could not write output file: No space left on device\n"},
  };
  for (const auto& c : cases) {
    const process_result result = run({"10", "3", "2", "1", "3", "-1", "-1", c.path});
    EXPECT_EQ(result.exit_status, 1) << c.path;
    EXPECT_EQ(result.standard_error, c.message) << c.path;
  }
}

TEST_F(CommandLine, AReadOnlyFileIsReportedAndKept) {
  write_file(output_, "read only\n");
  ASSERT_EQ(chmod(output_.c_str(), 0444), 0);
  // Root writes anyway: run as an ordinary user.
  const run_options options = geteuid() == 0 ? as_nobody() : run_options{};
  const process_result result = run({"10", "3", "2", "1", "3", "-1", "-1", output_}, options);
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.standard_error, "Could not open output file\n");
  EXPECT_EQ(read_file(output_), "read only\n");
}

}  // namespace
}  // namespace init_bicluster
