// Nothing lost: whatever fails, the output path holds its old contents or the
// whole new file, and no failure goes unreported.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cli_fixture.h"

namespace init_bicluster {
namespace {

const char k_changed_message[] =
    "Could not write output file: another program changed the path during the run\n";

// The number of entries in `directory`.
int entries_in(const std::string& directory) {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) {
    ++count;
  }
  return count;
}

// An address-space limit cannot be combined with AddressSanitizer's shadow,
// nor with an emulator's reserve.
#if !defined(__SANITIZE_ADDRESS__) && !defined(TOOL_UNDER_EMULATOR)
TEST_F(CommandLine, ShortagesAndLimitsLeaveTheOldFile) {
  const rlim_t address_space = rlim_t{30} << 20;
  const struct {
    std::vector<std::string> numbers;
    std::pair<int, rlim_t> limit;
    bool close_standard_error;
    std::string message;
  } cases[] = {
      {{"10", "6000000", "2", "1", "5", "-1", "-1"},
       {RLIMIT_AS, address_space},
       false,
       "Could not allocate memory for 6000000 columns\n"},
      {{"10", "6000000", "2", "1", "5", "-1", "-1"}, {RLIMIT_AS, address_space}, true, ""},
      {{"2000000000", "1", "2", "1", "5", "-1", "-1"},
       {RLIMIT_AS, address_space},
       false,
       "Could not allocate memory for 2000000000 rows\n"},
      {{"--seed=1", "1000", "1000", "20", "1", "5", "-1", "-1"},
       {RLIMIT_FSIZE, 4096},
       false,
       "Could not write output file: File too large\n"},
      {{"--seed=1", "1000", "1000", "20", "1", "5", "-1", "-1"}, {RLIMIT_FSIZE, 4096}, true, ""},
  };
  for (const auto& c : cases) {
    write_file(output_, "precious\n");
    std::vector<std::string> arguments = c.numbers;
    arguments.push_back(output_);
    run_options options;
    options.limits = {c.limit};
    options.close_standard_error = c.close_standard_error;
    const process_result result = run(arguments, options);
    const std::string what = c.numbers[1] + (c.close_standard_error ? " without stderr" : "");
    EXPECT_EQ(result.exit_status, 1) << what;
    EXPECT_EQ(result.standard_output, "") << what;
    EXPECT_EQ(result.standard_error, c.message) << what;
    EXPECT_EQ(read_file(output_), "precious\n") << what;
    EXPECT_EQ(entries_in(directory_), 1) << what;
  }
}
#endif

TEST_F(CommandLine, AKilledRunLeavesTheOldFileAndNothingBesideIt) {
  write_file(output_, "precious\n");
  run_options options;
  options.kill_after_milliseconds = 300;
  // Twenty covers of five million rows: several seconds of work.
  const process_result result =
      run({"5000000", "1", "20", "5000000", "5000000", "-1", "-1", output_}, options);
  EXPECT_EQ(result.exit_status, -1);
  EXPECT_EQ(read_file(output_), "precious\n");
  EXPECT_EQ(entries_in(directory_), 1);
}

TEST_F(CommandLine, OfTwoRunsAtOnceOneWholeFileRemains) {
  const std::vector<std::string> numbers = {"1000000", "3", "6", "900000", "1000000", "-1", "-1"};
  process_result results[2];
  std::vector<std::thread> runs;
  for (int i = 0; i < 2; ++i) {
    runs.emplace_back([&, i] {
      std::vector<std::string> arguments = {"--seed=" + std::to_string(i + 1)};
      arguments.insert(arguments.end(), numbers.begin(), numbers.end());
      arguments.push_back(output_);
      results[i] = run(arguments);
    });
  }
  for (std::thread& run : runs) run.join();
  // The run that finishes second finds another file than the one it checked
  // and leaves it, unless the first had finished before it began.
  std::vector<std::string> positional = numbers;
  positional.push_back(output_);
  const std::string written = read_file(output_);
  int finished = 0;
  for (int i = 0; i < 2; ++i) {
    if (results[i].exit_status == 0) {
      ++finished;
      if (results[1 - i].exit_status != 0) {
        EXPECT_EQ(written, library_file(positional, i + 1));
      }
    } else {
      EXPECT_EQ(results[i].exit_status, 1);
      EXPECT_EQ(results[i].standard_error, k_changed_message);
    }
  }
  EXPECT_GE(finished, 1);
  EXPECT_TRUE(written == library_file(positional, 1) || written == library_file(positional, 2))
      << "the file is neither run's whole output (" << written.size() << " bytes)";
  EXPECT_EQ(entries_in(directory_), 1);
}

TEST_F(CommandLine, EveryKindOfPathIsWrittenAsItShouldBe) {
  const std::vector<std::string> numbers = {"--seed=7", "10", "5", "3", "2", "4", "-1", "-1"};
  const std::string expected = library_file({"10", "5", "3", "2", "4", "-1", "-1", ""}, 7);
  const auto run_on = [&](const std::string& path) {
    std::vector<std::string> arguments = numbers;
    arguments.push_back(path);
    return run(arguments);
  };

  // A symbolic link: the file it names is replaced, with its mode, set-id
  // and sticky bits included, and the link stays.
  const std::string target = directory_ + "/target.txt";
  write_file(target, "old\n");
  ASSERT_EQ(chmod(target.c_str(), 07640), 0);
  ASSERT_EQ(symlink("target.txt", output_.c_str()), 0);
  EXPECT_EQ(run_on(output_).exit_status, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(output_));
  EXPECT_EQ(read_file(target), expected);
  struct stat info;
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 07640u);

