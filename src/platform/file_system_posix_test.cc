#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

#include "platform/file_system.h"
#include "platform/interprocess_lock.h"

namespace vm {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

// Runs `body` in a child process and returns its exit status, so that a
// test can change process-wide limits without affecting the others.
int RunInChild(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

// Makes writes beyond `bytes` fail with EFBIG instead of killing the
// process.
void LimitFileSize(rlim_t bytes) {
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = {bytes, bytes};
  setrlimit(RLIMIT_FSIZE, &limit);
}

class PosixFileSystemTest : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    root_ = fs::temp_directory_path() /
            ("vm_posix_fs_test_" + std::to_string(random()));
    ASSERT_TRUE(fs::create_directory(root_));
    disk_ = NewDiskFileSystem();
    ASSERT_NE(disk_, nullptr);
  }
  void TearDown() override {
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(root_);
  }

  std::string Path(const std::string& name) {
    return root_.string() + "\\" + name;
  }
  size_t EntryCount() {
    return static_cast<size_t>(
        std::distance(fs::directory_iterator(root_), fs::directory_iterator()));
  }

  fs::path root_;
  std::unique_ptr<FileSystem> disk_;
};

TEST_F(PosixFileSystemTest, AnsiNamesAreUtf8OnDisk) {
  ASSERT_TRUE(disk_->WriteFile(Path("\xD3\xF2\xC3\xFB.cfg"), "x", nullptr));
  EXPECT_TRUE(fs::exists(root_ / "\xE5\x9F\x9F\xE5\x90\x8D.cfg"));
  std::unique_ptr<FileSystem> utf8 = NewDiskFileSystem("UTF-8");
  ASSERT_NE(utf8, nullptr);
  EXPECT_TRUE(utf8->Exists(Path("\xE5\x9F\x9F\xE5\x90\x8D.cfg")));
  EXPECT_EQ(NewDiskFileSystem("NO-SUCH-CODE-PAGE"), nullptr);
}

TEST_F(PosixFileSystemTest, PathsInvalidInTheCodePageAreRefused) {
  // Replacing the bad byte would make these two names one file.
  const std::string bad1 = Path("a\xFF.cfg"), bad2 = Path("a\x81.cfg");
  EXPECT_FALSE(disk_->WriteFile(bad1, "1", nullptr));
  EXPECT_FALSE(disk_->ReplaceContents(bad2, "2", nullptr));
  EXPECT_FALSE(disk_->CreateDir(bad1));
  EXPECT_FALSE(disk_->Exists(bad1));
  EXPECT_FALSE(disk_->RemoveFile(bad1));
  std::vector<DirEntry> entries;
  EXPECT_FALSE(disk_->List(bad1 + "\\*", &entries));
  EXPECT_EQ(EntryCount(), 0u);
}

TEST_F(PosixFileSystemTest, ReplaceThatRunsOutOfSpaceKeepsOldFile) {
  const std::string old_text(1000, 'o');
  ASSERT_TRUE(disk_->WriteFile(Path("userauth.cfg"), old_text, nullptr));
  int status = RunInChild([&] {
    LimitFileSize(4096);
    std::string error;
    bool ok = disk_->ReplaceContents(Path("userauth.cfg"),
                                     std::string(10000, 'n'), &error);
    return ok ? 1 : error.empty() ? 2 : 0;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Slurp(root_ / "userauth.cfg"), old_text);
  EXPECT_EQ(EntryCount(), 1u);  // no temporary file left

  // An in-place write in the same situation reports the short write.
  status = RunInChild([&] {
    LimitFileSize(4096);
    return disk_->WriteFile(Path("other.cfg"), std::string(10000, 'n'), nullptr)
               ? 1
               : 0;
  });
  EXPECT_EQ(status, 0);
}

// Runs `body` in a child process without root's power over permissions
// (as "nobody" when the tests run as root).
int RunUnprivileged(const std::function<int()>& body) {
  return RunInChild([&] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
      return 101;
    }
    return body();
  });
}

