// One run of the tool, from its argument vector to its exit status and messages.
#ifndef INIT_BICLUSTER_RUN_CONTROL_H_
#define INIT_BICLUSTER_RUN_CONTROL_H_

#include <cstdint>
#include <memory>
#include <string>

#include "output_sink.h"

namespace init_bicluster {

// What a run decided; the caller prints it and exits with the status.
struct run_outcome {
  // 0 when the whole file was written, 1 otherwise.
  int exit_status = 0;
  // Text for standard output (the usage text) and standard error (one
  // message line), each empty when there is nothing to print.
  std::string standard_output;
  std::string standard_error;
};

// The parts of a run that touch the world, so that a run can be driven in
// memory as well.
class run_environment {
 public:
  virtual ~run_environment() = default;

  // Opens the output at `path` for writing, created or truncated. Returns null,
  // with the errno value in `*error`, when that fails.
  virtual std::unique_ptr<output_sink> open_output(const std::string& path, int* error) = 0;

  // The seed of the run's random draws when no --seed gives one; asked once,
  // before the output is opened.
  virtual uint32_t seed() = 0;
};

// Files on disk and the clock: the output is opened as fopen(path, "w") does
// and the seed is the current time in whole seconds.
class system_environment final : public run_environment {
 public:
  std::unique_ptr<output_sink> open_output(const std::string& path, int* error) override;
  uint32_t seed() override;
};

// Runs the tool on the process arguments `argv[0]` to `argv[argc - 1]`: reads
// the options, checks the arguments, then writes the bicluster file through
// `environment`, seeded by --seed or else by the environment. Every refusal
// comes before the output is opened. Requires `argc` >= 0 and `argv` holding
// `argc` C strings (argv[0] may be null).
run_outcome run_init_bicluster(int argc, const char* const* argv, run_environment& environment);

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_RUN_CONTROL_H_
