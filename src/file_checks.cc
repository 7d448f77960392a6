#include "file_checks.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "file_identity.h"
#include "file_io.h"

namespace init_bicluster {

namespace {

// Whether `error` says that the runner may not look: an answer that keeps
// the file in place, not a failure.
bool is_denied(int error) { return error == EACCES || error == EPERM; }

// Whether `error` is a passing want of a resource, which fails a check
// rather than answering it.
bool is_transient(int error) {
  return error == ENOMEM || error == ENFILE || error == EMFILE || error == EINTR ||
         error == EAGAIN || error == ENOBUFS;
}

// The kernel's setting fs.`name` (0, 1 or 2) into `*level`; 1 where it
// cannot be read. Returns 0 or the errno value.
int protection_level(const char* name, int* level) {
  *level = 1;
  const int descriptor = open_file(std::string("/proc/sys/fs/") + name, O_RDONLY);
  if (descriptor < 0) return is_transient(errno) ? errno : 0;
  char text[16] = {};
  ssize_t length;
  do {
    length = read(descriptor, text, sizeof text - 1);
  } while (length < 0 && errno == EINTR);
  const int error = errno;
  ::close(descriptor);
  if (length < 0) return error;
  if (length > 0 && text[0] >= '0' && text[0] <= '9') *level = text[0] - '0';
  return 0;
}

// Turns the octal escapes of a path in /proc/self/mountinfo (\040 for a
// space, ...) back into their bytes.
std::string unescaped(const std::string& field) {
  std::string path;
  for (std::size_t i = 0; i < field.size(); ++i) {
    const auto octal = [&](std::size_t at) { return field[at] >= '0' && field[at] <= '7'; };
    if (field[i] == '\\' && i + 3 < field.size() && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      path += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                (field[i + 3] - '0'));
      i += 3;
    } else {
      path += field[i];
    }
  }
  return path;
}

// Whether some mount point shows the file `file`: every mount of a single
// file, at any path, is found by looking at the mount point itself, whatever
// device numbers the mount table gives.
int is_a_mount_point(const struct stat& file, bool* mounted) {
  *mounted = false;
  std::FILE* mounts = std::fopen("/proc/self/mountinfo", "re");
  if (mounts == nullptr) {
    // No /proc, or one closed to the runner: a mount cannot be ruled out.
    if (errno == ENOENT || is_denied(errno)) {
      *mounted = true;
      return 0;
    }
    return errno;
  }
  int error = 0;
  char* line = nullptr;
  std::size_t room = 0;
  while (!*mounted) {
    errno = 0;
    if (getline(&line, &room, mounts) < 0) {
      if (!std::feof(mounts)) error = errno != 0 ? errno : EIO;
      break;
    }
    // Fields: mount id, parent id, major:minor, root, mount point, ... A
    // mount of a whole file system, or of a folder, has a folder as its root.
    std::istringstream fields(line);
    std::string id, parent, numbers, root, point;
    fields >> id >> parent >> numbers >> root >> point;
    if (root == "/") continue;
    struct stat shown;
    if (fstatat(AT_FDCWD, unescaped(point).c_str(), &shown,
                AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) == 0) {
      *mounted = is_same_file(shown, file);
    } else if (is_transient(errno)) {
      // A mount point that cannot be seen is not the file's; one that could
      // not be looked at for now might be.
      error = errno;
      break;
    }
  }
  std::free(line);
  std::fclose(mounts);
  return error;
}

}  // namespace