// A replace cut short by a kill leaves its temporary file; the next
// replace of the same file removes those of processes that are gone and
// leaves everything else alone.
TEST_F(PosixFileSystemTest, ReplaceRemovesTemporariesOfDeadProcesses) {
  pid_t dead = fork();
  if (dead == 0) _exit(0);
  ASSERT_GT(dead, 0);
  waitpid(dead, nullptr, 0);
  const std::string gone = std::to_string(dead);
  const std::string live = std::to_string(getppid());
  for (const std::string& name : std::vector<std::string>{
           "a.cfg.vmtmp." + gone + ".0", "a.cfg.vmtmp." + gone + ".17",
           "a.cfg.vmtmp." + live + ".0", "b.cfg.vmtmp." + gone + ".0",
           std::string("a.cfg.vmtmp.x.0"), "a.cfg.vmtmp." + gone}) {
    std::ofstream(root_ / name) << "partial";
  }
  ASSERT_TRUE(disk_->ReplaceContents(Path("a.cfg"), "new", nullptr));
  EXPECT_EQ(Slurp(root_ / "a.cfg"), "new");
  EXPECT_FALSE(fs::exists(root_ / ("a.cfg.vmtmp." + gone + ".0")));
  EXPECT_FALSE(fs::exists(root_ / ("a.cfg.vmtmp." + gone + ".17")));
  for (const std::string& kept : std::vector<std::string>{
           "a.cfg.vmtmp." + live + ".0", "b.cfg.vmtmp." + gone + ".0",
           std::string("a.cfg.vmtmp.x.0"), "a.cfg.vmtmp." + gone}) {
    EXPECT_TRUE(fs::exists(root_ / kept)) << kept;
  }
}

