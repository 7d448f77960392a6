#include "output_sink.h"

#include <unistd.h>

#include <cerrno>

#include "file_io.h"
#include "replacement.h"

namespace init_bicluster {

std::unique_ptr<file_sink> file_sink::open(const std::string& path, int* error) {
  output_plan plan = plan_output(path);
  int descriptor = plan.descriptor;
  int failure = plan.error;
  temporary_file replacement;
  if (plan.how == output_plan::way::replace) {
    const mode_t mode = plan.identity ? 0600 : 0666;
    if (!create_temporary_file(directory_of(plan.target), name_of(plan.target), mode,
                               &replacement)) {
      failure = errno;
      plan.target.clear();
    } else if (plan.identity && !give_identity(replacement.descriptor, *plan.identity)) {
      discard_temporary_file(&replacement);
      plan.target.clear();
    }
    if (plan.target.empty()) {
      // No new file: short of a resource, the run fails and the old file
      // stays; otherwise the path is written in place.
      if (plan.identity && is_shortage(failure)) {
        std::unique_ptr<file_sink> failed(new (std::nothrow) file_sink(-1, "", "", failure));
        if (failed == nullptr) *error = ENOMEM;
        return failed;
      }
      descriptor = open_in_place(path);
      failure = errno;
    }
  }
  if (plan.target.empty() && descriptor < 0) {
    *error = failure;
    return nullptr;
  }
  std::unique_ptr<file_sink> sink(
      plan.target.empty()
          ? new (std::nothrow) file_sink(descriptor, "", "", 0)
          : new (std::nothrow) file_sink(replacement.descriptor, replacement.path, plan.target, 0));
  if (sink == nullptr) {
    *error = ENOMEM;
    if (plan.target.empty()) ::close(descriptor);
    discard_temporary_file(&replacement);
  }
  return sink;
}

file_sink::~file_sink() {
  temporary_file file{descriptor_, temporary_path_};
  if (!target_.empty()) {
    discard_temporary_file(&file);
  } else if (descriptor_ >= 0) {
    ::close(descriptor_);
  }
}

int file_sink::write(std::string_view bytes) {
  return failure_ != 0 ? failure_ : write_all(descriptor_, bytes);
}

int file_sink::close() {
  if (failure_ != 0) return failure_;
  const int descriptor = descriptor_;
  descriptor_ = -1;
  if (!target_.empty()) {
    temporary_file file{descriptor, std::move(temporary_path_)};
    temporary_path_.clear();
    return commit_temporary_file(&file, target_);
  }
  // On Linux the descriptor is released even when close reports EINTR, so it
  // must not be closed again; a retry could close another thread's file.
  if (::close(descriptor) != 0 && errno != EINTR) return errno;
  return 0;
}

}  // namespace init_bicluster
