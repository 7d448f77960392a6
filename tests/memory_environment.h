// A run environment in memory, with a fixed seed and an output that can be
// made to fail at a chosen write.
#ifndef INIT_BICLUSTER_TESTS_MEMORY_ENVIRONMENT_H_
#define INIT_BICLUSTER_TESTS_MEMORY_ENVIRONMENT_H_

#include <cerrno>
#include <memory>
#include <string>

#include "run_control.h"

namespace init_bicluster {

// Gives every run an output that appends to `text`, and the seed `seed_value`.
class memory_environment final : public run_environment {
 public:
  explicit memory_environment(uint32_t seed_value) : seed_value_(seed_value) {}

  std::unique_ptr<output_sink> open_output(const std::string& path, int* error) override;
  uint32_t seed() override { return seed_value_; }

  // Makes the `write_number`-th write (from 1) fail with `error`; 0 for none.
  int fail_at_write = 0;
  // Makes closing the output fail with `error`.
  bool fail_at_close = false;
  int error = EIO;

  // What the last run did: its output path, bytes, write calls made, whether
  // it closed the output, and calls made after a failure.
  std::string opened_path;
  std::string text;
  int writes = 0;
  bool closed = false;
  int calls_after_failure = 0;

 private:
  uint32_t seed_value_;
};

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_TESTS_MEMORY_ENVIRONMENT_H_
