// Whether an output path is replaced whole by a new file or written in place.
// A regular file is replaced when it can be made indistinguishable from the
// old one; it is written in place only where the runner may not do that (or
// the folder or a mount forbids it), never because a check failed: a check
// that fails, or finds that the path no longer names the file that was
// opened, fails the run and leaves the file as it was. Every step after the
// checks is bound to the folder that was checked, so that a folder renamed
// or swapped during the run cannot move the write elsewhere.
#ifndef INIT_BICLUSTER_REPLACEMENT_H_
#define INIT_BICLUSTER_REPLACEMENT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "file_io.h"

namespace init_bicluster {

// A new file that is to take the place of an output path at the end of a
// run, and the folder and old file it was checked against. Owns its
// descriptors; destroying it before `commit` leaves the path as it was and
// nothing beside it (but a hidden file, on a file system without unnamed
// files, when the process dies first).
class replacement {
 public:
  replacement() = default;
  // Takes over `file`, made in the folder where the path's file is named
  // `name`, and `old_file`, that file open for writing (-1 for a new path).
  replacement(temporary_file file, std::string name, int old_file)
      : file_(std::move(file)), name_(std::move(name)), old_file_(old_file) {}
  replacement(replacement&& other) noexcept;
  replacement& operator=(replacement&& other) noexcept;
  replacement(const replacement&) = delete;
  replacement& operator=(const replacement&) = delete;
  ~replacement();

  // Writes all of `bytes` to the new file, resuming after interruptions and
  // short writes; every few MiB, starts writing them out to disc, so that the
  // sync in `commit` finds little left to wait for. Returns 0 or the errno
  // value of the failure.
  int write(std::string_view bytes);

  // Puts the new file in the place of the path once its last byte is
  // written: syncs it; locks the old file (waiting a while for another run
  // that does), checks that the name in the folder still refers to it with
  // one link, gives the new file its identity as it is now and renames the
  // new file over it; or, for a new path, names the new file only where
  // nothing has that name. Every signal is held off from the check to the
  // rename, and only one of several runs that commit at once can succeed.
  // Returns 0, or the errno value of the failure (ESTALE when the name was
  // changed during the run, ETXTBSY when another kept the lock), and then
  // the path is as it was and the new file is gone. Requires that it was not
  // called before.
  int commit();

 private:
  void release();
  // The steps of `commit` after the sync, for an old file and a new path.
  int replace_old_file();
  int add_new_file();

  temporary_file file_;
  // The name of the path's file in the folder `file_.folder`.
  std::string name_;
  // The old file, open for writing (locked by `commit`); -1 for a new path.
  int old_file_ = -1;
  // Bytes written, and how many of them are on their way to disc.
  uint64_t written_ = 0;
  uint64_t sent_ = 0;
};

// How an output path is to be written.
struct output_plan {
  enum class way {
    // Refused as an in-place open would refuse it, with `error`; the path is
    // as it was.
    refuse,
    // Written through `descriptor`, opened for writing, and for a regular
    // file locked and truncated, as fopen(path, "w") does it.
    in_place,
    // Written to `replacing`, which takes the path's place at the end.
    replace,
    // The run cannot be made without losing the old file, for want of a
    // resource or because a check failed (`error`), or the path changed
    // (ESTALE) or is locked by another (ETXTBSY); the path is as it was.
    fail,
  };
  way how = way::refuse;
  int error = 0;
  int descriptor = -1;
  // For a file written in place: the folder (open with O_PATH) and the name
  // that were checked to name it, so that the end of the run can tell
  // whether they still do; -1 for a device, a pipe or a standard stream's
  // file.
  int folder = -1;
  std::string name;
  replacement replacing;
};

// Decides how `path` is written, before anything is drawn. Symbolic links
// are followed as the kernel follows them for this runner; the file they
// end at is created when missing. What the kernel would refuse an open of
// the path with O_CREAT is refused, fs.protected_regular and
// fs.protected_fifos included, also for root. Replaced: a regular file of
// one link, not a standard stream's, in a folder that is not append-only
// and, where sticky, is the runner's or holds the runner's file (or the
// runner is root), that is not mounted on a path of its own nor of another
// project than its folder imposes, and whose identity the new file takes
// without a refusal; and a new path. Written in place: everything else that
// an open accepts, and a file whose checks cannot be made by nature (no
// /proc) or for want of permission. Any other failure of a check, and a path
// that no longer names what was opened, fails the run. Holds at most four
// descriptors at once.
output_plan plan_output(const std::string& path);

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_REPLACEMENT_H_