TEST_F(PosixFileSystemTest, ReplaceRespectsPermissions) {
  fs::permissions(root_, fs::perms::all);
  ASSERT_TRUE(disk_->WriteFile(Path("domain.cfg"), "old", nullptr));
  ASSERT_TRUE(disk_->WriteFile(Path("locked.cfg"), "old", nullptr));
  fs::permissions(root_ / "domain.cfg", fs::perms::all);
  fs::permissions(root_ / "locked.cfg", fs::perms::owner_read |
                                            fs::perms::group_read |
                                            fs::perms::others_read);
  // A read-only file in a writable directory is not replaced.
  EXPECT_EQ(RunUnprivileged([&] {
              return disk_->ReplaceContents(Path("locked.cfg"), "new", nullptr);
            }),
            0);
  EXPECT_EQ(Slurp(root_ / "locked.cfg"), "old");
  // A writable file in a read-only directory cannot get a temporary file
  // beside it: it is rewritten in place; a new file there cannot be made.
  fs::permissions(root_, fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_EQ(RunUnprivileged([&] {
              return disk_->ReplaceContents(Path("domain.cfg"), "new", nullptr)
                         ? 0
                         : 1;
            }),
            0);
  EXPECT_EQ(Slurp(root_ / "domain.cfg"), "new");
  EXPECT_EQ(RunUnprivileged([&] {
              return disk_->ReplaceContents(Path("new.cfg"), "new", nullptr);
            }),
            0);
  EXPECT_EQ(EntryCount(), 2u);
}

struct FileStat {
  uid_t uid;
  gid_t gid;
  mode_t mode;
  bool operator==(const FileStat&) const = default;
};

FileStat StatOf(const fs::path& path) {
  struct stat st = {};
  stat(path.c_str(), &st);
  return {st.st_uid, st.st_gid, st.st_mode & 07777};
}

// A save by root keeps the server's ownership of its files; a new file is
// as private as its siblings allow and belongs to the directory's owner.
TEST_F(PosixFileSystemTest, ReplaceKeepsOwnerAndNewFilesArePrivate) {
  if (geteuid() != 0) GTEST_SKIP() << "changing owners needs root";
  ASSERT_EQ(chown(root_.c_str(), 65534, 65534), 0);
  ASSERT_TRUE(disk_->ReplaceContents(Path("alone.cfg"), "new", nullptr));
  EXPECT_EQ(StatOf(root_ / "alone.cfg"), (FileStat{65534, 65534, 0600}));

  ASSERT_TRUE(disk_->WriteFile(Path("userauth.cfg"), "old", nullptr));
  ASSERT_EQ(chown((root_ / "userauth.cfg").c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod((root_ / "userauth.cfg").c_str(), 02640), 0);
  std::ofstream(root_ / "notes.txt") << "a different kind of file";
  chmod((root_ / "notes.txt").c_str(), 0644);
  ASSERT_TRUE(disk_->ReplaceContents(Path("userauth.cfg"), "new", nullptr));
  EXPECT_EQ(Slurp(root_ / "userauth.cfg"), "new");
  EXPECT_EQ(StatOf(root_ / "userauth.cfg"), (FileStat{65534, 65534, 02640}));

  ASSERT_EQ(chmod((root_ / "alone.cfg").c_str(), 0644), 0);
  ASSERT_TRUE(disk_->ReplaceContents(Path("domain.cfg"), "new", nullptr));
  EXPECT_EQ(StatOf(root_ / "domain.cfg"), (FileStat{65534, 65534, 0644}));
}

TEST_F(PosixFileSystemTest, ReplaceKeepsModeAndFollowsLinks) {
  ASSERT_TRUE(disk_->WriteFile(Path("real.cfg"), "old", nullptr));
  fs::permissions(root_ / "real.cfg",
                  fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink(root_ / "real.cfg", root_ / "link.cfg");
  ASSERT_TRUE(disk_->ReplaceContents(Path("link.cfg"), "new", nullptr));
  EXPECT_TRUE(fs::is_symlink(root_ / "link.cfg"));
  EXPECT_EQ(Slurp(root_ / "real.cfg"), "new");
  EXPECT_EQ(fs::status(root_ / "real.cfg").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(PosixFileSystemTest, CopyKeepsTimeAndCleansUpAfterFailure) {
  ASSERT_TRUE(
      disk_->WriteFile(Path("a.in"), std::string(100000, 'm'), nullptr));
  struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (root_ / "a.in").c_str(), times, 0), 0);
  ASSERT_EQ(disk_->CopyNew(Path("a.in"), Path("b.in"), nullptr),
            CopyResult::kCopied);
  int64_t seconds = 0;
  ASSERT_TRUE(disk_->ModifiedTime(Path("b.in"), &seconds));
  EXPECT_EQ(seconds, 1000000000);

  int status = RunInChild([&] {
    LimitFileSize(4096);
    return disk_->CopyNew(Path("a.in"), Path("c.in"), nullptr) ==
                   CopyResult::kFailed
               ? 0
               : 1;
  });
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(fs::exists(root_ / "c.in"));
}

TEST_F(PosixFileSystemTest, ListSeesDirectoriesThroughAnyCase) {
  fs::create_directories(root_ / "Mail" / "Bob");
  std::ofstream(root_ / "Mail" / "Bob" / "1.IN") << "abc";
  std::vector<DirEntry> entries;
  ASSERT_TRUE(disk_->List(Path("mail\\BOB\\*.in"), &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "1.IN");
  EXPECT_EQ(entries[0].path, Path("mail\\BOB\\1.IN"));
  EXPECT_EQ(entries[0].size, 3u);
}

TEST_F(PosixFileSystemTest, CaseResolutionSeesEntriesMadeByOthers) {
  ASSERT_TRUE(disk_->CreateDir(Path("Box")));
  ASSERT_TRUE(disk_->WriteFile(Path("box\\One.in"), "1", nullptr));
  EXPECT_TRUE(disk_->Exists(Path("BOX\\ONE.IN")));
  EXPECT_FALSE(disk_->Exists(Path("BOX\\TWO.IN")));
  // Another program adds a file; the directory's time moves on.
  struct timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (root_ / "Box").c_str(), old_times, 0), 0);
  EXPECT_FALSE(disk_->Exists(Path("BOX\\TWO.IN")));
  std::ofstream(root_ / "Box" / "Two.in") << "2";
  EXPECT_TRUE(disk_->Exists(Path("BOX\\TWO.IN")));
  EXPECT_EQ(disk_->CopyNew(Path("box\\One.in"), Path("box\\two.IN"), nullptr),
            CopyResult::kTargetExists);
}

TEST_F(PosixFileSystemTest, CaseResolutionAtEveryDepth) {
  fs::create_directories(root_ / "Mail" / "Bob" / "Inbox");
  std::ofstream(root_ / "Mail" / "Bob" / "Inbox" / "1.In") << "1";
  struct Case {
    const char* path;
    bool exists;
  } cases[] = {
      {"Mail\\Bob\\Inbox\\1.In", true},     {"Mail\\Bob\\Inbox\\1.IN", true},
      {"mail\\bob\\inbox\\1.in", true},     {"Mail\\BOB\\Inbox\\1.In", true},
      {"MAIL\\Bob\\Inbox", true},           {"Mail\\Bob\\Inbox\\2.in", false},
      {"Mail\\Bob\\Outbox\\1.In", false},   {"Mail\\Ann\\Inbox\\1.In", false},
      {"Mail\\Bob\\Inbox\\1.In\\x", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(disk_->Exists(Path(c.path)), c.exists) << c.path;
  }

  // A new file reached through differently cased directories lands in the
  // existing ones, and a second copy under another case is refused.
  ASSERT_EQ(disk_->CopyNew(Path("Mail\\Bob\\Inbox\\1.In"),
                           Path("MAIL\\bob\\INBOX\\New.in"), nullptr),
            CopyResult::kCopied);
  EXPECT_EQ(Slurp(root_ / "Mail" / "Bob" / "Inbox" / "New.in"), "1");
  EXPECT_EQ(disk_->CopyNew(Path("Mail\\Bob\\Inbox\\1.In"),
                           Path("Mail\\Bob\\Inbox\\NEW.IN"), nullptr),
            CopyResult::kTargetExists);
  ASSERT_TRUE(disk_->WriteFile(Path("mail\\BOB\\inbox\\3.IN"), "3", nullptr));
  EXPECT_EQ(Slurp(root_ / "Mail" / "Bob" / "Inbox" / "3.IN"), "3");
  EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(PosixFileSystemTest, CaseResolutionSurvivesManyDirectories) {
  // More directories than the resolver remembers, each searched once;
  // the first one, searched again and again, stays right throughout,
  // including for an entry another program adds to it at the end.
  ASSERT_TRUE(disk_->CreateDir(Path("Store")));
  for (int i = 0; i < 600; ++i) {
    std::string box = "store\\Box" + std::to_string(i);
    ASSERT_TRUE(disk_->CreateDir(Path(box)));
    ASSERT_TRUE(disk_->WriteFile(Path(box + "\\Mark"), "", nullptr));
    ASSERT_TRUE(
        disk_->Exists(Path("STORE\\BOX" + std::to_string(i) + "\\mark")))
        << i;
    ASSERT_TRUE(disk_->Exists(Path("STORE\\box0"))) << i;
  }
  EXPECT_EQ(
      static_cast<size_t>(std::distance(fs::directory_iterator(root_ / "Store"),
                                        fs::directory_iterator())),
      600u);
  struct timespec old_times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, (root_ / "Store").c_str(), old_times, 0), 0);
  std::ofstream(root_ / "Store" / "Late") << "x";
  EXPECT_TRUE(disk_->Exists(Path("STORE\\LATE")));
  EXPECT_FALSE(disk_->Exists(Path("STORE\\BOX600")));
}

class InterprocessLockTest : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir_ = fs::temp_directory_path() /
           ("vm_lock_test_" + std::to_string(random()));
    ASSERT_TRUE(fs::create_directory(dir_));
    setenv("VELQUOR_LOCK_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("VELQUOR_LOCK_DIR");
    fs::remove_all(dir_);
  }
  fs::path dir_;
};

TEST_F(InterprocessLockTest, HolderKilledReleasesLock) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t pid = fork();
  if (pid == 0) {
    std::unique_ptr<InterprocessLock> lock =
        OpenInterprocessLock("Tarnwick_test.cfg");
    if (lock == nullptr || !lock->Lock()) _exit(1);
    char c = 'L';
    if (write(ready[1], &c, 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  EXPECT_TRUE(fs::exists(dir_ / "Tarnwick_test.cfg"));
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  std::unique_ptr<InterprocessLock> lock =
      OpenInterprocessLock("Tarnwick_test.cfg");
  ASSERT_NE(lock, nullptr);
  EXPECT_TRUE(lock->Lock());  // would block for ever if still held
  lock->Unlock();
  close(ready[0]);
  close(ready[1]);
}

// Whether /proc/locks shows process `pid` waiting for an flock.
bool IsWaitingForLock(pid_t pid) {
  std::ifstream locks("/proc/locks");
  std::string line;
  std::string needle = " " + std::to_string(pid) + " ";
  while (std::getline(locks, line)) {
    if (line.find("-> FLOCK") != std::string::npos &&
        line.find(needle) != std::string::npos) {
      return true;
    }
  }
  return false;
}

TEST_F(InterprocessLockTest, ForkedChildIsExcludedByItsParent) {
  std::unique_ptr<InterprocessLock> lock =
      OpenInterprocessLock("Tarnwick_fork.cfg");
  ASSERT_NE(lock, nullptr);
  ASSERT_TRUE(lock->Lock());
  lock->Unlock();  // the descriptor is open before the fork, as in a run
  ASSERT_TRUE(lock->Lock());
  const fs::path mark = dir_ / "mark";
  pid_t child = fork();
  if (child == 0) {
    // Same object, inherited: it must still wait for the parent.
    if (!lock->Lock()) _exit(1);
    _exit(fs::exists(mark) ? 0 : 2);
  }
  for (int i = 0; i < 20000 && !IsWaitingForLock(child); ++i) usleep(1000);
  std::ofstream(mark) << "parent held the lock";
  lock->Unlock();
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(InterprocessLockTest, RefusesNamesOutsideTheLockDirectory) {
  EXPECT_EQ(OpenInterprocessLock("../escape"), nullptr);
  EXPECT_EQ(OpenInterprocessLock(""), nullptr);
}

}  // namespace
}  // namespace vm
