#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "platform/file_error.h"
#include "platform/file_system.h"
#include "testing/child_process.h"

namespace vm {
namespace {

namespace fs = std::filesystem;

// Every file and folder below `dir`, with the bytes of each file and the
// target of each link: what an operation that escaped would change.
std::map<std::string, std::string> Snapshot(const fs::path& dir) {
  std::map<std::string, std::string> seen;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    const std::string name = fs::relative(entry.path(), dir).string();
    if (entry.is_symlink()) {
      seen[name] = "-> " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_directory()) {
      seen[name] = "dir";
    } else {
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream bytes;
      bytes << in.rdbuf();
      seen[name] = bytes.str();
    }
  }
  return seen;
}

// Busy for `n` steps: a pause of some length, never a timing.
void Spin(unsigned n) {
  std::atomic<unsigned> left{n};
  while (left.load(std::memory_order_relaxed) > 0) {
    left.fetch_sub(1, std::memory_order_relaxed);
  }
}

// Makes this process's openat2 fail as on a kernel without it, so that
// paths are resolved by the walk of one open per component.
bool RefuseOpenat2() {
  struct sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat2, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  struct sock_fprog program = {4, filter};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// A target T (the data or output folder) with its mail store T/store, a
// message source outside it, and a folder `outside` that no operation on
// the target may reach.
// Each test runs with openat2 and, in a child process, without it.
class ConfinedViewTest : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("vm_confined_test_" + std::to_string(std::random_device()()));
    for (const char* dir :
         {"T/store/bob/INBOX", "T/store/.stage/INBOX", "T/velquor-migrate-runs",
          "outside/empty", "outside/sub", "source"}) {
      fs::create_directories(root_ / dir);
    }
    Put("outside/a.txt", "victim");
    Put("outside/sub/b.txt", "victim too");
    Put("source/m.eml", "message");
    Put("T/store/bob/INBOX/1.eml", "one");
    disk_ = NewDiskFileSystem();
    outside_before_ = Snapshot(root_ / "outside");
  }
  void TearDown() override { fs::remove_all(root_); }

  void Run(const std::function<void()>& body) {
    if (!GetParam()) return body();
    Child child([&](Child*) {
      if (!RefuseOpenat2()) return 2;
      body();
      return HasFailure() ? 1 : 0;
    });
    EXPECT_EQ(child.Wait(), 0);
  }

  void Put(const std::string& relative, const std::string& bytes) {
    std::ofstream(root_ / relative, std::ios::binary) << bytes;
  }
  // The core's spelling of a path below the test's folder.
  std::string Path(const std::string& relative) const {
    std::string path = root_.string() + "\\" + relative;
    for (char& c : path) c = c == '/' ? '\\' : c;
    return path;
  }
  std::unique_ptr<FileSystem> View(std::string* error = nullptr) {
    return disk_->Confined({Path("T"), Path("T/store")}, error);
  }
  void ExpectOutsideUnchanged() {
    EXPECT_EQ(Snapshot(root_ / "outside"), outside_before_);
  }

  fs::path root_;
  std::unique_ptr<FileSystem> disk_;
  std::map<std::string, std::string> outside_before_;
};

// One operation that would act at `path` (a link, or a path through one);
// it returns its error text, empty when it succeeded.
struct Operation {
  const char* name;
  const char* child;  // what it acts on below a link to a folder
  std::function<std::string(FileSystem*, const std::string& path,
                            const std::string& source)>
      run;
};

std::string Failed(bool ok, const std::string& error) {
  return ok ? std::string() : error.empty() ? "failed, no reason" : error;
}

