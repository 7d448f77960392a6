#include "output_sink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "file_io.h"

namespace init_bicluster {

namespace {

// Writing in place, as fopen(path, "w") does.
int open_in_place(const std::string& path) {
  return open_file(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY, 0666);
}

bool is_same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The canonical path of an existing file, every link followed; empty when it
// cannot be had.
std::string resolved_path(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

// Whether the regular file `target`, found at the canonical path `real`, may
// be replaced by a new file rather than written in place.
bool may_replace(const std::string& real, const struct stat& target) {
  // Paths of the system's own (/dev/stdout and the like) stand for open
  // files, and other links to the file would go on naming the old contents.
  if (real.empty() || real.starts_with("/proc/") || real.starts_with("/dev/") ||
      target.st_nlink != 1) {
    return false;
  }
  // A standard stream's file is written in place, as the shell expects.
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    struct stat stream;
    if (fstat(descriptor, &stream) == 0 && is_same_file(stream, target)) return false;
  }
  struct stat directory;
  if (::stat(directory_of(real).c_str(), &directory) != 0) return false;
  // A file mounted on its own cannot be renamed over, and in a sticky folder
  // (such as /tmp) only the owners may replace another user's file.
  if (directory.st_dev != target.st_dev) return false;
  const uid_t user = geteuid();
  return (directory.st_mode & S_ISVTX) == 0 || user == 0 || user == target.st_uid ||
         user == directory.st_uid;
}

std::string name_of(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

std::unique_ptr<file_sink> file_sink::open(const std::string& path, int* error) {
  // What stands at the path: a regular file, nothing at all, or anything else
  // (a device, a FIFO, a folder, a dangling link, a path that cannot be read).
  struct stat existing;
  bool is_regular = false;
  bool is_new = false;
  if (!path.empty() && path.back() != '/') {
    if (::stat(path.c_str(), &existing) == 0) {
      is_regular = S_ISREG(existing.st_mode);
    } else if (errno == ENOENT) {
      struct stat link;
      is_new = lstat(path.c_str(), &link) != 0 && errno == ENOENT;
    }
  }
  int descriptor = -1;
  temporary_file replacement;
  std::string target;
  if (is_regular) {
    // Opening the old file for writing refuses exactly what writing it in
    // place would, and is what is written when it cannot be replaced.
    descriptor = open_file(path, O_WRONLY | O_NOCTTY);
    const std::string real = descriptor >= 0 ? resolved_path(path) : std::string();
    if (descriptor >= 0 && may_replace(real, existing) &&
        create_temporary_file(directory_of(real), name_of(real), 0600, &replacement)) {
      // Owner first: a change of owner clears the set-id bits.
      if (existing.st_uid != geteuid() || existing.st_gid != getegid()) {
        [[maybe_unused]] const int ignored =
            fchown(replacement.descriptor, existing.st_uid, existing.st_gid);
      }
      fchmod(replacement.descriptor, existing.st_mode & 07777);
      ::close(descriptor);
      descriptor = -1;
      target = real;
    } else if (descriptor >= 0 && ftruncate(descriptor, 0) != 0) {
      const int failure = errno;
      ::close(descriptor);
      errno = failure;
      descriptor = -1;
    }
  } else if (is_new &&
             create_temporary_file(directory_of(path), name_of(path), 0666, &replacement)) {
    target = path;
  } else {
    // A missing folder, a folder, a device: the in-place open tells.
    descriptor = open_in_place(path);
  }
  if (target.empty() && descriptor < 0) {
    *error = errno;
    return nullptr;
  }
  std::unique_ptr<file_sink> sink(
      target.empty() ? new (std::nothrow) file_sink(descriptor, "", "")
                     : new (std::nothrow)
                           file_sink(replacement.descriptor, replacement.path, target));
  if (sink == nullptr) {
    *error = ENOMEM;
    if (target.empty()) ::close(descriptor);
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

int file_sink::write(std::string_view bytes) { return write_all(descriptor_, bytes); }

int file_sink::close() {
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
