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

// The signature of write(2), so that tests can stand in for the system call.
using write_call = ssize_t (*)(int descriptor, const void* bytes, std::size_t count);

// Writes all of `bytes` to `descriptor` through `write`, resuming after
// interruptions (EINTR) and short writes. Returns 0, or the errno value of the
// failure; a call that writes nothing counts as EIO, since retrying it could
// loop forever.
int write_all(int descriptor, std::string_view bytes, write_call write = ::write);

// open(2) of `path`, repeated while a signal interrupts it. Returns the
// descriptor, or -1 with errno set.
int open_file(const std::string& path, int flags, mode_t mode = 0);

// The folder part of `path`: "." when it has none. Requires a path that does
// not end in '/'.
std::string directory_of(const std::string& path);

// The length of the hidden path that create_temporary_file or
// commit_temporary_file may give a file in `directory` that replaces
// `target_name`.
std::size_t hidden_path_length(const std::string& directory, const std::string& target_name);

// A file being written that is to take the place of another.
struct temporary_file {
  int descriptor = -1;
  // Its name; empty while it has none (made with O_TMPFILE), so that nothing
  // is left behind when the process dies.
  std::string path;
};

// Makes a new file in `directory` with `mode` less the umask: one without a
// name where the file system offers that, else one under a hidden name that
// begins with a dot and `target_name`. Returns false, with errno set, when
// no file can be made there.
bool create_temporary_file(const std::string& directory, const std::string& target_name,
                           mode_t mode, temporary_file* file);

// Closes `file` and renames it to `target`, which it replaces in one step;
// every signal is held off meanwhile, so that an interrupted run leaves
// either the old file or the whole new one. Returns 0, or the errno value of
// the failure, after which `target` is as it was and the temporary file is
// gone. Requires `target` in the folder the file was made in.
int commit_temporary_file(temporary_file* file, const std::string& target);

// Closes `file` and removes it, leaving nothing behind.
void discard_temporary_file(temporary_file* file);

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_FILE_IO_H_
