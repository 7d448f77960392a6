// libFuzzer target: the input, split on NUL bytes, is up to eight command-line
// arguments. The run goes through the real run control into memory, and its
// outcome is checked against what the arguments call for.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "bicluster_file_check.h"
#include "memory_environment.h"
#include "record_writer.h"
#include "run_control.h"
#include "run_params.h"

namespace {

using namespace init_bicluster;

// Work the harness lets one input cause; larger argument sets are skipped,
// since the tool would rightly spend long on them.
constexpr int64_t k_most_rows = int64_t{1} << 20;
constexpr int64_t k_most_drawn_rows = 20000;
constexpr uint64_t k_most_column_bytes = uint64_t{1} << 20;

bool too_large(const run_params& params) {
  const int64_t records = std::max<int64_t>(params.num_biclusters, 0);
  return params.num_rows > k_most_rows ||
         records * std::max<int64_t>(params.max_rows, 0) > k_most_drawn_rows ||
         records * column_list_length(params.num_columns, params.fixed_column) >
             k_most_column_bytes ||
         records > k_most_drawn_rows;
}

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::vector<std::string> arguments = {"init_bicluster"};
  const char* text = reinterpret_cast<const char*>(data);
  std::size_t start = 0;
  while (start <= size && arguments.size() < k_argument_count + 1) {
    std::size_t end = start;
    while (end < size && text[end] != '\0') ++end;
    arguments.emplace_back(text + start, end - start);
    start = end + 1;
  }
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  const int argc = static_cast<int>(argv.size());

  std::optional<run_params> params;
  std::optional<std::string> refusal;
  if (argc == k_argument_count + 1) {
    params = parse_run_params(argv.data() + 1);
    refusal = check_run_params(*params);
    if (!refusal && too_large(*params)) return 0;
  }

  memory_environment environment(static_cast<uint32_t>(size * 2654435761u));
  const run_outcome outcome = run_init_bicluster(argc, argv.data(), environment);
  if (!params) {
    if (outcome.exit_status != 1 || outcome.standard_output != usage_text("init_bicluster") ||
        !outcome.standard_error.empty() || !environment.opened_path.empty()) {
      fail("a short command line did not get the usage text");
    }
  } else if (refusal) {
    if (outcome.exit_status != 1 || outcome.standard_error != *refusal + "\n" ||
        !outcome.standard_output.empty() || !environment.opened_path.empty()) {
      fail("a refusal was not reported as one, or the output was opened");
    }
  } else {
    if (outcome.exit_status != 0 || !outcome.standard_error.empty() ||
        !outcome.standard_output.empty() || environment.opened_path != params->output_filename ||
        !environment.closed) {
      fail("an accepted run did not end cleanly");
    }
    const std::string problem = check_bicluster_file(environment.text, *params);
    if (!problem.empty()) fail(problem.c_str());
  }
  return 0;
}
