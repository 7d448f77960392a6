#include "final_name.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "file_checks.h"
#include "file_io.h"

namespace init_bicluster {

namespace {

// Links followed before giving up, as the kernel does.
constexpr int k_most_links = 40;

// Reads the symbolic link named `name` in `folder` into `*target`, after the
// kernel has followed it: held open meanwhile, and still named so after.
// Returns 0 or the errno value.
int read_followed_link(int folder, const std::string& name, const struct stat& seen,
                       std::string* target) {
  const int link = open_at(folder, name, O_PATH | O_NOFOLLOW);
  if (link < 0) return errno;
  struct stat held;
  int error = fstat(link, &held) == 0 ? 0 : errno;
  if (error == 0 && !is_same_file(held, seen)) error = ESTALE;
  if (error == 0) {
    // The kernel's own walk applies its rules to this link and those after
    // it; a missing file at the end is what a new path has.
    const int followed = open_at(folder, name, O_PATH);
    if (followed >= 0) {
      ::close(followed);
    } else if (errno != ENOENT) {
      error = errno;
    }
  }
  struct stat named;
  if (error == 0 && fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) error = errno;
  if (error == 0 && !is_same_file(named, held)) error = ESTALE;
  if (error == 0) {
    target->resize(PATH_MAX);
    const ssize_t length = readlinkat(link, "", target->data(), target->size());
    if (length < 0) {
      error = errno;
    } else if (static_cast<std::size_t>(length) == target->size()) {
      error = ENAMETOOLONG;
    } else {
      target->resize(static_cast<std::size_t>(length));
    }
  }
  ::close(link);
  return error;
}

}  // namespace

int find_final_name(const std::string& path, final_name* found) {
  *found = final_name{};
  std::string text = path;
  // The folder that a relative `text` starts from: the link's own.
  int base = AT_FDCWD;
  for (int links = 0;; ++links) {
    int error = 0;
    const std::string name = text.empty() ? "" : name_of(text);
    if (text.empty()) {
      error = ENOENT;
    } else if (name.empty() || name == "." || name == "..") {
      error = EISDIR;
    }
    const int folder = error == 0 ? open_at(base, directory_of(text), O_PATH | O_DIRECTORY) : -1;
    if (error == 0 && folder < 0) error = errno;
    if (base != AT_FDCWD) ::close(base);
    if (error != 0) return error;
    struct stat info;
    if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      error = errno;
      if (error != ENOENT) {
        ::close(folder);
        return error;
      }
      found->folder = folder;
      found->name = name;
      return 0;
    }
    if (!S_ISLNK(info.st_mode)) {
      *found = final_name{folder, name, true, info};
      return 0;
    }
    error = links == k_most_links ? ELOOP : read_followed_link(folder, name, info, &text);
    if (error != 0) {
      ::close(folder);
      return error;
    }
    base = folder;
  }
}

}  // namespace init_bicluster