  // A dangling link: the file it names is made; at the end of a chain of
  // relative links, each relative to its own folder.
  ASSERT_EQ(symlink("made.txt", (directory_ + "/dangling").c_str()), 0);
  EXPECT_EQ(run_on(directory_ + "/dangling").exit_status, 0);
  EXPECT_EQ(read_file(directory_ + "/made.txt"), expected);
  EXPECT_TRUE(std::filesystem::is_symlink(directory_ + "/dangling"));
  ASSERT_EQ(mkdir((directory_ + "/sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink("sub/b", (directory_ + "/a").c_str()), 0);
  ASSERT_EQ(symlink("c", (directory_ + "/sub/b").c_str()), 0);
  EXPECT_EQ(run_on(directory_ + "/a").exit_status, 0);
  EXPECT_EQ(read_file(directory_ + "/sub/c"), expected);
  EXPECT_FALSE(std::filesystem::exists(directory_ + "/c"));

  // A file of several names is written in place: every name sees the new
  // bytes.
  const std::string linked = directory_ + "/linked.txt";
  write_file(linked, "old\n");
  ASSERT_EQ(link(linked.c_str(), (directory_ + "/other-name.txt").c_str()), 0);
  EXPECT_EQ(run_on(linked).exit_status, 0);
  EXPECT_EQ(read_file(linked), expected);
  EXPECT_EQ(read_file(directory_ + "/other-name.txt"), expected);
  EXPECT_EQ(entries_in(directory_), 8);

  // A FIFO is written in place, to its reader.
  const std::string fifo = directory_ + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = read_file(fifo); });
  EXPECT_EQ(run_on(fifo).exit_status, 0);
  reader.join();
  EXPECT_EQ(received, expected);

  // Devices are written in place; a folder is refused.
  EXPECT_EQ(run_on("/dev/null").exit_status, 0);
  const process_result folder = run_on(directory_);
  EXPECT_EQ(folder.exit_status, 1);
  EXPECT_EQ(folder.standard_error, "Could not open output file\n");
  EXPECT_EQ(entries_in(directory_), 9);
}

TEST_F(CommandLine, AFileInAFolderClosedToNewFilesIsWrittenInPlace) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to act as another user";
  // Root's folder, which nobody may enter but not add to, and a file in it
  // that anyone may write.
  run_options options = as_nobody();
  write_file(output_, "old\n");
  ASSERT_EQ(chmod(output_.c_str(), 0666), 0);
  const std::vector<std::string> arguments = {"10", "5", "3", "2", "4", "-1", "-1", output_};
  std::vector<std::string> seeded = {"--seed=3"};
  seeded.insert(seeded.end(), arguments.begin(), arguments.end());
  const process_result result = run(seeded, options);
  EXPECT_EQ(result.exit_status, 0) << result.standard_error;
  const std::string written = library_file(arguments, 3);
  EXPECT_EQ(read_file(output_), written);
#if !defined(__SANITIZE_ADDRESS__) && !defined(TOOL_UNDER_EMULATOR)
  // Written in place, the file would be emptied by opening it before all
  // the memory is had.
  options.limits = {{RLIMIT_AS, rlim_t{30} << 20}};
  const process_result short_of_memory =
      run({"10", "6000000", "2", "1", "5", "-1", "-1", output_}, options);
  EXPECT_EQ(short_of_memory.exit_status, 1);
  EXPECT_EQ(read_file(output_), written);
#endif
}

