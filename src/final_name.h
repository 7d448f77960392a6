// Where a path's file is named: the folder that holds the last part of the
// path once every symbolic link there is followed, and the name in it.
#ifndef INIT_BICLUSTER_FINAL_NAME_H_
#define INIT_BICLUSTER_FINAL_NAME_H_

#include <sys/stat.h>

#include <string>

namespace init_bicluster {

// A name in an open folder, and what it names.
struct final_name {
  // The folder, open with O_PATH; -1 when there is none.
  int folder = -1;
  std::string name;
  // Whether the name names a file, and `info` its status when it does.
  bool exists = false;
  struct stat info = {};
};

// Follows the symbolic links in the last part of `path`, one at a time, and
// fills `*found` with the folder and name where they end; that name need not
// exist, and is never a link. Each link is first followed by the kernel for
// this runner, so its rules hold (fs.protected_symlinks among them), and is
// held open while it is read, so that a link swapped meanwhile is caught.
// Returns 0, or the errno value of the failure, and then `*found` holds no
// folder: a folder that cannot be opened, a link the kernel refuses to
// follow (EACCES, ELOOP), a name that can only be a folder (EISDIR), a link
// replaced while it was read (ESTALE). The caller closes found->folder.
int find_final_name(const std::string& path, final_name* found);

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_FINAL_NAME_H_
