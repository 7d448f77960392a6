// libFuzzer target. The input's first byte chooses a failure to inject into
// the output (none, the Nth write, or the close); the second, the vector path
// among those the processor runs; the rest, split on NUL bytes, is the
// command line after the program name, options included. The
// run goes through the real run control into memory, and its outcome is
// compared with an independent statement of the rules and, for an accepted
// run, with the straightforward model's file byte for byte, and with the same
// run drawn into memory. The whole input is also given to the reader of
// bicluster files, which must read it or refuse it, and write back what it
// reads byte for byte.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "bicluster_file_check.h"
#include "bicluster_set.h"
#include "init_bicluster_version.h"
#include "memory_environment.h"
#include "record_writer.h"
#include "reference_model.h"
#include "run_control.h"
#include "run_params.h"
#include "vector_path.h"

namespace {

using namespace init_bicluster;

// Work the harness lets one input cause; larger argument sets are skipped,
// since the tool would rightly spend long on them. Enough records for the
// widest table entries (above 65535) fit within them.
constexpr int64_t k_most_rows = int64_t{1} << 20;
// A bicluster of every row of a bit table (more than 262144 rows) fits.
constexpr int64_t k_most_drawn_rows = int64_t{1} << 19;
constexpr uint64_t k_most_column_bytes = uint64_t{1} << 20;
constexpr std::size_t k_most_arguments = 20;

bool too_large(const run_params& params) {
  const int64_t records = std::max<int64_t>(params.num_biclusters, 0);
  return params.num_rows > k_most_rows ||
         records * std::max<int64_t>(params.max_rows, 0) > k_most_drawn_rows ||
         records * (column_list_length(params.num_columns, params.fixed_column) + 1) >
             k_most_column_bytes ||
         records > k_most_drawn_rows;
}

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

// What a run must end in, stated apart from the tool's own code.
struct expectation {
  int exit_status = 1;
  std::string standard_output;
  std::string standard_error;
  // Set for a run that writes: its arguments and seed.
  std::optional<run_params> params;
  std::optional<uint32_t> seed;
};

std::string usage(const std::string& name) {
  return name +
         ": Create initial biclusters, potentialy with fixed rows and columns\n"
         "Args: <num rows> <num columns> <num biclusters> <min rows> <max rows> "
         "<fixed row | -1> <fixed column | -1> <output filename>\n";
}

std::string with_value(const char* name, int32_t value) {
  return std::string(name) + " (" + std::to_string(value) + ")";
}

expectation refused(std::string message) { return {1, "", message + "\n", {}, {}}; }

// An option as a refusal shows it: bytes outside printable ASCII, and the
// backslash, as \xHH and \\.
std::string shown(const std::string& option) {
  std::string text;
  char escape[5];
  for (const unsigned char byte : option) {
    if (byte == '\\') {
      text += "\\\\";
    } else if (byte < 0x20 || byte > 0x7e) {
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      text += escape;
    } else {
      text += static_cast<char>(byte);
    }
  }
  return text;
}

// Any bytes are read or refused; what is read writes back as the same bytes.
void check_reader(std::string_view text, int32_t num_rows, int32_t num_columns) {
  bicluster_set set;
  if (read_biclusters(text, set, num_rows, num_columns)) return;
  string_sink written;
  if (write_biclusters(set, written) != 0 || written.text() != text) {
    fail("a file that was read writes back otherwise");
  }
}

expectation expected_outcome(const std::vector<std::string>& argv) {
  const std::string rule = "a whole number from 0 to 4294967295";
  std::size_t next = 1;
  std::optional<uint32_t> seed;
  while (next < argv.size() && argv[next].rfind("--", 0) == 0) {
    const std::string option = argv[next++];
    if (option == "--") break;
    if (option == "--help") return {0, "(help)", "", {}, {}};
    if (option == "--version") {
      return {0, "init_bicluster " INIT_BICLUSTER_VERSION "\n", "", {}, {}};
    }
    std::string value;
    if (option == "--seed") {
      if (next == argv.size()) return refused("Option --seed needs a value: " + rule);
      value = argv[next++];
    } else if (option.rfind("--seed=", 0) == 0) {
      value = option.substr(7);
    } else {
      return refused("Unknown option " + shown(option.substr(0, option.find('='))) +
                     " (--help lists the options)");
    }
    if (seed) return refused("Option --seed is given twice");
    const bool digits = !value.empty() && value.size() <= 10 &&
                        value.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::stoull(value) > 4294967295u) {
      return refused("Option --seed must be " + rule);
    }
    seed = static_cast<uint32_t>(std::stoull(value));
  }
  if (argv.size() - next < 8) return {1, usage(argv[0]), "", {}, {}};
  std::vector<int32_t> numbers;
  for (std::size_t i = next; i < next + 7; ++i) {
    // strtoll saturates at the 64-bit limits; the low 32 bits are kept.
    numbers.push_back(static_cast<int32_t>(std::strtoll(argv[i].c_str(), nullptr, 10)));
  }
  const int32_t rows = numbers[0], least = numbers[3], most = numbers[4], fixed = numbers[5];
  if (rows < most)
    return refused(with_value("Max rows", most) + " is greater than " +
                   with_value("num rows", rows));
  if (rows < 0) return refused(with_value("Num rows", rows) + " must not be negative");
  if (least > most) {
    return refused(with_value("Min rows", least) + " is greater than " +
                   with_value("max rows", most));
  }
  if (fixed != -1 && (fixed < 0 || fixed >= rows)) {
    return refused(with_value("Fixed row", fixed) +
                   (rows == 0
                        ? std::string(" must be -1 when num rows is 0")
                        : " must be -1 or a row index from 0 to " + std::to_string(rows - 1)));
  }
  run_params params;
  params.num_rows = rows;
  params.num_columns = numbers[1];
  params.num_biclusters = numbers[2];
  params.min_rows = least;
  params.max_rows = most;
  params.fixed_row = fixed;
  params.fixed_column = numbers[6];
  params.output_filename = argv[next + 7];
  return {0, "", "", params, seed};
}

