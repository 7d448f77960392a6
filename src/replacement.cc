#include "replacement.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>

#include "file_identity.h"

namespace init_bicluster {

namespace {

// How many bytes of the new file are written before they are sent on to
// disc, while the run goes on.
constexpr uint64_t k_writeback_step = uint64_t{8} << 20;

// Links followed before giving up, as the kernel does.
constexpr int k_most_links = 40;

bool is_same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// `path` with its symbolic links followed to the last one's target, which
// need not exist; `path` itself where it is not a link or cannot be read.
std::string followed(const std::string& path) {
  std::string current = path;
  for (int link = 0; link < k_most_links; ++link) {
    char target[PATH_MAX];
    const ssize_t length = readlink(current.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<std::size_t>(length) == sizeof target) return current;
    const std::string next(target, static_cast<std::size_t>(length));
    current = next[0] == '/' ? next : directory_of(current) + "/" + next;
  }
  return path;
}

// A check's answer; unknown when it cannot be made, which counts as the
// answer that keeps the file in place.
enum class answer { no, yes, unknown };

// Whether the folder open at `folder` is append-only: a file in it could be
// linked but never renamed over another.
answer is_append_only(int folder) {
  struct statx info;
  if (statx(folder, "", AT_EMPTY_PATH, 0, &info) == 0 &&
      (info.stx_attributes_mask & STATX_ATTR_APPEND) != 0) {
    return (info.stx_attributes & STATX_ATTR_APPEND) != 0 ? answer::yes : answer::no;
  }
  // A file system that does not report the flag through statx.
  const int readable = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (readable < 0) return answer::unknown;
  int flags = 0;
  const int result = ioctl(readable, FS_IOC_GETFLAGS, &flags);
  const int error = errno;
  ::close(readable);
  if (result != 0) return error == ENOTTY || error == ENOTSUP ? answer::no : answer::unknown;
  return (flags & FS_APPEND_FL) != 0 ? answer::yes : answer::no;
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
answer is_a_mount_point(const struct stat& file) {
  std::FILE* mounts = std::fopen("/proc/self/mountinfo", "re");
  if (mounts == nullptr) return answer::unknown;
  answer found = answer::no;
  char* line = nullptr;
  std::size_t room = 0;
  while (found == answer::no && getline(&line, &room, mounts) > 0) {
    // Fields: mount id, parent id, major:minor, root, mount point, ... A
    // mount of a whole file system, or of a folder, has a folder as its root.
    std::istringstream fields(line);
    std::string id, parent, numbers, root, point;
    fields >> id >> parent >> numbers >> root >> point;
    if (root == "/") continue;
    struct stat shown;
    if (fstatat(AT_FDCWD, unescaped(point).c_str(), &shown,
                AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) == 0 &&
        is_same_file(shown, file)) {
      found = answer::yes;
    }
  }
  if (found == answer::no && std::ferror(mounts)) found = answer::unknown;
  std::free(line);
  std::fclose(mounts);
  return found;
}

// Whether the file open at `descriptor` is mounted on a path of its own (a
// bind mount), at its name in the folder open at `folder` or elsewhere:
// renaming a new file over its name would fail, or leave the other path
// showing the old file.
answer is_mounted_on_its_own(int descriptor, const struct stat& file, int folder) {
  struct statx info;
  if (statx(descriptor, "", AT_EMPTY_PATH, STATX_MNT_ID, &info) != 0) return answer::unknown;
  if ((info.stx_attributes & info.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0) {
    return answer::yes;
  }
  struct statx folder_info;
  if ((info.stx_mask & STATX_MNT_ID) != 0 &&
      (statx(folder, "", AT_EMPTY_PATH, STATX_MNT_ID, &folder_info) != 0 ||
       (folder_info.stx_mask & STATX_MNT_ID) == 0 || folder_info.stx_mnt_id != info.stx_mnt_id)) {
    return answer::yes;
  }
  return is_a_mount_point(file);
}

// Whether the regular file `existing`, open at `descriptor` and named
// `name` in the folder open at `folder`, may be replaced by a new file
// rather than written in place.
bool may_replace(int descriptor, const struct stat& existing, int folder, const std::string& name) {
  struct stat found;
  if (existing.st_nlink != 1 || fstatat(folder, name.c_str(), &found, AT_SYMLINK_NOFOLLOW) != 0 ||
      !is_same_file(found, existing)) {
    return false;
  }
  // A standard stream's file is written in place, as the shell expects.
  for (int stream = 0; stream <= 2; ++stream) {
    struct stat info;
    if (fstat(stream, &info) == 0 && is_same_file(info, existing)) return false;
  }
  struct stat directory;
  if (fstat(folder, &directory) != 0 || directory.st_dev != existing.st_dev) return false;
  // In a sticky folder (such as /tmp) only the owners may replace another
  // user's file.
  const uid_t user = geteuid();
  if ((directory.st_mode & S_ISVTX) != 0 && user != 0 && user != existing.st_uid &&
      user != directory.st_uid) {
    return false;
  }
  return is_append_only(folder) == answer::no &&
         is_mounted_on_its_own(descriptor, existing, folder) == answer::no;
}

output_plan in_place(const std::string& path) {
  output_plan plan;
  plan.descriptor = open_in_place(path);
  plan.how = plan.descriptor >= 0 ? output_plan::way::in_place : output_plan::way::refuse;
  plan.error = plan.descriptor >= 0 ? 0 : errno;
  return plan;
}

// The plan that writes the regular file open at `descriptor` in place.
output_plan truncated(int descriptor) {
  output_plan plan;
  if (ftruncate(descriptor, 0) != 0) {
    plan.error = errno;
    ::close(descriptor);
    return plan;
  }
  plan.how = output_plan::way::in_place;
  plan.descriptor = descriptor;
  return plan;
}

output_plan failed(int error) {
  output_plan plan;
  plan.how = output_plan::way::fail;
  plan.error = error;
  return plan;
}

int open_folder_of(const std::string& target) {
  return open_file(directory_of(target), O_PATH | O_DIRECTORY);
}

// The plan for a path where no file is: a new file in the target's folder,
// or an in-place open where it cannot be made there.
output_plan plan_new_file(const std::string& path) {
  const std::string target = followed(path);
  const int folder = open_folder_of(target);
  if (folder < 0) return in_place(path);
  const std::string name = name_of(target);
  struct stat found;
  temporary_file file;
  if (fstatat(folder, name.c_str(), &found, AT_SYMLINK_NOFOLLOW) == 0 ||
      is_append_only(folder) != answer::no ||
      create_temporary_file(folder, name, 0666, &file) != 0) {
    ::close(folder);
    return in_place(path);
  }
  output_plan plan;
  plan.how = output_plan::way::replace;
  plan.replacing = replacement(std::move(file), name, -1);
  return plan;
}

}  // namespace

int open_in_place(const std::string& path) {
  return open_file(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY, 0666);
}

output_plan plan_output(const std::string& path) {
  if (path.empty() || path.back() == '/') return in_place(path);
  // Opening the file for writing refuses exactly what writing it in place
  // would, and tells what it is.
  const int descriptor = open_file(path, O_WRONLY | O_NOCTTY);
  if (descriptor < 0) {
    // Nothing there, or a dangling link: the file it names is made new.
    return errno == ENOENT ? plan_new_file(path) : in_place(path);
  }
  struct stat existing;
  if (fstat(descriptor, &existing) != 0 || !S_ISREG(existing.st_mode)) {
    // Devices and FIFOs are written through this open, which needs no
    // truncation.
    output_plan plan;
    plan.how = output_plan::way::in_place;
    plan.descriptor = descriptor;
    return plan;
  }
  const std::string target = followed(path);
  const std::string name = name_of(target);
  const int folder = open_folder_of(target);
  if (folder < 0) return truncated(descriptor);
  if (!may_replace(descriptor, existing, folder, name)) {
    ::close(folder);
    return truncated(descriptor);
  }
  // The old file's identity, given to the new file before anything is
  // written, tells whether the runner may give it at the end.
  file_identity identity;
  temporary_file file;
  int error = read_identity(descriptor, &identity);
  if (error == 0) error = create_temporary_file(folder, name, 0600, &file);
  if (error == 0) error = give_identity(file.descriptor, identity);
  if (error != 0) {
    discard_temporary_file(&file);
    ::close(folder);
    if (is_refusal(error)) return truncated(descriptor);
    ::close(descriptor);
    return failed(error);
  }
  // Synchronous writes would slow the run; the flag is given again at the
  // end.
  if (identity.flags && (*identity.flags & FS_SYNC_FL) != 0) {
    set_inode_flags(file.descriptor, *identity.flags & ~FS_SYNC_FL);
  }
  output_plan plan;
  plan.how = output_plan::way::replace;
  plan.replacing = replacement(std::move(file), name, descriptor);
  return plan;
}

replacement::replacement(replacement&& other) noexcept
    : file_(std::move(other.file_)),
      name_(std::move(other.name_)),
      old_file_(other.old_file_),
      written_(other.written_),
      sent_(other.sent_) {
  other.file_ = temporary_file{};
  other.old_file_ = -1;
}

replacement& replacement::operator=(replacement&& other) noexcept {
  if (this != &other) {
    release();
    file_ = std::move(other.file_);
    name_ = std::move(other.name_);
    old_file_ = other.old_file_;
    written_ = other.written_;
    sent_ = other.sent_;
    other.file_ = temporary_file{};
    other.old_file_ = -1;
  }
  return *this;
}

replacement::~replacement() { release(); }

void replacement::release() {
  discard_temporary_file(&file_);
  if (file_.folder >= 0) ::close(file_.folder);
  if (old_file_ >= 0) ::close(old_file_);
  file_.folder = -1;
  old_file_ = -1;
}

int replacement::write(std::string_view bytes) {
  const int error = write_all(file_.descriptor, bytes);
  if (error != 0) return error;
  written_ += bytes.size();
  if (written_ - sent_ >= k_writeback_step) {
    // Only an advice: where it is not supported, the sync does it all.
    sync_file_range(file_.descriptor, static_cast<off64_t>(sent_),
                    static_cast<off64_t>(written_ - sent_), SYNC_FILE_RANGE_WRITE);
    sent_ = written_;
  }
  return 0;
}

int replacement::commit() {
  // The bytes reach the disc before the name does, so that a crash leaves
  // the old file or the whole new one; a file system that cannot sync at all
  // says so, and is not a failure.
  int error = fdatasync(file_.descriptor) == 0 ? 0 : errno;
  if (error == EINVAL || error == ENOSYS || error == ENOTSUP) error = 0;
  sigset_t all;
  sigset_t old_mask;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &old_mask);
  struct stat found;
  const bool named = fstatat(file_.folder, name_.c_str(), &found, AT_SYMLINK_NOFOLLOW) == 0;
  if (error == 0 && !named && errno != ENOENT) error = errno;
  if (error == 0 && old_file_ < 0 && named) error = ESTALE;
  if (error == 0 && old_file_ >= 0) {
    struct stat checked;
    if (fstat(old_file_, &checked) != 0) {
      error = errno;
    } else if (!named || !is_same_file(found, checked) || found.st_nlink != 1) {
      error = ESTALE;
    } else {
      // The identity as it is now: a change made during the run is kept.
      file_identity identity;
      error = read_identity(old_file_, &identity);
      if (error == 0) error = give_identity(file_.descriptor, identity);
    }
  }
  if (error == 0) error = name_temporary_file(&file_, name_);
  if (error == 0) {
    error = rename_temporary_file(&file_, name_);
  }
  release();
  sigprocmask(SIG_SETMASK, &old_mask, nullptr);
  return error;
}

}  // namespace init_bicluster