const Operation kOperations[] = {
    {"RemoveFile", "a.txt",
     [](FileSystem* fs, const std::string& p, const std::string&) {
       std::string e;
       return Failed(fs->RemoveFile(p, &e), e);
     }},
    {"RemoveEmptyDir", "empty",
     [](FileSystem* fs, const std::string& p, const std::string&) {
       std::string e;
       return Failed(fs->RemoveEmptyDir(p, &e), e);
     }},
    {"MakeDir", "new",
     [](FileSystem* fs, const std::string& p, const std::string&) {
       std::string e;
       return Failed(fs->MakeDir(p, &e) != DirMade::kFailed, e);
     }},
    {"WriteFile", "a.txt",
     [](FileSystem* fs, const std::string& p, const std::string&) {
       std::string e;
       return Failed(fs->WriteFile(p, "x", &e), e);
     }},
    {"AppendFile", "a.txt",
     [](FileSystem* fs, const std::string& p, const std::string&) {
       std::string e;
       return Failed(fs->AppendFile(p, "x", &e), e);
     }},
    {"OpenAppending", "a.txt",
     [](FileSystem* fs, const std::string& p, const std::string&) {
       std::string e;
       std::unique_ptr<AppendingFile> file = fs->OpenAppending(p, &e);
       return Failed(file != nullptr && file->Append("x", &e), e);
     }},
    {"ReplaceContents", "a.txt",
     [](FileSystem* fs, const std::string& p, const std::string&) {
       std::string e;
       return Failed(fs->ReplaceContents(p, "x", &e), e);
     }},
    {"ReadFile", "a.txt",
     [](FileSystem* fs, const std::string& p, const std::string&) {
       std::string e, bytes;
       return Failed(fs->ReadFile(p, &bytes, &e), e);
     }},
    {"CopyNewRecorded", "new.eml",
     [](FileSystem* fs, const std::string& p, const std::string& source) {
       std::string e;
       CopiedFile copied;
       return Failed(
           fs->CopyNewRecorded(source, p, &e, &copied) == CopyResult::kCopied,
           e);
     }},
    {"CopyStaged", "new.eml",
     [](FileSystem* fs, const std::string& p, const std::string& source) {
       std::string e;
       return Failed(
           fs->CopyStaged(source, p, &e, nullptr) == CopyResult::kCopied, e);
     }},
    {"PublishDir from", "empty",
     [](FileSystem* fs, const std::string& p, const std::string& source) {
       std::string e;
       const std::string to =
           source.substr(0, source.rfind("\\source")) + "\\T\\store\\published";
       return Failed(fs->PublishDir(p, to, &e) == PublishResult::kPublished, e);
     }},
    {"RenameNew from", "a.txt",
     [](FileSystem* fs, const std::string& p, const std::string& source) {
       std::string e;
       const std::string to =
           source.substr(0, source.rfind("\\source")) + "\\T\\held.eml";
       return Failed(fs->RenameNew(p, to, &e) == PublishResult::kPublished, e);
     }},
    {"PublishDir to", "new",
     [](FileSystem* fs, const std::string& p, const std::string& source) {
       std::string e;
       const std::string from =
           source.substr(0, source.rfind("\\source")) + "\\T\\store\\.stage";
       return Failed(fs->PublishDir(from, p, &e) == PublishResult::kPublished,
                     e);
     }},
};

// A link planted anywhere in the target is never followed, removed,
// renamed or replaced, whatever acts at it or through it: each operation
// fails as one on a link, and nothing outside changes.
TEST_P(ConfinedViewTest, LinksInTheTargetAreNeverFollowed) {
  Run([&] {
    const struct {
      const char* link;  // below T
      bool to_file;      // a link to outside/a.txt, else to outside
    } kPlacements[] = {
        {"store/bob", false},                       // a mailbox
        {"store/.vmtmp.stage.ann", false},          // a staging folder
        {"store/bob/Sent", false},                  // a folder in a mailbox
        {"store/bob/INBOX/2.eml", true},            // a message
        {"velquor-migrate.lock", true},             // the run lock
        {"velquor-migrate-runs/1.manifest", true},  // a record
    };
    const std::string source = Path("source/m.eml");
    for (const auto& placement : kPlacements) {
      const fs::path link = root_ / "T" / placement.link;
      fs::create_directories(link.parent_path());
      fs::remove_all(link);
      fs::create_symlink(
          root_ / (placement.to_file ? "outside/a.txt" : "outside"), link);
      std::unique_ptr<FileSystem> view = View();
      ASSERT_NE(view, nullptr);
      const std::string at = Path(std::string("T/") + placement.link);
      for (const Operation& op : kOperations) {
        for (const std::string& path : {at, at + "\\" + op.child}) {
          SCOPED_TRACE(std::string(op.name) + " " + path);
          const std::string error = op.run(view.get(), path, source);
          EXPECT_EQ(ParseFileError(error).kind, FileErrorKind::kIsLink)
              << error;
        }
      }
      EXPECT_FALSE(view->Exists(at + "\\a.txt"));
      std::vector<DirEntry> entries;
      EXPECT_FALSE(view->List(at + "\\*", &entries));
      EXPECT_FALSE(view->ListNames(at + "\\*", &entries));
      EXPECT_TRUE(fs::is_symlink(link)) << placement.link;
      ExpectOutsideUnchanged();
      fs::remove(link);
    }
  });
}

