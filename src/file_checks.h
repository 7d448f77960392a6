// Checks of an output file and its folder: whether the kernel lets this
// runner write the file, and whether a new file can take its place. Each
// returns 0 with its answer, or the errno value of a failure that kept it
// from being made. Where the answer cannot be had by nature (no /proc) or
// for want of permission, it is the one that keeps the old file in place.
#ifndef INIT_BICLUSTER_FILE_CHECKS_H_
#define INIT_BICLUSTER_FILE_CHECKS_H_

#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace init_bicluster {

// Whether `a` and `b` are the status of one file.
bool is_same_file(const struct stat& a, const struct stat& b);

// Whether `name` in the folder open at `folder` still names the file open at
// `descriptor`: 0 when it does, with the name's status in `*named`; ESTALE
// when it names another file or none; or the errno value of a failure.
int is_still_named(int folder, const std::string& name, int descriptor, struct stat* named);

// Whether the kernel would refuse this runner an open with O_CREAT of the
// existing file `file`, found in the folder `folder`, as fopen(path, "w")
// opens it: a sticky folder that others may write, a file of neither the
// runner nor the folder's owner, and fs.protected_regular or
// fs.protected_fifos (or, for other kinds of file, always) forbidding it.
// A setting that cannot be read counts as 1. Root is held to it too.
int is_protected_from_runner(const struct stat& folder, const struct stat& file, bool* refused);

// Whether the folder open at `folder` is append-only: a file in it could be
// linked but never renamed over another nor removed.
int is_append_only(int folder, bool* append_only);

// Whether the file `file`, open at `descriptor` and named in the folder open
// at `folder`, is mounted on a path of its own (a bind mount), there or
// elsewhere: renaming a new file over its name would fail, or leave the other
// path showing the old file.
int is_mounted_on_its_own(int descriptor, const struct stat& file, int folder, bool* mounted);

// Whether the folder open at `folder` gives every file linked into it a
// project (FS_XFLAG_PROJINHERIT) other than `project`, the old file's, so that
// a new file of that project could never be named there. `new_file` is a
// file just made in the folder, whose project tells the folder's.
int imposes_other_project(int folder, int new_file, uint32_t project, bool* imposes);

// Whether this process may rename over another user's file in a sticky
// folder: it holds CAP_FOWNER, as root usually does (or, where the
// capabilities cannot be read, it is root).
bool may_replace_in_sticky_folders();

// Whether `file` is the file of a standard stream of this process.
bool is_standard_stream_file(const struct stat& file);

// Whether the FIFO open at `descriptor` is a pipe without a name (bash's
// >(...) and /dev/fd paths give one), which no folder holds.
bool is_unnamed_pipe(int descriptor);

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_FILE_CHECKS_H_
