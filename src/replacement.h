// Whether an output path is replaced whole by a new file or written in place,
// and the copying of an old file's identity to the new one. A file is
// replaced only when the new file can be made indistinguishable from the old
// one; otherwise it is written in place, as fopen(path, "w") writes it.
#ifndef INIT_BICLUSTER_REPLACEMENT_H_
#define INIT_BICLUSTER_REPLACEMENT_H_

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace init_bicluster {

// What makes a file the same file for its users, besides its contents.
struct file_identity {
  uid_t owner = 0;
  gid_t group = 0;
  // Permission, set-id and sticky bits.
  mode_t mode = 0;
  // Every extended attribute, name and value; ACLs are among them.
  std::vector<std::pair<std::string, std::string>> attributes;
  // The inode flags (chattr), where the file system has them.
  std::optional<int> flags;
};

// How an output path is to be written.
struct output_plan {
  enum class way {
    // Refused: an in-place open fails with `error`, which leaves the path
    // as it was.
    refuse,
    // Written through `descriptor`, opened as fopen(path, "w") opens it.
    in_place,
    // A new file made in the folder of `target` takes the place of
    // `target` at the end; with `identity`, the old file's, which the new
    // file must carry exactly, or else the path is written in place.
    replace,
  };
  way how = way::refuse;
  int error = 0;
  int descriptor = -1;
  std::string target;
  std::optional<file_identity> identity;
};

// Decides how `path` is written, holding at most one descriptor at a time.
// A symbolic link is followed to the file it names, which is created when
// missing. Replaced: a regular file of one link, not a standard stream's,
// in a folder on the same mount that is not append-only and, where sticky,
// is the runner's or holds the runner's file (or the runner is root), when
// its hidden name fits in a path and its identity can be read; and a new
// file in a folder that is not append-only, when its hidden name fits.
// Written in place: everything else (devices, FIFOs, files of several
// links, files mounted on a path of their own, ...) that an in-place open
// accepts.
output_plan plan_output(const std::string& path);

// Gives the new file open at `descriptor` the identity `identity`: owner
// and group, attributes, mode and inode flags, then reads them back.
// Returns whether the file now carries exactly that identity.
bool give_identity(int descriptor, const file_identity& identity);

// Whether `error` tells of a shortage of descriptors, inodes, space or
// memory: a failure of the run, not a reason to write in place.
bool is_shortage(int error);

// Opens `path` for writing in place, as fopen(path, "w") does: created with
// mode 0666 less the umask, or truncated. Returns the descriptor, or -1 with
// errno set.
int open_in_place(const std::string& path);

// The last part of `path`, after its last '/'.
std::string name_of(const std::string& path);

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_REPLACEMENT_H_
