#include "output_sink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace init_bicluster {

std::unique_ptr<file_sink> file_sink::open(const std::string& path, int* error) {
  int descriptor;
  do {
    descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) {
    *error = errno;
    return nullptr;
  }
  return std::unique_ptr<file_sink>(new file_sink(descriptor));
}

file_sink::~file_sink() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

int file_sink::write(std::string_view bytes) {
  const char* next = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t written = ::write(descriptor_, next, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (written == 0) return EIO;  // A device that takes nothing would loop forever.
    next += written;
    left -= static_cast<std::size_t>(written);
  }
  return 0;
}

int file_sink::close() {
  const int descriptor = descriptor_;
  descriptor_ = -1;
  // On Linux the descriptor is released even when close reports EINTR, so it
  // must not be closed again; a retry could close another thread's file.
  if (::close(descriptor) != 0 && errno != EINTR) return errno;
  return 0;
}

}  // namespace init_bicluster
