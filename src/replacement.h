// Whether an output path is replaced whole by a new file or written in place.
// A file is replaced only when every check of it can be made and passes, and
// when the new file can be made indistinguishable from the old one; otherwise
// it is written in place, as fopen(path, "w") writes it. Every step after the
// checks is bound to the folder that was checked, so that a folder renamed or
// swapped during the run cannot move the write elsewhere.
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
  // written: syncs it, checks that the name in the folder still refers to
  // the file that was checked (or still to none, for a new path), gives it
  // that file's identity as it is now, and renames it over the name, with
  // every signal held off from the check to the rename. Returns 0, or the
  // errno value of the failure (ESTALE when the name was changed during the
  // run), and then the path is as it was and the new file is gone. Requires
  // that it was not called before.
  int commit();

 private:
  void release();

  temporary_file file_;
  // The name of the path's file in the folder `file_.folder`.
  std::string name_;
  // The old file, open for writing; -1 for a new path.
  int old_file_ = -1;
  // Bytes written, and how many of them are on their way to disc.
  uint64_t written_ = 0;
  uint64_t sent_ = 0;
};

// How an output path is to be written.
struct output_plan {
  enum class way {
    // Refused: an in-place open fails with `error`, which leaves the path
    // as it was.
    refuse,
    // Written through `descriptor`, opened and truncated as fopen(path, "w")
    // does it.
    in_place,
    // Written to `replacing`, which takes the path's place at the end.
    replace,
    // The run cannot be made without losing the old file, for want of a
    // resource (`error`); the path is as it was.
    fail,
  };
  way how = way::refuse;
  int error = 0;
  int descriptor = -1;
  replacement replacing;
};

// Decides how `path` is written, before anything is drawn. A symbolic link
// is followed to the file it names, which is created when missing.
// Replaced: a regular file of one link, not a standard stream's, in a folder
// on the same mount that is not append-only and, where sticky, is the
// runner's or holds the runner's file (or the runner is root), that is not
// mounted on a path of its own, whose identity the new file takes without a
// refusal; and a new file in a folder that is not append-only. Written in
// place: everything else that an in-place open accepts, and every file that
// a check cannot be made on (too few descriptors, no /proc, a folder whose
// flags cannot be read). A shortage of a resource while the new file is
// made and labelled fails the run. Holds at most three descriptors at once.
output_plan plan_output(const std::string& path);

// Opens `path` for writing in place, as fopen(path, "w") does: created with
// mode 0666 less the umask, or truncated. Returns the descriptor, or -1 with
// errno set.
int open_in_place(const std::string& path);

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_REPLACEMENT_H_
