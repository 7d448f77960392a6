#include "run_control.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "command_options.h"
#include "generator.h"
#include "init_bicluster.h"
#include "run_params.h"

namespace init_bicluster {

std::unique_ptr<output_sink> system_environment::open_output(const std::string& path, int* error) {
  return file_sink::open(path, error);
}

uint32_t system_environment::seed() { return static_cast<uint32_t>(std::time(nullptr)); }

namespace {

run_outcome failure(std::string message) { return {1, "", std::move(message) + "\n"}; }

std::string shortage_message(shortage what, const run_params& params) {
  switch (what) {
    case shortage::row_table:
      return "Could not allocate memory for " + std::to_string(params.num_rows) + " rows";
    case shortage::column_list:
      return "Could not allocate memory for " + std::to_string(params.num_columns) + " columns";
    default:
      return "Could not allocate memory for the output buffers";
  }
}

}  // namespace

run_outcome run_init_bicluster(int argc, const char* const* argv, run_environment& environment) {
  const char* program_name = argc > 0 && argv[0] != nullptr ? argv[0] : "init_bicluster";
  command_options options;
  if (auto refusal = parse_command_options(argc, argv, &options)) {
    return failure(std::move(*refusal));
  }
  if (options.help) return {0, help_text(program_name), ""};
  if (options.version) return {0, std::string("init_bicluster ") + version() + "\n", ""};
  if (argc - options.first_positional < k_argument_count) {
    return {1, usage_text(program_name), ""};
  }
  const run_params params = parse_run_params(argv + options.first_positional);
  if (auto refusal = check_run_params(params)) return failure(std::move(*refusal));
  // Everything the run needs comes before the output is opened, so that
  // running out of memory leaves the output path as it was.
  bicluster_generator generator(params, options.seed ? *options.seed : environment.seed());
  if (const shortage missing = generator.prepare(); missing != shortage::none) {
    return failure(shortage_message(missing, params));
  }
  int error = 0;
  const std::unique_ptr<output_sink> sink = environment.open_output(params.output_filename, &error);
  if (sink == nullptr) return failure("Could not open output file");
  error = generator.write(*sink);
  if (error == 0) error = sink->close();
  if (error != 0) {
    // The two failures that are not the system's: the path was not the
    // file the run had checked, and another kept the file locked.
    const char* reason = error == ESTALE    ? "another program changed the path during the run"
                         : error == ETXTBSY ? "another program holds a lock on the file"
                                            : std::strerror(error);
    return failure(std::string("Could not write output file: ") + reason);
  }
  return {};
}

}  // namespace init_bicluster
