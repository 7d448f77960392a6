#include "replacement.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "file_checks.h"
#include "file_identity.h"
#include "final_name.h"

namespace init_bicluster {

namespace {

// How many bytes of the new file are written before they are sent on to
// disc, while the run goes on.
constexpr uint64_t k_writeback_step = uint64_t{8} << 20;

output_plan refused(int error) {
  output_plan plan;
  plan.how = output_plan::way::refuse;
  plan.error = error;
  return plan;
}

output_plan failed(int error) {
  output_plan plan;
  plan.how = output_plan::way::fail;
  plan.error = error;
  return plan;
}

// The plan that writes through `file` as it is: a device or a pipe, which
// need no truncation.
output_plan written_through(owned_descriptor& file) {
  output_plan plan;
  plan.how = output_plan::way::in_place;
  plan.descriptor = file.release();
  return plan;
}

// The plan that writes the regular file `file` in place: locked, so that no
// other run writes it at once, and truncated. `folder` and `name`, where
// given, named it when it was checked.
output_plan written_in_place(owned_descriptor& file, owned_descriptor& folder,
                             const std::string& name) {
  if (const int error = lock_file(file.get(), false)) return failed(error);
  if (ftruncate(file.get(), 0) != 0) return failed(errno);
  output_plan plan = written_through(file);
  plan.folder = folder.release();
  plan.name = name;
  return plan;
}

// The plan for the regular file `file`, whose status is `opened`, named
// `name` in the folder `folder`, whose status is `folder_info`.
output_plan plan_regular_file(owned_descriptor& file, const struct stat& opened,
                              owned_descriptor& folder, const struct stat& folder_info,
                              const std::string& name) {
  // A file of several names, or mounted from elsewhere, is one that a new
  // file cannot stand in for. In a sticky folder (such as /tmp) only the
  // owners, and a runner with CAP_FOWNER (root), may replace another user's
  // file.
  const uid_t user = geteuid();
  bool in_place = opened.st_nlink != 1 || folder_info.st_dev != opened.st_dev ||
                  ((folder_info.st_mode & S_ISVTX) != 0 && user != opened.st_uid &&
                   user != folder_info.st_uid && !may_replace_in_sticky_folders());
  int error = 0;
  if (!in_place) error = is_append_only(folder.get(), &in_place);
  if (error == 0 && !in_place)
    error = is_mounted_on_its_own(file.get(), opened, folder.get(), &in_place);
  if (error != 0) return failed(error);
  if (in_place) return written_in_place(file, folder, name);
  // The old file's identity, given to the new file before anything is
  // written, tells whether the runner may give it at the end.
  file_identity identity;
  temporary_file made;
  bool other_project = false;
  error = read_identity(file.get(), &identity);
  if (error == 0) error = create_temporary_file(folder.get(), name, 0600, &made);
  if (error == 0 && identity.extended) {
    error = imposes_other_project(folder.get(), made.descriptor, identity.extended->project,
                                  &other_project);
  }
  if (error == 0 && !other_project) error = give_identity(made.descriptor, identity);
  if (error != 0 || other_project) {
    discard_temporary_file(&made);
    if (error == 0 || is_refusal(error)) return written_in_place(file, folder, name);
    return failed(error);
  }
  // Synchronous writes would slow the run; the flag is given again at the
  // end.
  if (identity.flags && (*identity.flags & FS_SYNC_FL) != 0) {
    set_inode_flags(made.descriptor, *identity.flags & ~FS_SYNC_FL);
  }
  output_plan plan;
  plan.how = output_plan::way::replace;
  folder.release();
  plan.replacing = replacement(std::move(made), name, file.release());
  return plan;
}

// The plan for a path that named a file when `file` was opened on it.
output_plan plan_existing_file(const std::string& path, owned_descriptor& file) {
  struct stat opened;
  if (fstat(file.get(), &opened) != 0) return failed(errno);
  const bool regular = S_ISREG(opened.st_mode);
  // Devices are written through this open. A standard stream's file is
  // written in place, as the shell expects, and it and a pipe without a
  // name may have no name to check.
  if (!regular && !S_ISFIFO(opened.st_mode)) return written_through(file);
  owned_descriptor no_folder;
  if (is_standard_stream_file(opened)) {
    return regular ? written_in_place(file, no_folder, "") : written_through(file);
  }
  if (!regular && is_unnamed_pipe(file.get())) return written_through(file);
  final_name found;
  if (const int error = find_final_name(path, &found)) return failed(error);
  owned_descriptor folder(found.folder);
  // Another file or none at the name: the file was moved after it was opened.
  if (!found.exists || !is_same_file(found.info, opened)) return failed(ESTALE);
  struct stat folder_info;
  if (fstat(folder.get(), &folder_info) != 0) return failed(errno);
  bool protected_file = false;
  if (const int error = is_protected_from_runner(folder_info, opened, &protected_file)) {
    return failed(error);
  }
  if (protected_file) return refused(EACCES);
  if (!regular) return written_through(file);
  return plan_regular_file(file, opened, folder, folder_info, found.name);
}

// The plan for a path where the open found no file: a new file in the
// folder where the path's links end, named only at the end.
output_plan plan_new_file(const std::string& path) {
  final_name found;
  if (const int error = find_final_name(path, &found)) {
    return error == ESTALE ? failed(error) : refused(error);
  }
  owned_descriptor folder(found.folder);
  // A file made since the open found none is another program's.
  if (found.exists) return failed(ESTALE);
  temporary_file made;
  if (const int error = create_temporary_file(folder.get(), found.name, 0666, &made)) {
    return refused(error);
  }
  if (!made.name.empty()) {
    // A file under a hidden name is renamed at the end, which an
    // append-only folder forbids: it is made under the path's name instead.
    bool append_only = false;
    const int error = is_append_only(folder.get(), &append_only);
    if (error != 0 || append_only) {
      discard_temporary_file(&made);
      if (error != 0) return failed(error);
      owned_descriptor created(open_at(folder.get(), found.name,
                                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY, 0666));
      if (created.get() < 0) return errno == EEXIST ? failed(ESTALE) : refused(errno);
      return written_in_place(created, folder, found.name);
    }
  }
  output_plan plan;
  plan.how = output_plan::way::replace;
  folder.release();
  plan.replacing = replacement(std::move(made), found.name, -1);
  return plan;
}

}  // namespace

output_plan plan_output(const std::string& path) {
  // Opening the file for writing refuses what writing it in place would
  // (but for the kernel's rules on creating, checked later), and tells what
  // it is.
  owned_descriptor file(open_file(path, O_WRONLY | O_NOCTTY));
  if (file.get() < 0) return errno == ENOENT ? plan_new_file(path) : refused(errno);
  return plan_existing_file(path, file);
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
  // Of several runs that replace one file at once, one at a time checks and
  // renames; a signal can still end the wait.
  if (error == 0 && old_file_ >= 0) error = lock_file(old_file_, true);
  sigset_t all;
  sigset_t old_mask;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &old_mask);
  if (error == 0) error = old_file_ >= 0 ? replace_old_file() : add_new_file();
  // Closing the old file releases the lock, after the rename.
  release();
  sigprocmask(SIG_SETMASK, &old_mask, nullptr);
  return error;
}

int replacement::replace_old_file() {
  struct stat named;
  if (const int error = is_still_named(file_.folder, name_, old_file_, &named)) return error;
  if (named.st_nlink != 1) return ESTALE;
  // A folder made append-only during the run would keep the new file's
  // name beside the old file for good.
  bool append_only = false;
  if (const int error = is_append_only(file_.folder, &append_only)) return error;
  if (append_only) return EPERM;
  // The identity as it is now: a change made during the run is kept.
  file_identity identity;
  int error = read_identity(old_file_, &identity);
  if (error == 0) error = give_identity(file_.descriptor, identity);
  if (error == 0) error = name_temporary_file(&file_, name_);
  if (error == 0) error = rename_temporary_file(&file_, name_, true);
  return error;
}

int replacement::add_new_file() {
  // Something named so since the run began is another program's.
  const int error = place_temporary_file(&file_, name_);
  return error == EEXIST ? ESTALE : error;
}

}  // namespace init_bicluster
