#include "output_sink.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "file_checks.h"
#include "file_io.h"
#include "replacement.h"

namespace init_bicluster {

file_sink::file_sink(int descriptor, int folder, std::string name,
                     std::unique_ptr<replacement> replacing, int failure)
    : descriptor_(descriptor),
      folder_(folder),
      name_(std::move(name)),
      replacement_(std::move(replacing)),
      failure_(failure) {}

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
  std::unique_ptr<file_sink> sink(new (std::nothrow) file_sink(
      plan.descriptor, plan.folder, std::move(plan.name), std::move(replacing), failure));
  if (sink == nullptr) {
    *error = ENOMEM;
    if (plan.descriptor >= 0) ::close(plan.descriptor);
    if (plan.folder >= 0) ::close(plan.folder);
  }
  return sink;
}

file_sink::~file_sink() {
  if (descriptor_ >= 0) ::close(descriptor_);
  if (folder_ >= 0) ::close(folder_);
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
  // A file moved away during the run does not hold the run at the path.
  int error = 0;
  if (folder_ >= 0) {
    struct stat named;
    error = is_still_named(folder_, name_, descriptor_, &named);
    ::close(folder_);
    folder_ = -1;
  }
  const int descriptor = descriptor_;
  descriptor_ = -1;
  // On Linux the descriptor is released even when close reports EINTR, so it
  // must not be closed again; a retry could close another thread's file.
  if (::close(descriptor) != 0 && errno != EINTR && error == 0) error = errno;
  return error;
}

}  // namespace init_bicluster
