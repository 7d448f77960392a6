#include "output_sink.h"

#include <unistd.h>

#include <cerrno>

#include "file_io.h"
#include "replacement.h"

namespace init_bicluster {

file_sink::file_sink(int descriptor, std::unique_ptr<replacement> replacing, int failure)
    : descriptor_(descriptor), replacement_(std::move(replacing)), failure_(failure) {}

std::unique_ptr<file_sink> file_sink::open(const std::string& path, int* error) {
  output_plan plan = plan_output(path);
  std::unique_ptr<replacement> replacing;
  if (plan.how == output_plan::way::refuse) {
    *error = plan.error;
    return nullptr;
  }
  if (plan.how == output_plan::way::replace) {
    replacing.reset(new (std::nothrow) replacement(std::move(plan.replacing)));
    if (replacing == nullptr) {
      *error = ENOMEM;
      return nullptr;
    }
  }
  const int failure = plan.how == output_plan::way::fail ? plan.error : 0;
  std::unique_ptr<file_sink> sink(new (std::nothrow)
                                      file_sink(plan.descriptor, std::move(replacing), failure));
  if (sink == nullptr) {
    *error = ENOMEM;
    if (plan.descriptor >= 0) ::close(plan.descriptor);
  }
  return sink;
}

file_sink::~file_sink() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

int file_sink::write(std::string_view bytes) {
  if (failure_ != 0) return failure_;
  return replacement_ ? replacement_->write(bytes) : write_all(descriptor_, bytes);
}

int file_sink::close() {
  if (failure_ != 0) return failure_;
  if (replacement_) {
    const int error = replacement_->commit();
    replacement_.reset();
    return error;
  }
  const int descriptor = descriptor_;
  descriptor_ = -1;
  // On Linux the descriptor is released even when close reports EINTR, so it
  // must not be closed again; a retry could close another thread's file.
  if (::close(descriptor) != 0 && errno != EINTR) return errno;
  return 0;
}

}  // namespace init_bicluster