bool is_same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int is_still_named(int folder, const std::string& name, int descriptor, struct stat* named) {
  struct stat open;
  if (fstat(descriptor, &open) != 0) return errno;
  if (fstatat(folder, name.c_str(), named, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? ESTALE : errno;
  }
  return is_same_file(*named, open) ? 0 : ESTALE;
}

int is_protected_from_runner(const struct stat& folder, const struct stat& file, bool* refused) {
  *refused = false;
  if ((folder.st_mode & S_ISVTX) == 0 || file.st_uid == folder.st_uid || file.st_uid == geteuid()) {
    return 0;
  }
  const bool regular = S_ISREG(file.st_mode);
  const bool fifo = S_ISFIFO(file.st_mode);
  int level = 1;
  if (regular || fifo) {
    if (const int error =
            protection_level(regular ? "protected_regular" : "protected_fifos", &level)) {
      return error;
    }
    if (level == 0) return 0;
  }
  *refused = (folder.st_mode & S_IWOTH) != 0 ||
             ((folder.st_mode & S_IWGRP) != 0 && level >= 2 && (regular || fifo));
  return 0;
}

int is_append_only(int folder, bool* append_only) {
  *append_only = false;
  struct statx info;
  if (statx(folder, "", AT_EMPTY_PATH, 0, &info) == 0) {
    if ((info.stx_attributes_mask & STATX_ATTR_APPEND) != 0) {
      *append_only = (info.stx_attributes & STATX_ATTR_APPEND) != 0;
      return 0;
    }
  } else if (errno != ENOSYS) {
    return errno;
  }
  // A file system that does not report the flag through statx.
  const int readable = open_at(folder, ".", O_RDONLY | O_DIRECTORY);
  if (readable < 0) {
    *append_only = is_denied(errno);
    return is_denied(errno) ? 0 : errno;
  }
  int flags = 0;
  const int result = ioctl(readable, FS_IOC_GETFLAGS, &flags);
  const int error = errno;
  ::close(readable);
  if (result != 0) return has_no_flags(error) ? 0 : error;
  *append_only = (flags & FS_APPEND_FL) != 0;
  return 0;
}

int is_mounted_on_its_own(int descriptor, const struct stat& file, int folder, bool* mounted) {
  *mounted = true;
  struct statx info;
  if (statx(descriptor, "", AT_EMPTY_PATH, STATX_MNT_ID, &info) == 0) {
    if ((info.stx_attributes & info.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0) return 0;
    if ((info.stx_mask & STATX_MNT_ID) != 0) {
      struct statx folder_info;
      if (statx(folder, "", AT_EMPTY_PATH, STATX_MNT_ID, &folder_info) != 0) return errno;
      if ((folder_info.stx_mask & STATX_MNT_ID) == 0 || folder_info.stx_mnt_id != info.stx_mnt_id) {
        return 0;
      }
    }
  } else if (errno != ENOSYS) {
    return errno;
  }
  return is_a_mount_point(file, mounted);
}

int imposes_other_project(int folder, int new_file, uint32_t project, bool* imposes) {
  *imposes = false;
  struct fsxattr made = {};
  if (ioctl(new_file, FS_IOC_FSGETXATTR, &made) != 0) return has_no_flags(errno) ? 0 : errno;
  // A folder that imposes a project gives it to every new file; one that
  // does not gives project 0.
  if (made.fsx_projid == project) return 0;
  if (made.fsx_projid != 0) {
    *imposes = true;
    return 0;
  }
  // Whether the folder imposes project 0 only its own flags tell.
  const int readable = open_at(folder, ".", O_RDONLY | O_DIRECTORY);
  if (readable < 0) {
    *imposes = is_denied(errno);
    return is_denied(errno) ? 0 : errno;
  }
  struct fsxattr own = {};
  const int result = ioctl(readable, FS_IOC_FSGETXATTR, &own);
  const int error = errno;
  ::close(readable);
  if (result != 0) return has_no_flags(error) ? 0 : error;
  *imposes = (own.fsx_xflags & FS_XFLAG_PROJINHERIT) != 0 && own.fsx_projid != project;
  return 0;
}

bool may_replace_in_sticky_folders() {
  __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, sets) != 0) return geteuid() == 0;
  return (sets[CAP_FOWNER / 32].effective & (1u << (CAP_FOWNER % 32))) != 0;
}

bool is_standard_stream_file(const struct stat& file) {
  for (int stream = 0; stream <= 2; ++stream) {
    struct stat info;
    if (fstat(stream, &info) == 0 && is_same_file(info, file)) return true;
  }
  return false;
}

bool is_unnamed_pipe(int descriptor) {
  struct statfs info;
  return fstatfs(descriptor, &info) == 0 && info.f_type == PIPEFS_MAGIC;
}

}  // namespace init_bicluster
