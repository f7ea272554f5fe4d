#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

#include "platform/file_error.h"
#include "platform/file_system.h"
#include "platform/interprocess_lock.h"
#include "testing/child_process.h"

namespace vm {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

// Makes writes beyond `bytes` fail with EFBIG instead of killing the
// process.
void LimitFileSize(rlim_t bytes) {
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = {bytes, bytes};
  setrlimit(RLIMIT_FSIZE, &limit);
}

void SetOldTime(const fs::path& path) {
  struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

class PosixFileSystemTest : public testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("vm_posix_fs_test_" + std::to_string(std::random_device()()));
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
  // Runs `body` in a child (so limits and identities stay there), without
  // root's power over permissions when `unprivileged`.
  int InChild(const std::function<int()>& body, bool unprivileged = false) {
    Child child([&](Child*) {
      if (unprivileged && geteuid() == 0 &&
          (setgid(65534) != 0 || setuid(65534) != 0)) {
        return 101;
      }
      return body();
    });
    return child.Wait();
  }

  fs::path root_;
  std::unique_ptr<FileSystem> disk_;
};

// Names are ANSI (GBK here) inside and UTF-8 on disk; a name that is not
// valid in the code page is refused, since replacing the bad byte would
// make two names one file.
TEST_F(PosixFileSystemTest, AnsiNamesAreUtf8OnDisk) {
  ASSERT_TRUE(disk_->WriteFile(Path("\xD3\xF2\xC3\xFB.cfg"), "x", nullptr));
  EXPECT_TRUE(fs::exists(root_ / "\xE5\x9F\x9F\xE5\x90\x8D.cfg"));
  EXPECT_TRUE(
      NewDiskFileSystem("UTF-8")->Exists(Path("\xE5\x9F\x9F\xE5\x90\x8D.cfg")));
  EXPECT_EQ(NewDiskFileSystem("NO-SUCH-CODE-PAGE"), nullptr);
  const std::string bad = Path("a\xFF.cfg");
  EXPECT_FALSE(disk_->WriteFile(bad, "1", nullptr));
  EXPECT_FALSE(disk_->ReplaceContents(Path("a\x81.cfg"), "2", nullptr));
  EXPECT_FALSE(disk_->CreateDir(bad, nullptr));
  std::vector<DirEntry> entries;
  EXPECT_FALSE(disk_->List(bad + "\\*", &entries));
  EXPECT_EQ(EntryCount(), 1u);
}

// Paths are shown with slashes, a backslash that is the second byte of a
// character kept; the probes of a dry run see what the run would meet and
// change nothing.
TEST_F(PosixFileSystemTest, ShownPathsAndProbes) {
  EXPECT_EQ(disk_->DisplayPath("C:\\a\\\x81\x5c\\b.in"), "C:/a/\x81\x5c/b.in");
  EXPECT_EQ(NewDiskFileSystem("UTF-8")->DisplayPath("a\\\x81\\b"), "a/\x81/b");
  // A record and a view name a relative path by where it leads from the
  // working folder: "." parts and doubled separators go, a ".." takes away
  // a folder before it but not a link (the kernel would follow the link),
  // and a backslash that is a GBK trail byte separates nothing.
  fs::create_directories(root_ / "w" / "d");
  fs::create_directory(root_ / "far");
  fs::create_directory_symlink(root_ / "far", root_ / "w" / "l");
  std::string here = root_.string() + "\\w";
  for (size_t i = 1; i < here.size(); ++i) {
    if (here[i] == '/') here[i] = '\\';
  }
  const std::pair<const char*, std::string> kAbsolute[] = {
      {"r.log", here + "\\r.log"},
      {".\\./r.log", here + "\\r.log"},
      {".", here},
      {"d/..\\d//./r.log", here + "\\d\\r.log"},
      {"..\\w\\d\\..", here},
      {"l/../r.log", here + "\\l\\..\\r.log"},
      {"nowhere\\..\\..\\r.log", here + "\\nowhere\\..\\..\\r.log"},
      {"a\x81\x5c/r.log", here + "\\a\x81\x5c\\r.log"},
      {"/x\\y", "/x\\y"},
      {"/../x//y/", "/x\\y"},
  };
  const int absolute = InChild([&] {
    if (chdir((root_ / "w").c_str()) != 0) return 100;
    // The number of the first row that is wrong.
    for (size_t i = 0; i < std::size(kAbsolute); ++i) {
      if (disk_->AbsolutePath(kAbsolute[i].first) != kAbsolute[i].second) {
        return static_cast<int>(i) + 1;
      }
    }
    return 0;
  });
  EXPECT_EQ(absolute, 0);
  fs::remove_all(root_ / "w");
  fs::remove_all(root_ / "far");
  fs::create_directory(root_ / "ro");
  fs::create_directory(root_ / "rw");
  ASSERT_TRUE(disk_->WriteFile(Path("rw\\secret.in"), "x", nullptr));
  ASSERT_TRUE(disk_->WriteFile(Path("rw\\open.in"), "x", nullptr));
  fs::permissions(root_ / "ro", fs::perms(0555));
  fs::permissions(root_ / "rw", fs::perms(0777));
  fs::permissions(root_ / "rw" / "secret.in", fs::perms::none);
  fs::permissions(root_ / "rw" / "open.in", fs::perms(0644));
  const int seen = InChild(
      [&] {
        return (disk_->CanWrite(Path("ro")) ? 1 : 0) |
               (disk_->CanWrite(Path("rw")) ? 2 : 0) |
               (disk_->CanRead(Path("rw\\secret.in")) ? 4 : 0) |
               (disk_->CanRead(Path("rw\\open.in")) ? 8 : 0) |
               (disk_->CanRead(Path("rw")) ? 16 : 0) |
               (disk_->CanWrite(Path("rw\\open.in")) ? 32 : 0);
      },
      true);
  EXPECT_EQ(seen, 2 | 8);
  EXPECT_EQ(EntryCount(), 2u);
  EXPECT_EQ(std::distance(fs::directory_iterator(root_ / "rw"),
                          fs::directory_iterator()),
            2);
}

// Writes that a file size limit cuts short fail and leave nothing behind:
// a replace keeps the old file, a copy removes its part.
TEST_F(PosixFileSystemTest, WritesCutShortFailAndLeaveNothingBehind) {
  const std::string old_text(1000, 'o');
  ASSERT_TRUE(disk_->WriteFile(Path("userauth.cfg"), old_text, nullptr));
  ASSERT_TRUE(
      disk_->WriteFile(Path("a.in"), std::string(100000, 'm'), nullptr));
  EXPECT_EQ(InChild([&] {
              LimitFileSize(4096);
              std::string error;
              const std::string big(10000, 'n');
              return disk_->ReplaceContents(Path("userauth.cfg"), big,
                                            &error) ||
                     error.empty() ||
                     disk_->WriteFile(Path("other.cfg"), big, nullptr) ||
                     disk_->CopyNew(Path("a.in"), Path("c.in"), nullptr) !=
                         CopyResult::kFailed;
            }),
            0);
  EXPECT_EQ(Slurp(root_ / "userauth.cfg"), old_text);
  EXPECT_FALSE(fs::exists(root_ / "c.in"));
  EXPECT_EQ(EntryCount(), 3u);  // userauth.cfg, a.in, the cut other.cfg
  // A copy keeps the message's time.
  SetOldTime(root_ / "a.in");
  ASSERT_EQ(disk_->CopyNew(Path("a.in"), Path("b.in"), nullptr),
            CopyResult::kCopied);
  int64_t seconds = 0;
  ASSERT_TRUE(disk_->ModifiedTime(Path("b.in"), &seconds));
  EXPECT_EQ(seconds, 1000000000);
  // Rewritten in place (no temporary file can be made in the directory), a
  // text past the limit fails before a byte of the file is overwritten.
  ASSERT_TRUE(disk_->WriteFile(Path("domain.cfg"), old_text, nullptr));
  fs::permissions(root_ / "domain.cfg", fs::perms::all);
  fs::permissions(root_, fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_EQ(InChild(
                [&] {
                  LimitFileSize(4096);
                  return disk_->ReplaceContents(
                      Path("domain.cfg"), std::string(10000, 'n'), nullptr);
                },
                true),
            0);
  EXPECT_EQ(Slurp(root_ / "domain.cfg"), old_text);
}

// A copy killed part way (here by the signal of a file size limit) leaves
// nothing under its name; a symbolic link in the target is no directory to
// make or to copy into.
TEST_F(PosixFileSystemTest, CopiesNeitherLeaveCutFilesNorFollowTargetLinks) {
  ASSERT_TRUE(
      disk_->WriteFile(Path("a.in"), std::string(100000, 'm'), nullptr));
  EXPECT_EQ(InChild([&] {
              const struct rlimit none = {0, 0}, small = {4096, 4096};
              setrlimit(RLIMIT_CORE, &none);
              setrlimit(RLIMIT_FSIZE, &small);
              signal(SIGXFSZ, SIG_DFL);
              disk_->CopyNew(Path("a.in"), Path("c.in"), nullptr);
              return 0;
            }),
            -1);
  EXPECT_FALSE(fs::exists(root_ / "c.in"));
  fs::create_directory(root_ / "elsewhere");
  fs::create_directory_symlink(root_ / "elsewhere", root_ / "INBOX");
  EXPECT_FALSE(disk_->CreateDir(Path("INBOX"), nullptr));
  EXPECT_EQ(disk_->CopyNew(Path("a.in"), Path("INBOX\\a.in"), nullptr),
            CopyResult::kFailed);
  EXPECT_TRUE(fs::is_empty(root_ / "elsewhere"));
}

// A message that is a symbolic link is never copied, whichever kind of
// copy reads it and whatever it leads to (here a regular file): each
// fails as one on a link and makes nothing, on the disk and through a
// view confined to the target.
TEST_F(PosixFileSystemTest, CopiesRefuseASourceThatIsALink) {
  fs::create_directories(root_ / "src");
  fs::create_directories(root_ / "T" / "box");
  std::ofstream(root_ / "secret") << "not a message";
  fs::create_symlink(root_ / "secret", root_ / "src" / "1.in");
  std::unique_ptr<FileSystem> view = disk_->Confined({Path("T")}, nullptr);
  ASSERT_NE(view, nullptr);
  const struct {
    const char* name;
    std::function<CopyResult(FileSystem*, const std::string&,
                             const std::string&, std::string*)>
        copy;
  } kCopies[] = {
      {"CopyNew",
       [](FileSystem* fs, const std::string& from, const std::string& to,
          std::string* e) { return fs->CopyNew(from, to, e); }},
      {"CopyNewRecorded",
       [](FileSystem* fs, const std::string& from, const std::string& to,
          std::string* e) {
         CopiedFile copied;
         return fs->CopyNewRecorded(from, to, e, &copied);
       }},
      {"CopyStaged",
       [](FileSystem* fs, const std::string& from, const std::string& to,
          std::string* e) {
         CopiedFile copied;
         return fs->CopyStaged(from, to, e, &copied);
       }},
  };
  for (FileSystem* fs : {disk_.get(), view.get()}) {
    for (const auto& c : kCopies) {
      std::string error;
      EXPECT_EQ(c.copy(fs, Path("src\\1.in"), Path("T\\box\\1.in"), &error),
                CopyResult::kFailed)
          << c.name;
      EXPECT_EQ(ParseFileError(error).kind, FileErrorKind::kIsLink)
          << c.name << ": " << error;
      EXPECT_TRUE(fs::is_empty(root_ / "T" / "box")) << c.name;
    }
  }
}

// A replace cut short by a kill leaves its temporary file; the next
// replace of the same file removes those of processes that are gone and
// leaves everything else alone.
TEST_F(PosixFileSystemTest, ReplaceRemovesTemporariesOfDeadProcesses) {
  Child dead([](Child*) { return 0; });
  const std::string gone = std::to_string(dead.pid());
  dead.Wait();
  const std::string live = std::to_string(getppid());
  const std::vector<std::string> removed = {"a.cfg.vmtmp." + gone + ".0",
                                            "a.cfg.vmtmp." + gone + ".17"};
  const std::vector<std::string> kept = {
      "a.cfg.vmtmp." + live + ".0", "b.cfg.vmtmp." + gone + ".0",
      "a.cfg.vmtmp.x.0", "a.cfg.vmtmp." + gone};
  for (const auto* names : {&removed, &kept}) {
    for (const std::string& name : *names) std::ofstream(root_ / name) << "x";
  }
  ASSERT_TRUE(disk_->ReplaceContents(Path("a.cfg"), "new", nullptr));
  EXPECT_EQ(Slurp(root_ / "a.cfg"), "new");
  for (const std::string& name : removed)
    EXPECT_FALSE(fs::exists(root_ / name));
  for (const std::string& name : kept) EXPECT_TRUE(fs::exists(root_ / name));
}

TEST_F(PosixFileSystemTest, ReplaceRespectsPermissionsModeAndLinks) {
  fs::permissions(root_, fs::perms::all);
  ASSERT_TRUE(disk_->WriteFile(Path("domain.cfg"), "old", nullptr));
  ASSERT_TRUE(disk_->WriteFile(Path("locked.cfg"), "old", nullptr));
  fs::permissions(root_ / "domain.cfg", fs::perms::all);
  fs::permissions(root_ / "locked.cfg", fs::perms::owner_read |
                                            fs::perms::group_read |
                                            fs::perms::others_read);
  // A read-only file in a writable directory is not replaced.
  auto replace = [&](const char* name) {
    return disk_->ReplaceContents(Path(name), "new", nullptr);
  };
  EXPECT_EQ(InChild([&] { return replace("locked.cfg"); }, true), 0);
  EXPECT_EQ(Slurp(root_ / "locked.cfg"), "old");
  // A writable file in a read-only directory cannot get a temporary file
  // beside it: it is rewritten in place; a new file there cannot be made.
  fs::permissions(root_, fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_EQ(InChild([&] { return !replace("domain.cfg"); }, true), 0);
  EXPECT_EQ(Slurp(root_ / "domain.cfg"), "new");
  EXPECT_EQ(InChild([&] { return replace("new.cfg"); }, true), 0);
  EXPECT_EQ(EntryCount(), 2u);
  // Through a link, the file linked to gets the new text and keeps its mode.
  fs::permissions(root_ / "domain.cfg",
                  fs::perms::owner_read | fs::perms::owner_write);
  fs::create_symlink(root_ / "domain.cfg", root_ / "link.cfg");
  ASSERT_TRUE(replace("link.cfg"));
  EXPECT_TRUE(fs::is_symlink(root_ / "link.cfg"));
  EXPECT_EQ(Slurp(root_ / "domain.cfg"), "new");
  EXPECT_EQ(fs::status(root_ / "domain.cfg").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
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

// The tests of resolving names without case run on the disk and on a view
// confined to their folder, which resolves each component from its
// folder's handle.
class PosixCaseTest : public PosixFileSystemTest,
                      public testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    PosixFileSystemTest::SetUp();
    if (!GetParam()) return;
    whole_ = std::move(disk_);
    disk_ = whole_->Confined({root_.string()}, nullptr);
    ASSERT_NE(disk_, nullptr);
  }
  void TearDown() override {
    disk_.reset();  // the view before what it is a view of
    PosixFileSystemTest::TearDown();
  }
  std::unique_ptr<FileSystem> whole_;
};
INSTANTIATE_TEST_SUITE_P(DiskAndView, PosixCaseTest, testing::Bool());

// Windows names compare without case: every component of a path finds the
// entry whatever its case, also one another program made meanwhile, and a
// new file lands in the existing directories.
TEST_P(PosixCaseTest, CaseResolutionAtEveryDepth) {
  fs::create_directories(root_ / "Mail" / "Bob" / "Inbox");
  std::ofstream(root_ / "Mail" / "Bob" / "Inbox" / "1.In") << "1";
  const struct {
    const char* path;
    bool exists;
  } kCases[] = {
      {"mail\\bob\\inbox\\1.in", true},     {"MAIL\\Bob\\Inbox", true},
      {"Mail\\Bob\\Inbox\\2.in", false},    {"Mail\\Bob\\Outbox\\1.In", false},
      {"Mail\\Bob\\Inbox\\1.In\\x", false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(disk_->Exists(Path(c.path)), c.exists) << c.path;
  }
  std::vector<DirEntry> entries;
  ASSERT_TRUE(disk_->List(Path("mail\\BOB\\inbox\\*.in"), &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].path, Path("mail\\BOB\\inbox\\1.In"));
  ASSERT_EQ(disk_->CopyNew(Path("Mail\\Bob\\Inbox\\1.In"),
                           Path("MAIL\\bob\\INBOX\\New.in"), nullptr),
            CopyResult::kCopied);
  EXPECT_EQ(Slurp(root_ / "Mail" / "Bob" / "Inbox" / "New.in"), "1");
  EXPECT_EQ(disk_->CopyNew(Path("Mail\\Bob\\Inbox\\1.In"),
                           Path("Mail\\Bob\\Inbox\\NEW.IN"), nullptr),
            CopyResult::kTargetExists);
  EXPECT_EQ(EntryCount(), 1u);
  SetOldTime(root_ / "Mail" / "Bob" / "Inbox");
  EXPECT_FALSE(disk_->Exists(Path("MAIL\\BOB\\INBOX\\TWO.IN")));
  std::ofstream(root_ / "Mail" / "Bob" / "Inbox" / "Two.in") << "2";
  EXPECT_TRUE(disk_->Exists(Path("MAIL\\BOB\\INBOX\\TWO.IN")));
  // Where both spellings exist, the exact one is written, not the first
  // of the folded ones.
  const fs::path box = root_ / "Mail" / "Bob";
  std::ofstream(box / "Mark") << "1";
  std::ofstream(box / "mark") << "2";
  ASSERT_TRUE(disk_->WriteFile(Path("Mail\\Bob\\mark"), "new", nullptr));
  EXPECT_EQ(Slurp(box / "Mark"), "1");
  EXPECT_EQ(Slurp(box / "mark"), "new");
}

// A copy has the source's permission bits whatever the umask, which may
// take away some of them or none.
TEST_F(PosixFileSystemTest, CopiesKeepTheModeWhateverTheUmask) {
  const mode_t kModes[] = {0600, 0644, 0666, 0751, 0};
  const int wrong = InChild([&] {
    int mismatches = 0;
    for (mode_t mask : {mode_t{022}, mode_t{077}, mode_t{0}}) {
      umask(mask);
      std::unique_ptr<FileSystem> disk = NewDiskFileSystem();
      for (mode_t mode : kModes) {
        const std::string tag =
            std::to_string(mask) + "_" + std::to_string(mode);
        std::ofstream(root_ / (tag + ".in")) << tag;
        chmod((root_ / (tag + ".in")).c_str(), mode);
        if (disk->CopyNew(Path(tag + ".in"), Path(tag + ".out"), nullptr) !=
                CopyResult::kCopied ||
            StatOf(root_ / (tag + ".out")).mode != mode) {
          ++mismatches;
        }
      }
    }
    return mismatches;
  });
  EXPECT_EQ(wrong, 0);
}

// A folder's status moves when an entry is made in it, and keeps its
// identity; a link has no status of its own and is not followed.
TEST_P(PosixCaseTest, StatusOfAFolderMovesWithItsEntries) {
  fs::create_directory(root_ / "Box");
  fs::last_write_time(root_ / "Box", fs::file_time_type{});
  EntryStatus before, after, file;
  ASSERT_TRUE(disk_->StatusOf(Path("box"), &before));
  EXPECT_TRUE(before.is_directory);
  std::ofstream(root_ / "Box" / "1.in") << "one";
  ASSERT_TRUE(disk_->StatusOf(Path("BOX"), &after));
  EXPECT_EQ(after.id, before.id);
  EXPECT_NE(after.modified, before.modified);
  ASSERT_TRUE(disk_->StatusOf(Path("Box\\1.in"), &file));
  EXPECT_FALSE(file.is_directory);
  EXPECT_EQ(file.size, 3u);
  fs::create_directory_symlink(root_ / "Box", root_ / "Link");
  EXPECT_FALSE(disk_->StatusOf(Path("Link"), &file));
  // The view does not follow a link on the way either.
  if (GetParam()) {
    EXPECT_FALSE(disk_->StatusOf(Path("Link\\1.in"), &file));
  }
  EXPECT_FALSE(disk_->StatusOf(Path("none"), &file));
}

TEST_P(PosixCaseTest, CaseResolutionSurvivesManyDirectories) {
  // More directories than the resolver remembers, each searched once;
  // the first one, searched again and again, stays right throughout,
  // including for an entry another program adds to it at the end.
  ASSERT_TRUE(disk_->CreateDir(Path("Store"), nullptr));
  for (int i = 0; i < 600; ++i) {
    std::string box = "store\\Box" + std::to_string(i);
    ASSERT_TRUE(disk_->CreateDir(Path(box), nullptr));
    ASSERT_TRUE(disk_->WriteFile(Path(box + "\\Mark"), "", nullptr));
    ASSERT_TRUE(
        disk_->Exists(Path("STORE\\BOX" + std::to_string(i) + "\\mark")))
        << i;
    ASSERT_TRUE(disk_->Exists(Path("STORE\\box0"))) << i;
  }
  SetOldTime(root_ / "Store");
  std::ofstream(root_ / "Store" / "Late") << "x";
  EXPECT_TRUE(disk_->Exists(Path("STORE\\LATE")));
  EXPECT_FALSE(disk_->Exists(Path("STORE\\BOX600")));
}

// A run forks nothing, but a lock object inherited by a child must still
// exclude it while the parent holds the lock.
TEST(InterprocessLockTest, ForkedChildIsExcludedByItsParent) {
  const fs::path dir =
      fs::temp_directory_path() /
      ("vm_lock_test_" + std::to_string(std::random_device()()));
  ASSERT_TRUE(fs::create_directory(dir));
  setenv("VELQUOR_LOCK_DIR", dir.c_str(), 1);
  EXPECT_EQ(OpenInterprocessLock("../escape"), nullptr);
  std::unique_ptr<InterprocessLock> lock =
      OpenInterprocessLock("Tarnwick_fork.cfg");
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(lock->where(), (dir / "Tarnwick_fork.cfg").string());
  ASSERT_EQ(lock->LockWithin(0), LockResult::kLocked);
  lock->Unlock();  // the descriptor is open before the fork, as in a run
  ASSERT_EQ(lock->LockWithin(0), LockResult::kLocked);
  Child child([&](Child* self) {
    if (lock->LockWithin(0) != LockResult::kBusy) return 1;
    self->Ready();
    return lock->LockWithin(20000) == LockResult::kLocked ? 0 : 2;
  });
  ASSERT_TRUE(child.WaitReady());
  lock->Unlock();
  EXPECT_EQ(child.Wait(), 0);
  unsetenv("VELQUOR_LOCK_DIR");
  fs::remove_all(dir);
}

// Without VELQUOR_LOCK_DIR the locks lie in a folder of the user's own,
// made private, never in one another user made or may write: nobody else
// can then keep the run waiting. Run as "nobody", from root.
TEST(InterprocessLockTest, DefaultFolderIsTheUsersOwn) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  constexpr uid_t kNobody = 65534;
  struct stat st;
  const fs::path dir =
      (stat("/run/lock", &st) == 0 && S_ISDIR(st.st_mode) ? "/run/lock/"
                                                          : "/tmp/") +
      std::string("velquor-migrate-65534");
  const fs::path real = dir.string() + ".real";
  auto owned_by_nobody = [&](const fs::path& path, mode_t mode) {
    fs::create_directory(path);
    ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
  };
  const struct {
    const char* name;
    std::function<void()> plant;
    bool usable;
  } kCases[] = {
      {"absent", [] {}, true},
      {"made by root", [&] { fs::create_directory(dir); }, false},
      {"others may write it", [&] { owned_by_nobody(dir, 0777); }, false},
      {"a link to a folder of the user",
       [&] {
         owned_by_nobody(real, 0700);
         fs::create_directory_symlink(real, dir);
       },
       false},
  };
  unsetenv("VELQUOR_LOCK_DIR");
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir);
    fs::remove_all(real);
    c.plant();
    Child child([&](Child*) {
      if (setgid(kNobody) != 0 || setuid(kNobody) != 0) return 101;
      std::string error;
      auto lock = OpenInterprocessLock("Tarnwick_owner.cfg", &error);
      if (!c.usable) {
        return lock == nullptr &&
                       error.find("not a folder of this user's own") !=
                           std::string::npos
                   ? 0
                   : 1;
      }
      struct stat made;
      return lock != nullptr &&
                     lock->where() == (dir / "Tarnwick_owner.cfg").string() &&
                     lstat(dir.c_str(), &made) == 0 && S_ISDIR(made.st_mode) &&
                     made.st_uid == kNobody && (made.st_mode & 077) == 0
                 ? 0
                 : 2;
    });
    EXPECT_EQ(child.Wait(), 0);
  }
  fs::remove_all(dir);
  fs::remove_all(real);
}

// Every kind of link leads to what it names; a file made through a link
// that leads nowhere yet appears where the link points; ".." after a link
// climbs from where the link leads.
TEST_F(PosixFileSystemTest, LocateFollowsLinks) {
  ASSERT_TRUE(fs::create_directory(root_ / "data"));
  ASSERT_TRUE(fs::create_directory(root_ / "elsewhere"));
  std::ofstream(root_ / "data" / "user.cfg") << "x";
  fs::create_hard_link(root_ / "data" / "user.cfg", root_ / "hard");
  fs::create_symlink(root_ / "data" / "user.cfg", root_ / "soft");
  fs::create_symlink(root_ / "data" / "new.cfg", root_ / "dangling");
  fs::create_directory_symlink(root_ / "data", root_ / "elsewhere" / "dir");
  FileLocation file, data, hard, soft, dangling, through, climbed;
  ASSERT_TRUE(disk_->Locate(Path("data\\user.cfg"), &file));
  ASSERT_TRUE(disk_->Locate(Path("data"), &data));
  ASSERT_TRUE(disk_->Locate(Path("hard"), &hard));
  ASSERT_TRUE(disk_->Locate(Path("soft"), &soft));
  ASSERT_TRUE(disk_->Locate(Path("dangling"), &dangling));
  ASSERT_TRUE(disk_->Locate(Path("elsewhere\\dir\\a.log"), &through));
  ASSERT_TRUE(disk_->Locate(Path("elsewhere\\dir\\..\\b.log"), &climbed));
  EXPECT_TRUE(hard.Is(file.chain.front()));
  EXPECT_TRUE(soft.Is(file.chain.front()));
  EXPECT_FALSE(dangling.exists);
  EXPECT_TRUE(dangling.IsWithin(data.chain.front()));
  EXPECT_TRUE(through.IsWithin(data.chain.front()));
  EXPECT_FALSE(climbed.IsWithin(data.chain.front()));
}

}  // namespace
}  // namespace vm
