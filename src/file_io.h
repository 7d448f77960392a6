// The system calls behind a file sink: whole writes, and new files that take
// the place of old ones in one step.
#ifndef INIT_BICLUSTER_FILE_IO_H_
#define INIT_BICLUSTER_FILE_IO_H_

#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace init_bicluster {

// A descriptor that is closed when it goes out of scope, unless released.
class owned_descriptor {
 public:
  explicit owned_descriptor(int descriptor = -1) : descriptor_(descriptor) {}
  owned_descriptor(const owned_descriptor&) = delete;
  owned_descriptor& operator=(const owned_descriptor&) = delete;
  ~owned_descriptor() {
    if (descriptor_ >= 0) ::close(descriptor_);
  }
  // The descriptor, or -1.
  int get() const { return descriptor_; }
  // Hands the descriptor over to the caller, who closes it.
  int release() {
    const int descriptor = descriptor_;
    descriptor_ = -1;
    return descriptor;
  }

 private:
  int descriptor_;
};

// The signature of write(2), so that tests can stand in for the system call.
using write_call = ssize_t (*)(int descriptor, const void* bytes, std::size_t count);

// Writes all of `bytes` to `descriptor` through `write`, resuming after
// interruptions (EINTR) and short writes. Returns 0, or the errno value of the
// failure; a call that writes nothing counts as EIO, since retrying it could
// loop forever.
int write_all(int descriptor, std::string_view bytes, write_call write = ::write);

// open(2) of `path`, repeated while a signal interrupts it, never inherited
// by a child. Returns the descriptor, or -1 with errno set.
int open_file(const std::string& path, int flags, mode_t mode = 0);

// The same for `path` relative to the folder open at `folder` (or AT_FDCWD).
int open_at(int folder, const std::string& path, int flags, mode_t mode = 0);

// Takes an exclusive lock (flock) on the file open at `descriptor`: at once,
// or, when `wait`, waiting up to ten seconds while another holds it.
// Returns 0, also where the file system has no such locks; ETXTBSY when
// another holds the lock; or the errno value of the failure.
int lock_file(int descriptor, bool wait);

// The folder part of `path`: "." when it has none. Requires a path that does
// not end in '/'.
std::string directory_of(const std::string& path);

// The last part of `path`, after its last '/'.
std::string name_of(const std::string& path);

// A file being written that is to take the place of another in the folder
// open at `folder`; every name is relative to that folder.
struct temporary_file {
  int folder = -1;
  int descriptor = -1;
  // Its name; empty while it has none (made with O_TMPFILE), so that nothing
  // is left behind when the process dies.
  std::string name;
};

// Makes a new file in the folder open at `folder` with `mode` less the
// umask: one without a name where the file system offers that, else one
// under a hidden name that begins with a dot and `target_name`. Returns 0,
// or the errno value when no file can be made there.
int create_temporary_file(int folder, const std::string& target_name, mode_t mode,
                          temporary_file* file);

// Gives a file made without a name a hidden name beside `target_name`, so
// that it can be renamed over the target. Returns 0 or the errno value.
int name_temporary_file(temporary_file* file, const std::string& target_name);

// Closes `file` and renames it to `target_name` in its folder: in one step
// over what has that name when `replace`, else only where nothing has it
// (EEXIST, and that is left alone). Returns 0, or the errno value of the
// failure, after which the target is as it was and the temporary file is
// gone. Requires a named file (name_temporary_file).
int rename_temporary_file(temporary_file* file, const std::string& target_name, bool replace);

// Closes `file` and gives it the name `target_name` in its folder, where
// nothing may have that name: then it fails with EEXIST and leaves that
// alone. Returns 0, or the errno value of the failure, after which the
// temporary file is gone.
int place_temporary_file(temporary_file* file, const std::string& target_name);

// Closes `file` and removes it, leaving nothing behind; the folder stays
// open.
void discard_temporary_file(temporary_file* file);

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_FILE_IO_H_