std::string model_file(const run_params& params, uint32_t seed) {
  char* text = nullptr;
  std::size_t length = 0;
  std::FILE* out = open_memstream(&text, &length);
  if (out == nullptr || write_reference_file(params, seed, out) < 0) fail("the model failed");
  std::fclose(out);
  std::string file(text, length);
  std::free(text);
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const uint8_t injection = data[0];
  static const std::vector<vector_path> paths = [] {
    std::vector<vector_path> runnable;
    for (const vector_path path : k_vector_paths) {
      if (static_cast<int>(path) <= static_cast<int>(best_vector_path())) runnable.push_back(path);
    }
    return runnable;
  }();
  select_vector_path(paths[data[1] % paths.size()]);
  std::vector<std::string> arguments = {"init_bicluster"};
  const char* text = reinterpret_cast<const char*>(data + 2);
  const std::size_t length = size - 2;
  check_reader({text, length}, -1, -1);
  check_reader({text, length}, data[1] % 16, injection % 16);
  std::size_t start = 0;
  while (start <= length && arguments.size() < k_most_arguments) {
    std::size_t end = start;
    while (end < length && text[end] != '\0') ++end;
    arguments.emplace_back(text + start, end - start);
    start = end + 1;
  }
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());

  const expectation expected = expected_outcome(arguments);
  if (expected.params && too_large(*expected.params)) return 0;
  const uint32_t clock_seed = static_cast<uint32_t>((size - 1) * 2654435761u);
  memory_environment environment(clock_seed);
  // Bit 7: inject; bit 6: at the close, else at write 1 to 64.
  if (injection & 0x80) {
    if (injection & 0x40) {
      environment.fail_at_close = true;
    } else {
      environment.fail_at_write = (injection & 0x3F) + 1;
    }
    environment.error = (injection & 1) ? ENOSPC : EIO;
  }
  const run_outcome outcome =
      run_init_bicluster(static_cast<int>(argv.size()), argv.data(), environment);

  if (!expected.params) {
    const bool help = expected.standard_output == "(help)";
    if (outcome.exit_status != expected.exit_status ||
        outcome.standard_error != expected.standard_error ||
        (help ? outcome.standard_output.rfind(usage(arguments[0]), 0) != 0
              : outcome.standard_output != expected.standard_output) ||
        !environment.opened_path.empty()) {
      fail("the usage, an answer or a refusal is not what the rules call for");
    }
    return 0;
  }
  const std::string model = model_file(*expected.params, expected.seed.value_or(clock_seed));
  if (environment.opened_path != expected.params->output_filename ||
      !outcome.standard_output.empty()) {
    fail("an accepted run did not open its output, or printed");
  }
  const bool failed_write =
      environment.fail_at_write > 0 && environment.writes >= environment.fail_at_write;
  if (failed_write || environment.fail_at_close) {
    const std::string message =
        std::string("Could not write output file: ") + std::strerror(environment.error) + "\n";
    if (outcome.exit_status != 1 || outcome.standard_error != message ||
        environment.calls_after_failure != 0 || !model.starts_with(environment.text)) {
      fail("an injected failure was not reported as one, or writing went on");
    }
    return 0;
  }
  if (outcome.exit_status != 0 || !outcome.standard_error.empty() || !environment.closed) {
    fail("an accepted run did not end cleanly");
  }
  if (environment.text != model) {
    const std::string problem = check_bicluster_file(environment.text, *expected.params);
    fail(problem.empty() ? "the file differs from the model's" : problem.c_str());
  }
  bicluster_set drawn;
  bicluster_set read;
  if (draw_biclusters(*expected.params, expected.seed.value_or(clock_seed), drawn) != 0 ||
      read_biclusters(model, read, expected.params->num_rows, expected.params->num_columns) ||
      read.offsets != drawn.offsets || read.rows != drawn.rows) {
    fail("the run drawn into memory is not what its file reads as");
  }
  return 0;
}
