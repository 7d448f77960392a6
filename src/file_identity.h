// What makes a file the same file for its users besides its bytes, read from
// one file and given to another.
#ifndef INIT_BICLUSTER_FILE_IDENTITY_H_
#define INIT_BICLUSTER_FILE_IDENTITY_H_

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace init_bicluster {

// The extended flags and project of a file (FS_IOC_FSGETXATTR), where the
// file system has them.
struct extended_flags {
  uint32_t flags = 0;
  uint32_t project = 0;
  bool operator==(const extended_flags& other) const {
    return flags == other.flags && project == other.project;
  }
};

// Owner, group, mode, extended attributes and inode flags of a file.
struct file_identity {
  uid_t owner = 0;
  gid_t group = 0;
  // Permission, set-id and sticky bits.
  mode_t mode = 0;
  // Every extended attribute the runner can see, name and value, sorted by
  // name; ACLs and file capabilities are among them.
  std::vector<std::pair<std::string, std::string>> attributes;
  // The inode flags (chattr), where the file system has them.
  std::optional<int> flags;
  std::optional<extended_flags> extended;
};

// Reads the identity of the file open at `descriptor` into `*identity`.
// Returns 0, or the errno value of the failure.
int read_identity(int descriptor, file_identity* identity);

// Gives the file open at `descriptor` the identity `identity`: owner and
// group, then the attributes (removing those it has and `identity` lacks,
// such as a folder's default ACL), the flags, the mode, and last the file
// capability, which a change of owner would clear; then reads all of it back.
// Flags that a file system sets by itself are left as they are. Returns 0;
// the errno value of the first call that fails; or ENOTSUP when the file
// reads back otherwise, as a file system that drops a bit would have it.
int give_identity(int descriptor, const file_identity& identity);

// Sets the inode flags of the file open at `descriptor` to `flags`, leaving
// those the file system sets by itself. Returns 0 or the errno value.
int set_inode_flags(int descriptor, int flags);

// Whether `error` says that the runner may not set an attribute, owner or
// flag, or the file system cannot hold it: a reason to write a file in place
// rather than a failure. A shortage (of descriptors, inodes, space, quota,
// file size or memory) and every other error are failures.
bool is_refusal(int error);

// Whether `error`, from a request for a file's flags, says that the file
// system has no such flags at all, or that the system does not know the
// request (as qemu-user answers for requests it does not translate).
bool has_no_flags(int error);

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_FILE_IDENTITY_H_