// Files that carry more than permission bits keep all of it: an ACL, user
// attributes, inode flags and projects, set-id bits, capabilities, another
// user's owner and group. Each row says which way the file goes: replaced by
// a new file, or written in place where the new file cannot carry that (or
// the folder cannot take it, or a check cannot be made); where the new file
// cannot be made or labelled for want of a resource, the run fails and the
// old file stays.
TEST_F(CommandLine, TheWrittenFileIsTheSameFile) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to mount and to act as another user";
  // Folders below the test's folder that make the path of f as long as a
  // path may be (PATH_MAX less its NUL).
  const std::string deep = [&] {
    std::string folders;
    const std::size_t length = PATH_MAX - 1 - directory_.size() - 2;
    while (folders.size() < length) {
      folders += std::string(std::min<std::size_t>(200, length - folders.size() - 1), 'd') + "/";
    }
    return folders;
  }();
  const std::string no_proc = "mount -t tmpfs none /proc && exec \"$0\" \"$@\"";
  const std::pair<int, rlim_t> small_files = {RLIMIT_FSIZE, 50};
  enum way { replaced, in_place, failed, refused };
  const struct {
    const char* what;
    std::string setup;  // run in the test's folder, on the file f
    std::string name;   // the output, from the test's folder
    std::string cleanup;
    way expected;
    bool as_nobody = false;
    std::vector<std::pair<int, rlim_t>> limits = {};
    std::string message = "";  // for a run that fails
    // A command that runs the tool, its path and arguments following.
    std::vector<std::string> wrapper = {};
    bool standard_output_on_file = false;
    bool standard_error_on_file = false;
  } cases[] = {
      {"ACL", "chmod 640 f && setfacl -m u:2003:rw f", "f", "", replaced},
      {"ACL of a user's own file", "chown 65534:65534 . f && setfacl -m u:2003:r f", "f", "",
       replaced, true},
      {"user attribute", "setfattr -n user.origin -v lab f", "f", "", replaced},
      {"inode flags", "chattr +S +d +A f", "f", "", replaced},
      {"set-id bits of a user's own file", "chown 65534:65534 . f && chmod 6755 f", "f", "",
       replaced, true},
      {"file capability", "setcap cap_net_raw+ep f", "f", "", replaced},
      {"root's file of another group", "chown 0:65534 f && chmod 2640 f", "f", "", replaced},
      {"another user's file", "chown 0:65534 f && chmod 660 f && chown 65534 .", "f", "", in_place,
       true},
      {"folder with a default ACL", "setfacl -d -m u:2003:rw .", "f", "", replaced},
      {"sticky folder, root runs", "chmod 1777 . && chown 2003 . f", "f", "", replaced},
      {"sticky folder, another's file",
       "mkdir -m 1777 s && chown 2003 f && chmod 666 f && mv f s/f", "s/f", "", in_place, true},
      {"sticky folder, the runner's file", "mkdir -m 1777 s && chown 65534:65534 f && mv f s/f",
       "s/f", "", replaced, true},
      {"append-only folder", "chattr +a .", "f", "chattr -a .", in_place},
      {"unreadable append-only folder", "mkdir -m 333 u && chmod 666 f && mv f u/f && chattr +a u",
       "u/f", "chattr -a u", in_place, true},
      {"bind mount", "touch g && mount --bind f g", "g", "umount g", in_place},
      {"bind mount's source", "touch g && mount --bind f g", "f", "umount g", in_place},
      {"bind mount at a path with escapes", "touch 'g \\h' && mount --bind f 'g \\h'", "f",
       "umount 'g \\h'", in_place},
      {"bind mount's source, without /proc",
       "touch g && mount --bind f g",
       "f",
       "umount g",
       in_place,
       false,
       {},
       "",
       {"/usr/bin/unshare", "-m", "/bin/sh", "-c", no_proc}},
      {"bind mount's source, with three descriptors free",
       "touch g && mount --bind f g",
       "f",
       "umount g",
       in_place,
       false,
       {{RLIMIT_NOFILE, 6}}},
      {"bind mount on btrfs",
       "truncate -s 120M img && mkfs.btrfs -q img >/dev/null && mkdir m && mount -o loop img m && "
       "mv f m/f && touch m/g && mount --bind m/f m/g",
       "m/f", "umount m/g && umount m", in_place},
      {"flags on btrfs, which extended flags do not show",
       "truncate -s 120M img && mkfs.btrfs -q img >/dev/null && mkdir m && mount -o loop img m && "
       "touch m/f && chattr +C m/f && cat f > m/f && rm f",
       "m/f", "umount m", replaced},
      {"project and flags on XFS",
       "truncate -s 320M img && mkfs.xfs -q img && mkdir m && "
       "mount -o loop img m && mv f m/f && xfs_io -c 'chproj 42' -c 'chattr +Sd' m/f",
       "m/f", "umount m", replaced},
      {"longest path", "mkdir -p " + deep + " && mv f " + deep + "f", deep + "f", "", replaced},
      {"XFS folder that imposes another project",
       "truncate -s 320M img && mkfs.xfs -q img && mkdir m && mount -o loop img m && mv f m/f && "
       "xfs_io -c 'chproj 20' m/f && xfs_io -c 'chproj 10' -c 'chattr +P' m",
       "m/f", "umount m", in_place},
      // With too few descriptors for its checks a run fails, before a write
      // that a size limit makes fail could cut the old file.
      {"one descriptor free",
       "",
       "f",
       "",
       failed,
       false,
       {{RLIMIT_NOFILE, 4}, small_files},
       "Could not write output file: Too many open files\n"},
      {"two descriptors free",
       "",
       "f",
       "",
       failed,
       false,
       {{RLIMIT_NOFILE, 5}, small_files},
       "Could not write output file: Too many open files\n"},
      {"standard output on the file", "", "f", "", in_place, false, {}, "", {}, true},
      {"standard error on the file", "", "f", "", in_place, false, {}, "", {}, false, true},
      {"sticky folder, another's file, a runner with CAP_CHOWN and CAP_FOWNER",
       "mkdir -m 1777 s && chown 2003:2003 f && chmod 666 f && mv f s/f", "s/f", "", replaced, true,
       {}, "",
       {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
        "--inh-caps=+chown,+fowner", "--ambient-caps=+chown,+fowner"}},
      {"no inode free",
       "mkdir t && mount -t tmpfs -o size=1m,nr_inodes=2 tmpfs t && mv f t/f",
       "t/f",
       "umount t",
       failed,
       false,
       {},
       "Could not write output file: No space left on device\n"},
      {"no room for an attribute",
       "mkdir t && mount -t tmpfs -o size=1m,nr_inodes=4 tmpfs t && mv f t/f && "
       "setfattr -n user.note -v 0x$(head -c 600 /dev/zero | od -An -tx1 -v | tr -d ' \\n') t/f",
       "t/f",
       "umount t",
       failed,
       false,
       {},
       "Could not write output file: No space left on device\n"},
      {"new path, no inode free",
       "mkdir t && mount -t tmpfs -o size=1m,nr_inodes=1 tmpfs t",
       "t/n",
       "umount t",
       refused,
       false,
       {},
       "Could not open output file\n"},
  };
  const std::vector<std::string> numbers = {"10", "5", "3", "2", "4", "-1", "-1"};
  const std::string expected = library_file({"10", "5", "3", "2", "4", "-1", "-1", ""}, 7);
  // Rows of sticky folders as the kernel has them by default; the
  // protections have a table of their own.
  const kernel_setting regular("protected_regular", "0");
  const kernel_setting fifos("protected_fifos", "0");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers' runtime needs descriptors of its own.
    if (!c.limits.empty()) continue;
