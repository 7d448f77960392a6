#include "file_identity.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace init_bicluster {

namespace {

// Inode flags that a file system sets on its own, which a new file may
// differ in: how its data is laid out, and what its folder passes on.
constexpr int k_own_flags = FS_EXTENT_FL | FS_HUGE_FILE_FL | FS_INLINE_DATA_FL | FS_EA_INODE_FL |
                            FS_EOFBLOCKS_FL | FS_ENCRYPT_FL | FS_VERITY_FL | FS_CASEFOLD_FL;

// Extended flags that only the file system sets.
constexpr uint32_t k_own_extended_flags = FS_XFLAG_HASATTR | FS_XFLAG_PREALLOC;

// The attribute that holds a file's capabilities, which a change of owner
// or of data clears.
constexpr char k_capability[] = "security.capability";

using attribute_list = std::vector<std::pair<std::string, std::string>>;

// The extended attributes of the file open at `descriptor`, sorted by name;
// none where the file system has none. Returns 0 or the errno value.
int attributes_of(int descriptor, attribute_list* attributes) {
  attributes->clear();
  const ssize_t size = flistxattr(descriptor, nullptr, 0);
  if (size < 0) return errno == ENOTSUP ? 0 : errno;
  std::string names(static_cast<std::size_t>(size), '\0');
  const ssize_t listed = flistxattr(descriptor, names.data(), names.size());
  if (listed < 0) return errno;
  names.resize(static_cast<std::size_t>(listed));
  for (std::size_t start = 0; start < names.size();) {
    const std::string name = names.c_str() + start;
    start += name.size() + 1;
    const ssize_t length = fgetxattr(descriptor, name.c_str(), nullptr, 0);
    if (length < 0) return errno;
    std::string value(static_cast<std::size_t>(length), '\0');
    const ssize_t read = fgetxattr(descriptor, name.c_str(), value.data(), value.size());
    if (read < 0) return errno;
    value.resize(static_cast<std::size_t>(read));
    attributes->emplace_back(name, std::move(value));
  }
  std::sort(attributes->begin(), attributes->end());
  return 0;
}

// The inode flags of the file open at `descriptor` into `*flags`, nothing
// where the file system has none. Returns 0 or the errno value.
int inode_flags(int descriptor, std::optional<int>* flags) {
  int value = 0;
  if (ioctl(descriptor, FS_IOC_GETFLAGS, &value) == 0) {
    *flags = value;
    return 0;
  }
  flags->reset();
  return has_no_flags(errno) ? 0 : errno;
}

// The same for the extended flags and project.
int extended_flags_of(int descriptor, std::optional<extended_flags>* extended) {
  struct fsxattr value = {};
  if (ioctl(descriptor, FS_IOC_FSGETXATTR, &value) == 0) {
    *extended = extended_flags{value.fsx_xflags & ~k_own_extended_flags, value.fsx_projid};
    return 0;
  }
  extended->reset();
  return has_no_flags(errno) ? 0 : errno;
}

int set_extended_flags(int descriptor, const extended_flags& wanted) {
  struct fsxattr value = {};
  if (ioctl(descriptor, FS_IOC_FSGETXATTR, &value) != 0) return errno;
  const uint32_t flags = (value.fsx_xflags & k_own_extended_flags) | wanted.flags;
  if (flags == value.fsx_xflags && wanted.project == value.fsx_projid) return 0;
  value.fsx_xflags = flags;
  value.fsx_projid = wanted.project;
  return ioctl(descriptor, FS_IOC_FSSETXATTR, &value) == 0 ? 0 : errno;
}

int set_attribute(int descriptor, const std::string& name, const std::string& value) {
  return fsetxattr(descriptor, name.c_str(), value.data(), value.size(), 0) == 0 ? 0 : errno;
}

}  // namespace

bool has_no_flags(int error) {
  return error == ENOTTY || error == ENOTSUP || error == EINVAL || error == ENOSYS;
}

bool is_refusal(int error) {
  return error == EPERM || error == EACCES || error == ENOTSUP || error == EOPNOTSUPP ||
         error == EINVAL || error == ERANGE || error == E2BIG || error == ENOTTY ||
         error == ENOSYS || error == EROFS;
}

int read_identity(int descriptor, file_identity* identity) {
  struct stat info;
  if (fstat(descriptor, &info) != 0) return errno;
  identity->owner = info.st_uid;
  identity->group = info.st_gid;
  identity->mode = info.st_mode & 07777;
  if (const int error = attributes_of(descriptor, &identity->attributes)) return error;
  if (const int error = inode_flags(descriptor, &identity->flags)) return error;
  return extended_flags_of(descriptor, &identity->extended);
}

int set_inode_flags(int descriptor, int flags) {
  std::optional<int> present;
  if (const int error = inode_flags(descriptor, &present)) return error;
  if (!present) return ENOTSUP;
  int wanted = (*present & k_own_flags) | (flags & ~k_own_flags);
  if (wanted == *present) return 0;
  return ioctl(descriptor, FS_IOC_SETFLAGS, &wanted) == 0 ? 0 : errno;
}

int give_identity(int descriptor, const file_identity& identity) {
  struct stat info;
  if (fstat(descriptor, &info) != 0) return errno;
  if ((info.st_uid != identity.owner || info.st_gid != identity.group) &&
      fchown(descriptor, identity.owner, identity.group) != 0) {
    return errno;
  }
  attribute_list present;
  if (const int error = attributes_of(descriptor, &present)) return error;
  for (const auto& attribute : present) {
    const std::string& name = attribute.first;
    const bool wanted = std::any_of(identity.attributes.begin(), identity.attributes.end(),
                                    [&](const auto& kept) { return kept.first == name; });
    if (!wanted && fremovexattr(descriptor, name.c_str()) != 0) return errno;
  }
  for (const auto& [name, value] : identity.attributes) {
    if (name == k_capability) continue;
    if (const int error = set_attribute(descriptor, name, value)) return error;
  }
  if (identity.flags) {
    if (const int error = set_inode_flags(descriptor, *identity.flags)) return error;
  }
  if (identity.extended) {
    if (const int error = set_extended_flags(descriptor, *identity.extended)) return error;
  }
  // The mode after the ACL, whose mask it sets to the group bits, as the old
  // file's; the set-id bits after the owner, whose change clears them.
  if (fchmod(descriptor, identity.mode) != 0) return errno;
  for (const auto& [name, value] : identity.attributes) {
    if (name != k_capability) continue;
    if (const int error = set_attribute(descriptor, name, value)) return error;
  }
  // Read back: a file system or a missing right may have changed any of it.
  file_identity given;
  if (const int error = read_identity(descriptor, &given)) return error;
  const auto masked = [](const std::optional<int>& flags) {
    return flags ? std::optional<int>(*flags & ~k_own_flags) : std::nullopt;
  };
  const bool same = given.owner == identity.owner && given.group == identity.group &&
                    given.mode == identity.mode && given.attributes == identity.attributes &&
                    masked(given.flags) == masked(identity.flags) &&
                    given.extended == identity.extended;
  return same ? 0 : ENOTSUP;
}

}  // namespace init_bicluster
