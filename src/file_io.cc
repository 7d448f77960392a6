#include "file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <thread>

namespace init_bicluster {

namespace {

// How much of the target's name a hidden name keeps, and how many random
// characters follow it.
constexpr std::size_t k_kept_name = 200;
constexpr std::size_t k_random_characters = 12;

// A hidden name for a file that replaces `target_name`, unique with high
// probability: a dot, the target's name (shortened to stay within the length
// of a name), a dot, and twelve random letters and digits.
std::string hidden_name(const std::string& target_name) {
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
  std::string name = "." + target_name.substr(0, k_kept_name) + ".";
  for (const uint8_t byte : random) name += k_letters[byte % (sizeof k_letters - 1)];
  return name;
}

// Whether descriptors can be named through /proc, which giving an unnamed
// file a name needs.
bool can_link_unnamed_files() { return access("/proc/self/fd", X_OK) == 0; }

// How many hidden names are tried before giving up.
constexpr int k_name_attempts = 100;

// How long a lock that another holds is waited for, and the longest pause
// between two tries.
constexpr std::chrono::seconds k_lock_wait{10};
constexpr std::chrono::milliseconds k_longest_pause{64};

// Whether `error` says that a file system has no locks at all.
bool has_no_locks(int error) { return error == EOPNOTSUPP || error == ENOSYS || error == EINVAL; }

}  // namespace

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
  return open_at(AT_FDCWD, path, flags, mode);
}

int open_at(int folder, const std::string& path, int flags, mode_t mode) {
  int descriptor;
  do {
    descriptor = ::openat(folder, path.c_str(), flags | O_CLOEXEC, mode);
  } while (descriptor < 0 && errno == EINTR);
  return descriptor;
}

int lock_file(int descriptor, bool wait) {
  const auto deadline = std::chrono::steady_clock::now() + k_lock_wait;
  std::chrono::milliseconds pause{1};
  for (;;) {
    if (flock(descriptor, LOCK_EX | LOCK_NB) == 0) return 0;
    if (errno == EINTR) continue;
    if (has_no_locks(errno)) return 0;
    if (errno != EWOULDBLOCK) return errno;
    if (!wait || std::chrono::steady_clock::now() >= deadline) return ETXTBSY;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, k_longest_pause);
  }
}

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string& path) { return path.substr(path.rfind('/') + 1); }

int create_temporary_file(int folder, const std::string& target_name, mode_t mode,
                          temporary_file* file) {
  file->folder = folder;
  file->name.clear();
  if (can_link_unnamed_files()) {
    file->descriptor = openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (file->descriptor >= 0) return 0;
    // Only a file system without unnamed files is worth a second try.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
  }
  for (int attempt = 0; attempt < k_name_attempts; ++attempt) {
    std::string name = hidden_name(target_name);
    file->descriptor =
        openat(folder, name.c_str(),
               O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC, mode);
    if (file->descriptor >= 0) {
      file->name = std::move(name);
      return 0;
    }
    if (errno != EEXIST && errno != EINTR) return errno;
  }
  return EEXIST;
}

int name_temporary_file(temporary_file* file, const std::string& target_name) {
  if (!file->name.empty()) return 0;
  // A link cannot replace a file, so the unnamed file gets a name of its own.
  const std::string source = "/proc/self/fd/" + std::to_string(file->descriptor);
  for (int attempt = 0; attempt < k_name_attempts; ++attempt) {
    std::string name = hidden_name(target_name);
    if (linkat(AT_FDCWD, source.c_str(), file->folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      file->name = std::move(name);
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

int rename_temporary_file(temporary_file* file, const std::string& target_name, bool replace) {
  int error = 0;
  // Linux releases the descriptor even when close reports EINTR.
  if (::close(file->descriptor) != 0 && errno != EINTR) error = errno;
  file->descriptor = -1;
  const char* hidden = file->name.c_str();
  const char* target = target_name.c_str();
  bool renamed = false;
  if (error == 0) {
    renamed =
        (replace ? renameat(file->folder, hidden, file->folder, target)
                 : renameat2(file->folder, hidden, file->folder, target, RENAME_NOREPLACE)) == 0;
    error = renamed ? 0 : errno;
    // A file system without the flag: a second name fails the same way.
    if (!replace && (error == EINVAL || error == ENOSYS)) {
      error = linkat(file->folder, hidden, file->folder, target, 0) == 0 ? 0 : errno;
    }
  }
  if (!renamed) unlinkat(file->folder, hidden, 0);
  file->name.clear();
  return error;
}

int place_temporary_file(temporary_file* file, const std::string& target_name) {
  if (!file->name.empty()) return rename_temporary_file(file, target_name, false);
  // An unnamed file is linked under the name itself, which fails where
  // anything has that name.
  const std::string source = "/proc/self/fd/" + std::to_string(file->descriptor);
  int error =
      linkat(AT_FDCWD, source.c_str(), file->folder, target_name.c_str(), AT_SYMLINK_FOLLOW) == 0
          ? 0
          : errno;
  if (::close(file->descriptor) != 0 && errno != EINTR && error == 0) {
    error = errno;
    unlinkat(file->folder, target_name.c_str(), 0);
  }
  file->descriptor = -1;
  return error;
}

void discard_temporary_file(temporary_file* file) {
  if (file->descriptor >= 0) ::close(file->descriptor);
  if (!file->name.empty()) unlinkat(file->folder, file->name.c_str(), 0);
  file->descriptor = -1;
  file->name.clear();
}

}  // namespace init_bicluster
