#include "file_io.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>

namespace init_bicluster {

namespace {

// How much of the target's name a hidden name keeps, and how many random
// characters follow it.
constexpr std::size_t k_kept_name = 200;
constexpr std::size_t k_random_characters = 12;

// A hidden name beside the target, unique with high probability: a dot, the
// target's name (shortened to stay within the length of a name), a dot, and
// twelve random letters and digits.
std::string hidden_name(const std::string& directory, const std::string& target_name) {
  static constexpr char k_letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  uint8_t random[k_random_characters] = {};
  if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
    // Without the system's randomness, the process and the clock still make
    // a collision unlikely; O_EXCL catches the rest.
    const uint64_t mix = static_cast<uint64_t>(getpid()) * 0x9E3779B97F4A7C15u ^
                         static_cast<uint64_t>(std::time(nullptr));
    for (std::size_t i = 0; i < sizeof random; ++i)
      random[i] = static_cast<uint8_t>(mix >> (5 * i));
  }
  std::string name = directory + "/." + target_name.substr(0, k_kept_name) + ".";
  for (const uint8_t byte : random) name += k_letters[byte % (sizeof k_letters - 1)];
  return name;
}

// Whether descriptors can be named through /proc, which giving an unnamed
// file a name needs.
bool can_link_unnamed_files() { return access("/proc/self/fd", X_OK) == 0; }

}  // namespace

std::size_t hidden_path_length(const std::string& directory, const std::string& target_name) {
  return directory.size() + 2 + std::min(target_name.size(), k_kept_name) + 1 + k_random_characters;
}

int write_all(int descriptor, std::string_view bytes, write_call write) {
  const char* next = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t written = write(descriptor, next, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (written == 0) return EIO;
    next += written;
    left -= static_cast<std::size_t>(written);
  }
  return 0;
}

int open_file(const std::string& path, int flags, mode_t mode) {
  int descriptor;
  do {
    descriptor = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (descriptor < 0 && errno == EINTR);
  return descriptor;
}

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool create_temporary_file(const std::string& directory, const std::string& target_name,
                           mode_t mode, temporary_file* file) {
  file->path.clear();
  if (can_link_unnamed_files()) {
    file->descriptor = open_file(directory, O_TMPFILE | O_WRONLY, mode);
    if (file->descriptor >= 0) return true;
    // Only a file system without unnamed files is worth a second try.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = hidden_name(directory, target_name);
    file->descriptor = open_file(path, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY, mode);
    if (file->descriptor >= 0) {
      file->path = std::move(path);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

int commit_temporary_file(temporary_file* file, const std::string& target) {
  sigset_t all;
  sigset_t old;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &old);
  int error = 0;
  if (file->path.empty()) {
    // An unnamed file gets a hidden name first: a link cannot replace a file.
    const std::string source = "/proc/self/fd/" + std::to_string(file->descriptor);
    const std::size_t slash = target.rfind('/');
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
      std::string path = hidden_name(directory_of(target), name);
      error = linkat(AT_FDCWD, source.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0
                  ? 0
                  : errno;
      if (error == 0) file->path = std::move(path);
    }
  }
  // Linux releases the descriptor even when close reports EINTR.
  if (::close(file->descriptor) != 0 && errno != EINTR && error == 0) error = errno;
  file->descriptor = -1;
  if (error == 0 && rename(file->path.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0 && !file->path.empty()) unlink(file->path.c_str());
  file->path.clear();
  sigprocmask(SIG_SETMASK, &old, nullptr);
  return error;
}

void discard_temporary_file(temporary_file* file) {
  if (file->descriptor >= 0) ::close(file->descriptor);
  if (!file->path.empty()) unlink(file->path.c_str());
  file->descriptor = -1;
  file->path.clear();
}

}  // namespace init_bicluster