// A record held open for appending goes on into the file it opened: its
// folder moved away and a link to outside planted in its place gets none
// of it.
TEST_P(ConfinedViewTest, AnOpenRecordIsWrittenWhereverItWasMoved) {
  Run([&] {
    fs::create_directories(root_ / "T/velquor-migrate-runs");
    std::unique_ptr<FileSystem> view = View();
    ASSERT_NE(view, nullptr);
    const std::string path = Path("T/velquor-migrate-runs/1.manifest");
    ASSERT_TRUE(view->ReplaceContents(path, "a\n", nullptr));
    std::unique_ptr<AppendingFile> file = view->OpenAppending(path, nullptr);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->Append("b\n", nullptr));
    fs::rename(root_ / "T/velquor-migrate-runs", root_ / "T/moved");
    fs::create_directory_symlink(root_ / "outside",
                                 root_ / "T/velquor-migrate-runs");
    EXPECT_TRUE(file->Append("c\n", nullptr));
    EXPECT_EQ(Snapshot(root_ / "T/moved")["1.manifest"], "a\nb\nc\n");
    ExpectOutsideUnchanged();
  });
}

// The store itself may not be a link (a root's own name is never
// followed), nor may a path climb out of a root; a folder of the target
// given as a path of its own, or a root that is missing, reaches nothing
// outside either.
TEST_P(ConfinedViewTest, RootsAreOpenedAsNamedAndNeverLeft) {
  Run([&] {
    fs::remove_all(root_ / "T/store");
    fs::create_directory_symlink(root_ / "outside", root_ / "T/store");
    std::string error;
    EXPECT_EQ(View(&error), nullptr);
    EXPECT_EQ(ParseFileError(error).kind, FileErrorKind::kIsLink) << error;
    std::unique_ptr<FileSystem> data = disk_->Confined({Path("T")}, &error);
    ASSERT_NE(data, nullptr);
    EXPECT_FALSE(data->RemoveFile(Path("T/store/a.txt"), &error));
    EXPECT_EQ(ParseFileError(error).kind, FileErrorKind::kIsLink);

    // A store not made yet holds nothing until it is made.
    fs::remove(root_ / "T/store");
    std::unique_ptr<FileSystem> view = View();
    ASSERT_NE(view, nullptr);
    EXPECT_FALSE(view->Exists(Path("T/store")));
    EXPECT_FALSE(view->CreateDir(Path("T/store/bob"), nullptr));
    EXPECT_EQ(view->MakeDir(Path("T/store"), nullptr), DirMade::kMade);
    EXPECT_TRUE(view->CreateDir(Path("T/store/bob"), nullptr));
    // A root locates as itself, the folder that holds what lies below it.
    FileLocation store, bob;
    ASSERT_TRUE(view->Locate(Path("T/store"), &store));
    ASSERT_TRUE(view->Locate(Path("T/store/bob"), &bob));
    EXPECT_TRUE(store.exists);
    EXPECT_TRUE(bob.IsWithin(store.chain.front()));
    EXPECT_TRUE(fs::is_directory(root_ / "T/store/bob"));
    const std::string absolute = Path("T/store") + "\\" + Path("outside/a.txt");
    for (const std::string& path : {Path("T/store/../../outside/a.txt"),
                                    Path("T/../outside/a.txt"), absolute}) {
      view->RemoveFile(path, nullptr);
      EXPECT_FALSE(view->WriteFile(path, "x", nullptr)) << path;
    }
    ExpectOutsideUnchanged();
  });
}

