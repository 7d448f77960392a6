#include "replacement.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "file_io.h"

namespace init_bicluster {

namespace {

// Inode flags that a file system sets on its own, which a new file may
// differ in: how its data is laid out, and what its folder passes on.
constexpr int k_own_flags = FS_EXTENT_FL | FS_HUGE_FILE_FL | FS_INLINE_DATA_FL | FS_EA_INODE_FL |
                            FS_EOFBLOCKS_FL | FS_DAX_FL | FS_ENCRYPT_FL;

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

// The inode flags of the file open at `descriptor`; none where the file
// system has none.
std::optional<int> inode_flags(int descriptor) {
  int flags = 0;
  if (ioctl(descriptor, FS_IOC_GETFLAGS, &flags) != 0) return std::nullopt;
  return flags;
}

// Whether the folder `directory` is append-only: a file in it could be
// linked but never renamed over another.
bool is_append_only(const std::string& directory) {
  const int descriptor = open_file(directory, O_RDONLY | O_DIRECTORY);
  if (descriptor < 0) return false;
  const std::optional<int> flags = inode_flags(descriptor);
  ::close(descriptor);
  return flags && (*flags & FS_APPEND_FL) != 0;
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

// Whether the file `file`, open at `descriptor`, is mounted on a path of its
// own (a bind mount), at the path given or at another: renaming a new file
// over its name would fail, or leave the other path showing the old file.
bool is_mounted_on_its_own(int descriptor, const struct stat& file) {
  struct statx info;
  if (statx(descriptor, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &info) == 0 &&
      (info.stx_attributes & info.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0) {
    return true;
  }
  // Other mount points: those of the file's device, whose path shows it.
  std::FILE* mounts = std::fopen("/proc/self/mountinfo", "re");
  if (mounts == nullptr) return false;
  const std::string device =
      std::to_string(major(file.st_dev)) + ":" + std::to_string(minor(file.st_dev));
  bool found = false;
  char* line = nullptr;
  std::size_t room = 0;
  while (!found && getline(&line, &room, mounts) > 0) {
    // Fields: mount id, parent id, major:minor, root, mount point, ...
    std::istringstream fields(line);
    std::string id, parent, numbers, root, point;
    fields >> id >> parent >> numbers >> root >> point;
    struct stat shown;
    found = numbers == device && ::stat(unescaped(point).c_str(), &shown) == 0 &&
            is_same_file(shown, file);
  }
  std::free(line);
  std::fclose(mounts);
  return found;
}

// The extended attributes of the file open at `descriptor`, sorted by name;
// none where the file system has none. Nothing when they cannot be read.
std::optional<std::vector<std::pair<std::string, std::string>>> attributes_of(int descriptor) {
  std::vector<std::pair<std::string, std::string>> attributes;
  const ssize_t size = flistxattr(descriptor, nullptr, 0);
  if (size < 0) {
    if (errno == ENOTSUP) return attributes;
    return std::nullopt;
  }
  std::string names(static_cast<std::size_t>(size), '\0');
  const ssize_t listed = flistxattr(descriptor, names.data(), names.size());
  if (listed < 0) return std::nullopt;
  names.resize(static_cast<std::size_t>(listed));
  for (std::size_t start = 0; start < names.size();) {
    const std::string name = names.c_str() + start;
    start += name.size() + 1;
    const ssize_t length = fgetxattr(descriptor, name.c_str(), nullptr, 0);
    if (length < 0) return std::nullopt;
    std::string value(static_cast<std::size_t>(length), '\0');
    const ssize_t read = fgetxattr(descriptor, name.c_str(), value.data(), value.size());
    if (read < 0) return std::nullopt;
    value.resize(static_cast<std::size_t>(read));
    attributes.emplace_back(name, std::move(value));
  }
  std::sort(attributes.begin(), attributes.end());
  return attributes;
}

output_plan in_place(const std::string& path) {
  output_plan plan;
  plan.descriptor = open_in_place(path);
  plan.how = plan.descriptor >= 0 ? output_plan::way::in_place : output_plan::way::refuse;
  plan.error = plan.descriptor >= 0 ? 0 : errno;
  return plan;
}

// Whether a new file in the folder of `target` can take its place: the
// folder lets a file be renamed over another, and the hidden name fits.
bool may_rename_into(const std::string& target) {
  const std::string directory = directory_of(target);
  return hidden_path_length(directory, name_of(target)) < PATH_MAX && !is_append_only(directory);
}

// Whether the regular file `existing`, found at `target`, may be replaced
// by a new file rather than written in place. `mounted` tells whether it is
// mounted on a path of its own.
bool may_replace(const std::string& target, const struct stat& existing, bool mounted) {
  struct stat found;
  if (existing.st_nlink != 1 || ::stat(target.c_str(), &found) != 0 ||
      !is_same_file(found, existing)) {
    return false;
  }
  // A standard stream's file is written in place, as the shell expects.
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    struct stat stream;
    if (fstat(descriptor, &stream) == 0 && is_same_file(stream, existing)) return false;
  }
  const std::string directory = directory_of(target);
  struct stat folder;
  if (::stat(directory.c_str(), &folder) != 0) return false;
  // A file mounted on its own cannot be renamed over, and in a sticky
  // folder (such as /tmp) only the owners may replace another user's file.
  if (folder.st_dev != existing.st_dev || mounted) return false;
  const uid_t user = geteuid();
  const bool owners_only = (folder.st_mode & S_ISVTX) != 0 && user != 0 &&
                           user != existing.st_uid && user != folder.st_uid;
  return !owners_only && may_rename_into(target);
}

}  // namespace

std::string name_of(const std::string& path) { return path.substr(path.rfind('/') + 1); }

int open_in_place(const std::string& path) {
  return open_file(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY, 0666);
}

bool is_shortage(int error) {
  return error == EMFILE || error == ENFILE || error == ENOSPC || error == EDQUOT ||
         error == ENOMEM;
}

output_plan plan_output(const std::string& path) {
  if (path.empty() || path.back() == '/') return in_place(path);
  // Opening the file for writing refuses exactly what writing it in place
  // would, and tells what it is.
  const int descriptor = open_file(path, O_WRONLY | O_NOCTTY);
  if (descriptor < 0) {
    if (errno != ENOENT) return in_place(path);
    // Nothing there, or a dangling link: the file it names is made new.
    output_plan plan;
    plan.target = followed(path);
    struct stat folder;
    const std::string directory = directory_of(plan.target);
    if (::stat(directory.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode) ||
        !may_rename_into(plan.target)) {
      return in_place(path);
    }
    plan.how = output_plan::way::replace;
    return plan;
  }
  struct stat existing;
  if (fstat(descriptor, &existing) != 0 || !S_ISREG(existing.st_mode)) {
    // Devices and FIFOs are written through this open, which needs no
    // truncation.
    return {output_plan::way::in_place, 0, descriptor, "", std::nullopt};
  }
  file_identity identity;
  identity.owner = existing.st_uid;
  identity.group = existing.st_gid;
  identity.mode = existing.st_mode & 07777;
  identity.flags = inode_flags(descriptor);
  auto attributes = attributes_of(descriptor);
  const bool mounted = is_mounted_on_its_own(descriptor, existing);
  // One descriptor at a time: the new file takes this one's place.
  ::close(descriptor);
  output_plan plan;
  plan.target = followed(path);
  if (!attributes || !may_replace(plan.target, existing, mounted)) return in_place(path);
  identity.attributes = std::move(*attributes);
  plan.how = output_plan::way::replace;
  plan.identity = std::move(identity);
  return plan;
}

bool give_identity(int descriptor, const file_identity& identity) {
  struct stat info;
  if (fstat(descriptor, &info) != 0) return false;
  // Owner first: a change of owner clears the set-id bits.
  if ((info.st_uid != identity.owner || info.st_gid != identity.group) &&
      fchown(descriptor, identity.owner, identity.group) != 0) {
    return false;
  }
  // The folder's default ACL may have given the new file attributes of its
  // own.
  const auto present = attributes_of(descriptor);
  if (!present) return false;
  for (const auto& attribute : *present) {
    const std::string& name = attribute.first;
    const bool wanted = std::any_of(identity.attributes.begin(), identity.attributes.end(),
                                    [&](const auto& kept) { return kept.first == name; });
    if (!wanted && fremovexattr(descriptor, name.c_str()) != 0) return false;
  }
  for (const auto& [name, value] : identity.attributes) {
    if (fsetxattr(descriptor, name.c_str(), value.data(), value.size(), 0) != 0) return false;
  }
  // The mode after the ACL, whose mask it sets to the group bits, as the old
  // file's.
  if (fchmod(descriptor, identity.mode) != 0) return false;
  if (identity.flags) {
    const std::optional<int> flags = inode_flags(descriptor);
    if (!flags) return false;
    int wanted = (*flags & k_own_flags) | (*identity.flags & ~k_own_flags);
    if (wanted != *flags && ioctl(descriptor, FS_IOC_SETFLAGS, &wanted) != 0) return false;
    const std::optional<int> given = inode_flags(descriptor);
    if (!given || ((*given ^ *identity.flags) & ~k_own_flags) != 0) return false;
  }
  // Read back: a file system or a missing right may have changed any of it.
  return fstat(descriptor, &info) == 0 && info.st_uid == identity.owner &&
         info.st_gid == identity.group && (info.st_mode & 07777) == identity.mode &&
         attributes_of(descriptor) == identity.attributes;
}

}  // namespace init_bicluster