#endif
#if defined(TOOL_UNDER_EMULATOR) || defined(__SANITIZE_ADDRESS__)
    // A wrapper starts the tool without the emulator, and the sanitizers'
    // runtime needs the /proc that some wrappers hide; the ordinary build
    // runs these rows.
    if (!c.wrapper.empty()) continue;
#endif
#if defined(TOOL_UNDER_EMULATOR)
    // qemu-user does not pass on the request for a file's project
    // (FS_IOC_FSGETXATTR), so an emulated tool cannot see projects.
    if (c.setup.find("chproj") != std::string::npos) continue;
#endif
    std::filesystem::remove_all(directory_);
    ASSERT_EQ(mkdir(directory_.c_str(), 0755), 0);
    write_file(directory_ + "/f", "old\n");
    const std::string set_up = shell(directory_, c.setup.empty() ? "true" : c.setup);
    if (!set_up.empty()) {
      ADD_FAILURE() << set_up;
      if (!c.cleanup.empty()) shell(directory_, c.cleanup);
      continue;
    }
    const std::string path = directory_ + "/" + c.name;
    const std::string identity = "stat -c '%u:%g %a' '" + c.name +
                                 "' && getfattr -d -m - -e hex '" + c.name + "' && lsattr -p '" +
                                 c.name + "' | awk '{ print $1, $2 }'";
    const std::string before = shell(directory_, identity);
    const std::string listing = shell(directory_, "ls -A . t m s u 2>/dev/null");
    struct stat old_file;
    ASSERT_EQ(stat(path.c_str(), &old_file), c.expected == refused ? -1 : 0);
    run_options options = c.as_nobody ? as_nobody() : run_options{};
    options.limits = c.limits;
    if (c.standard_output_on_file) options.standard_output_file = path;
    if (c.standard_error_on_file) options.standard_error_file = path;
    // A wrapper drops to the user itself, with what it keeps.
    if (!c.wrapper.empty()) options.user_id = options.group_id = -1;
    std::vector<std::string> arguments = {"--seed=7"};
    arguments.insert(arguments.end(), numbers.begin(), numbers.end());
    arguments.push_back(path);
    process_result result;
    if (c.wrapper.empty()) {
      result = run(arguments, options);
    } else {
      std::vector<std::string> command = c.wrapper;
      command.push_back(tool_);
      command.insert(command.end(), arguments.begin(), arguments.end());
      result = run_process(command[0], command, options);
    }
    const bool fails = c.expected == failed || c.expected == refused;
    EXPECT_EQ(result.exit_status, fails ? 1 : 0);
    EXPECT_EQ(result.standard_error, c.message);
    if (c.expected == refused) {
      EXPECT_FALSE(std::filesystem::exists(path));
      EXPECT_EQ(shell(directory_, c.cleanup), "");
      continue;
    }
    EXPECT_EQ(read_file(path), c.expected == failed ? "old\n" : expected);
    EXPECT_EQ(shell(directory_, identity), before);
    struct stat new_file;
    ASSERT_EQ(stat(path.c_str(), &new_file), 0);
    EXPECT_EQ(new_file.st_ino != old_file.st_ino, c.expected == replaced)
        << (c.expected == replaced ? "not replaced" : "replaced");
    // Another name of the file, where a case makes one, sees the same bytes.
    if (std::filesystem::exists(directory_ + "/g")) {
      EXPECT_EQ(read_file(directory_ + "/g"), read_file(path));
    }
    if (c.as_nobody) tool_ = TOOL_PATH;
    EXPECT_EQ(shell(directory_, "ls -A . t m s u 2>/dev/null"), listing) << "something left beside";
    if (!c.cleanup.empty()) {
      EXPECT_EQ(shell(directory_, c.cleanup), "");
    }
  }
}

