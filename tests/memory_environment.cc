#include "memory_environment.h"

namespace init_bicluster {

namespace {

class recording_sink final : public output_sink {
 public:
  explicit recording_sink(memory_environment& environment) : environment_(environment) {}

  int write(std::string_view bytes) override {
    if (failed_) ++environment_.calls_after_failure;
    if (++environment_.writes == environment_.fail_at_write) return fail();
    environment_.text.append(bytes);
    return 0;
  }

  int close() override {
    if (failed_) ++environment_.calls_after_failure;
    environment_.closed = true;
    return environment_.fail_at_close ? fail() : 0;
  }

 private:
  int fail() {
    failed_ = true;
    return environment_.error;
  }

  memory_environment& environment_;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<output_sink> memory_environment::open_output(const std::string& path, int*) {
  opened_path = path;
  text.clear();
  writes = 0;
  closed = false;
  calls_after_failure = 0;
  return std::make_unique<recording_sink>(*this);
}

}  // namespace init_bicluster