// Resolving beneath a root keeps the server's rule for names: a component
// in another letter case is the entry there; a double-byte name is found
// whether it is stored in UTF-8 or in the code page's own bytes.
TEST_P(ConfinedViewTest, NamesBeneathARootIgnoreCase) {
  Run([&] {
    fs::create_directories(root_ / "T/store/bob/\xE9\x82\xAE\xE4\xBB\xB6");
    fs::create_directories(root_ / "T/store/bob/\xC4\xE3\xBA\xC3");
    std::unique_ptr<FileSystem> view = View();
    ASSERT_NE(view, nullptr);
    std::string bytes;
    EXPECT_TRUE(
        view->ReadFile(Path("T/STORE/Bob/inbox/1.EML"), &bytes, nullptr));
    EXPECT_EQ(bytes, "one");
    EXPECT_EQ(view->CopyNew(Path("source/m.eml"),
                            Path("T/Store/BOB/Inbox/1.Eml"), nullptr),
              CopyResult::kTargetExists);
    EXPECT_EQ(
        view->CopyNew(Path("source/m.eml"),
                      Path("T/store/BOB/\xD3\xCA\xBC\xFE/m.eml"), nullptr),
        CopyResult::kCopied);
    EXPECT_TRUE(
        fs::exists(root_ / "T/store/bob/\xE9\x82\xAE\xE4\xBB\xB6/m.eml"));
    EXPECT_TRUE(
        view->WriteFile(Path("T/store/bob/\xC4\xE3\xBA\xC3/x"), "x", nullptr));
    EXPECT_TRUE(fs::exists(root_ / "T/store/bob/\xC4\xE3\xBA\xC3/x"));
    EXPECT_EQ(view->MakeDir(Path("T/store/BOB/INBOX"), nullptr),
              DirMade::kExisted);
  });
}

// StatusesIn takes each entry's status as StatusOf does, however the
// folder is spelled: a GBK name, a path through the folder; a link, a
// missing name or a climb out of the folder has none. An entry of the
// folder spelled otherwise is not looked for.
TEST_P(ConfinedViewTest, StatusesInFindsWhatStatusOfFinds) {
  Run([&] {
    fs::create_directories(root_ / "T/store/bob/\xE9\x82\xAE\xE4\xBB\xB6");
    fs::create_directory_symlink(root_ / "outside/sub",
                                 root_ / "T/store/bob/Sub");
    std::unique_ptr<FileSystem> view = View();
    ASSERT_NE(view, nullptr);
    const std::vector<std::string> names = {
        "INBOX", "inbox", "Inbox\\1.EML",   "\xD3\xCA\xBC\xFE",
        "Sub",   "none",  "..\\..\\outside"};
    const bool there[] = {true, false, true, true, false, false, false};
    std::vector<std::optional<EntryStatus>> got;
    view->StatusesIn(Path("T/store/BOB"), names, &got);
    ASSERT_EQ(got.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
      SCOPED_TRACE(names[i]);
      EntryStatus one;
      EXPECT_EQ(view->StatusOf(Path("T/store/BOB") + "\\" + names[i], &one),
                there[i] || names[i] == "inbox");
      ASSERT_EQ(got[i].has_value(), there[i]);
      if (there[i]) {
        EXPECT_TRUE(*got[i] == one);
      }
    }
  });
}