// The kernel refuses an open with O_CREAT of an existing file in a sticky
// folder that others may write, when the file is neither the runner's nor
// the folder owner's (fs.protected_regular, fs.protected_fifos). The tool
// opens an existing file without O_CREAT, and refuses it the same way, root
// included; a refused FIFO's reader gets nothing.
TEST_F(CommandLine, TheKernelsProtectionsHoldForEveryRunner) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to set the kernel's settings";
  enum way { replaced, in_place, refused };
  const std::string fifo = "rm f && mkfifo -m 666 f && ";
  const struct {
    const char* what;
    const char* setting;
    const char* level;
    std::string setup;  // in the test's folder, on the file f
    way expected;
    bool as_nobody = false;
  } cases[] = {
      {"a user's file, world-writable", "protected_regular", "1", "chmod 1777 . && chown 2003 f",
       refused},
      {"a user's file, unprotected", "protected_regular", "0", "chmod 1777 . && chown 2003 f",
       replaced},
      {"a user's file, group-writable", "protected_regular", "2", "chmod 1770 . && chown 2003 f",
       refused},
      {"a user's file, group-writable, level 1", "protected_regular", "1",
       "chmod 1770 . && chown 2003 f", replaced},
      {"the folder owner's file", "protected_regular", "2", "chmod 1777 . && chown 2003 . f",
       replaced},
      {"a user's file, another runs", "protected_regular", "1",
       "chmod 1777 . && chown 2003 f && chmod 666 f", refused, true},
      {"a user's FIFO", "protected_fifos", "1", fifo + "chmod 1777 . && chown 2003 f", refused},
      {"a user's FIFO, unprotected", "protected_fifos", "0", fifo + "chmod 1777 . && chown 2003 f",
       in_place},
  };
  const std::string expected = library_file({"10", "5", "3", "2", "4", "-1", "-1", ""}, 7);
  const std::string path = directory_ + "/f";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(directory_);
    ASSERT_EQ(mkdir(directory_.c_str(), 0755), 0);
    tool_ = TOOL_PATH;
    const run_options options = c.as_nobody ? as_nobody() : run_options{};
    write_file(path, "old\n");
    ASSERT_EQ(shell(directory_, c.setup), "");
    const kernel_setting setting(c.setting, c.level);
    struct stat before;
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    const bool is_fifo = S_ISFIFO(before.st_mode);
    std::string received;
    std::thread reader;
    if (is_fifo) reader = std::thread([&] { received = read_file(path); });
    const process_result result =
        run({"--seed=7", "10", "5", "3", "2", "4", "-1", "-1", path}, options);
    if (is_fifo) {
      // A reader still waiting for a writer is let go.
      const int writer = open(path.c_str(), O_WRONLY | O_NONBLOCK);
      if (writer >= 0) close(writer);
      reader.join();
    }
    EXPECT_EQ(result.exit_status, c.expected == refused ? 1 : 0);
    EXPECT_EQ(result.standard_error, c.expected == refused ? "Could not open output file\n" : "");
    const std::string bytes = is_fifo ? received : read_file(path);
    EXPECT_EQ(bytes, c.expected == refused ? (is_fifo ? "" : "old\n") : expected);
    struct stat after;
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino != before.st_ino, c.expected == replaced);
  }
}

}  // namespace
}  // namespace init_bicluster