// A listing by names tells what a listing tells, but leaves a regular
// file's size untold and tells its file number instead; a folder and a
// link (never followed) are told as a listing tells them. The view and
// the plain file system list alike.
TEST_P(ConfinedViewTest, ListNamesTellsFilesByTheirNumbers) {
  Run([&] {
    fs::create_directories(root_ / "T/store/bob/INBOX/sub");
    Put("T/store/bob/INBOX/1.eml", "12345");
    fs::create_symlink(root_ / "outside/a.txt", root_ / "T/store/bob/INBOX/l");
    struct stat st;
    ASSERT_EQ(::lstat((root_ / "T/store/bob/INBOX/1.eml").c_str(), &st), 0);
    std::unique_ptr<FileSystem> view = View();
    ASSERT_NE(view, nullptr);
    const auto by_name = [](const DirEntry& a, const DirEntry& b) {
      return a.name < b.name;
    };
    for (FileSystem* lister : {view.get(), disk_.get()}) {
      std::vector<DirEntry> sized;
      std::vector<DirEntry> named;
      const std::string pattern = Path("T/store/bob/INBOX") + "\\*";
      ASSERT_TRUE(lister->List(pattern, &sized));
      ASSERT_TRUE(lister->ListNames(pattern, &named));
      std::sort(sized.begin(), sized.end(), by_name);
      std::sort(named.begin(), named.end(), by_name);
      ASSERT_EQ(sized.size(), 3u);
      ASSERT_EQ(named.size(), 3u);
      for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(named[i].name);
        EXPECT_EQ(named[i].name, sized[i].name);
        EXPECT_EQ(named[i].path, sized[i].path);
        EXPECT_EQ(named[i].is_directory, sized[i].is_directory);
        EXPECT_EQ(named[i].is_special, sized[i].is_special);
        EXPECT_TRUE(sized[i].sized);
        EXPECT_EQ(named[i].sized, i != 0);
      }
      EXPECT_EQ(sized[0].size, 5u);
      EXPECT_EQ(named[0].file, static_cast<uint64_t>(st.st_ino));
      EXPECT_TRUE(named[1].is_special);
      EXPECT_TRUE(named[2].is_directory);
    }
  });
}

// A link swapped in by another thread between a look and its use is met
// where the use resolves the path, never followed: however the swaps and
// the operations interleave, nothing outside changes.
TEST_P(ConfinedViewTest, LinkSwappedInMeanwhileIsNeverFollowed) {
  Run([&] {
    const fs::path box = root_ / "T/store/bob";
    fs::create_directories(box / "empty");
    Put("T/store/bob/a.txt", "ours");
    std::unique_ptr<FileSystem> view = View();
    ASSERT_NE(view, nullptr);
    // The swapper turns the folder into a link and back, holding each for
    // a spin of varying length, so that the swaps land at every point of the
    // operations.
    std::atomic<bool> done{false};
    std::thread swapper([&] {
      const fs::path real = root_ / "T/store/bob.real";
      std::minstd_rand spins(7);
      std::error_code ignored;
      while (!done) {
        fs::rename(box, real, ignored);
        fs::create_directory_symlink(root_ / "outside", box, ignored);
        Spin(spins() % 4000);
        fs::remove(box, ignored);  // the link, never what it leads to
        fs::rename(real, box, ignored);
        Spin(spins() % 4000);
      }
    });
    const std::string source = Path("source/m.eml");
    const std::function<void(const std::string&)> kSteps[] = {
        [&](const std::string&) {
          view->RemoveFile(Path("T/store/bob/a.txt"), nullptr);
        },
        [&](const std::string&) {
          view->RemoveFile(Path("T/store/bob/sub/b.txt"), nullptr);
        },
        [&](const std::string&) {
          view->RemoveEmptyDir(Path("T/store/bob/empty"), nullptr);
        },
        [&](const std::string&) {
          view->RemoveEmptyDir(Path("T/store/bob/sub"), nullptr);
        },
        [&](const std::string& n) {
          view->MakeDir(Path("T/store/bob/new" + n), nullptr);
        },
        [&](const std::string& n) {
          view->CopyNew(source, Path("T/store/bob/c" + n + ".eml"), nullptr);
        },
        [&](const std::string&) {
          view->AppendFile(Path("T/store/bob/log"), "x", nullptr);
        },
        [&](const std::string&) {
          view->WriteFile(Path("T/store/bob/a.txt"), "again", nullptr);
          view->MakeDir(Path("T/store/bob/empty"), nullptr);
        },
    };
    for (int round = 0; round < 1000; ++round) {
      for (const auto& step : kSteps) step(std::to_string(round % 8));
    }
    done = true;
    swapper.join();
    ExpectOutsideUnchanged();
  });
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutOpenat2, ConfinedViewTest,
                         testing::Bool());

}  // namespace
}  // namespace vm
