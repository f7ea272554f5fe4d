#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <set>

#include "platform/helpers/overlay_file_system.h"
#include "testing/fault_injection_file_system.h"
#include "testing/mem_file_system.h"

namespace vm {
namespace {

// The same behaviour is required of the disk and of the in-memory file
// system; each test runs against both.
struct FileSystemFactory {
  const char* name;
  std::function<std::unique_ptr<FileSystem>()> make;
  bool on_disk;
  // The tests then run on the view of it confined to their folder.
  bool confined = false;
};

// A dry run's file system over an in-memory disk it never writes to.
struct MemoryHolder {
  MemFileSystem disk;
};
struct OverlayOverMemory : MemoryHolder, OverlayFileSystem {
  OverlayOverMemory() : OverlayFileSystem(&disk, NameOps()) {}
};
// The fault injector with no fault set passes everything to the real disk.
struct DiskHolder {
  std::unique_ptr<FileSystem> disk = NewDiskFileSystem();
};
struct FaultsOverDisk : DiskHolder, FaultInjectionFileSystem {
  FaultsOverDisk() : FaultInjectionFileSystem(disk.get()) {}
};

class FileSystemContractTest
    : public testing::TestWithParam<FileSystemFactory> {
 protected:
  void SetUp() override {
    fs_ = GetParam().make();
    ASSERT_NE(fs_, nullptr);
    if (GetParam().on_disk) {
      std::random_device random;
      disk_root_ = std::filesystem::temp_directory_path() /
                   ("vm_fs_test_" + std::to_string(random()));
      ASSERT_TRUE(std::filesystem::create_directory(disk_root_));
      root_ = disk_root_.string();
      if (GetParam().confined) {
        whole_ = std::move(fs_);
        std::string error;
        fs_ = whole_->Confined({root_}, &error);
        ASSERT_NE(fs_, nullptr) << error;
      }
    } else {
      root_ = "C:\\fs_test";
      ASSERT_TRUE(fs_->CreateDir(root_, nullptr));
    }
  }

  void TearDown() override {
    // A view holds its root open (on Windows, not to be removed meanwhile).
    fs_.reset();
    if (!disk_root_.empty()) std::filesystem::remove_all(disk_root_);
  }

  std::string Path(const std::string& relative) {
    return root_ + "\\" + relative;
  }

  // `copied` proves the file `relative` as it is now: by its stamp where
  // the file system keeps stamps, else by the digest `md5`.
  void ExpectProves(const CopiedFile& copied, const std::string& relative,
                    const std::string& md5) {
    FileStamp now;
    if (fs_->StampOf(Path(relative), &now)) {
      EXPECT_EQ(copied.stamp, now) << relative;
    } else {
      EXPECT_EQ(copied.md5, md5) << relative;
    }
  }

  void Write(const std::string& relative, const std::string& contents) {
    ASSERT_TRUE(fs_->WriteFile(Path(relative), contents, nullptr)) << relative;
  }

  std::string Read(const std::string& relative) {
    std::string contents;
    EXPECT_TRUE(fs_->ReadFile(Path(relative), &contents, nullptr)) << relative;
    return contents;
  }

  std::set<std::string> Names(const std::string& pattern) {
    std::vector<DirEntry> entries;
    EXPECT_TRUE(fs_->List(Path(pattern), &entries)) << pattern;
    std::set<std::string> names;
    for (const DirEntry& e : entries) names.insert(e.name);
    return names;
  }

  std::unique_ptr<FileSystem> whole_;  // what fs_ is a confined view of
  std::unique_ptr<FileSystem> fs_;
  std::filesystem::path disk_root_;
  std::string root_;
};

TEST_P(FileSystemContractTest, ReadWriteAndReplace) {
  // Paths are shown as the disk below shows them (a wrapper forwards).
  if (GetParam().on_disk) {
    EXPECT_EQ(fs_->DisplayPath(Path("f.cfg")),
              NewDiskFileSystem()->DisplayPath(Path("f.cfg")));
  }
  int64_t seconds = -1;
  EXPECT_FALSE(fs_->ModifiedTime(Path("f.cfg"), &seconds));
  std::string contents = "stale", error;
  EXPECT_FALSE(fs_->ReadFile(Path("f.cfg"), &contents, &error));
  EXPECT_TRUE(contents.empty());
  EXPECT_FALSE(error.empty());
  std::string big;
  for (int i = 0; i < 200000; ++i) big.push_back(static_cast<char>(i * 7));
  Write("f.cfg", big);
  EXPECT_EQ(Read("f.cfg"), big);
  Write("f.cfg", "short");
  EXPECT_EQ(Read("f.cfg"), "short");
  ASSERT_TRUE(fs_->ModifiedTime(Path("f.cfg"), &seconds));
  EXPECT_GT(seconds, 0);
  EXPECT_FALSE(fs_->WriteFile(Path("no_dir\\f.cfg"), "x", nullptr));
  ASSERT_TRUE(fs_->ReplaceContents(Path("f.cfg"), "new", nullptr));
  EXPECT_EQ(Read("f.cfg"), "new");
  ASSERT_TRUE(fs_->ReplaceContents(Path("fresh.cfg"), "made", nullptr));
  EXPECT_EQ(Read("fresh.cfg"), "made");
  EXPECT_FALSE(fs_->ReplaceContents(Path("no_dir\\x.cfg"), "x", nullptr));
  // No temporary file is left beside the targets.
  EXPECT_EQ(Names("*"), (std::set<std::string>{"f.cfg", "fresh.cfg"}));
  // Only the call that makes a directory says so: one that says it made
  // a directory that was there would have the run skip what it holds.
  EXPECT_EQ(fs_->MakeDir(Path("Box"), nullptr), DirMade::kMade);
  EXPECT_EQ(fs_->MakeDir(Path("Box"), nullptr), DirMade::kExisted);
  EXPECT_EQ(fs_->MakeDir(Path("BOX"), nullptr), DirMade::kExisted);
  EXPECT_EQ(fs_->MakeDir(Path("f.cfg"), nullptr), DirMade::kFailed);
  EXPECT_EQ(fs_->MakeDir(Path("no_dir\\Box"), nullptr), DirMade::kFailed);
  EXPECT_TRUE(fs_->RemoveFile(Path("f.cfg"), nullptr));
  EXPECT_FALSE(fs_->Exists(Path("f.cfg")));
  EXPECT_TRUE(fs_->RemoveFile(Path("f.cfg"), nullptr));
  // A folder goes only when empty; a sibling whose name sorts between the
  // folder and its children is no child.
  ASSERT_TRUE(fs_->WriteFile(Path("Box\\1.eml"), "x", nullptr));
  ASSERT_EQ(fs_->MakeDir(Path("Box.old"), nullptr), DirMade::kMade);
  EXPECT_FALSE(fs_->RemoveEmptyDir(Path("Box"), nullptr));
  EXPECT_TRUE(fs_->Exists(Path("Box\\1.eml")));
  EXPECT_TRUE(fs_->RemoveFile(Path("Box\\1.eml"), nullptr));
  EXPECT_TRUE(fs_->RemoveEmptyDir(Path("box"), nullptr));
  EXPECT_TRUE(fs_->RemoveEmptyDir(Path("Box.old"), nullptr));
  EXPECT_FALSE(fs_->Exists(Path("Box")));
  EXPECT_TRUE(fs_->RemoveEmptyDir(Path("Box"), nullptr));
}

TEST_P(FileSystemContractTest, CopyNeverOverwrites) {
  std::string big(300000, 'x');
  big[123456] = '\0';
  Write("big.in", big);
  Write("empty.in", "");
  Write("other.in", "other");
  // What the copy tells proves the new file as it is, over every block.
  CopiedFile copied;
  EXPECT_EQ(
      fs_->CopyNewRecorded(Path("big.in"), Path("dst.in"), nullptr, &copied),
      CopyResult::kCopied);
  EXPECT_EQ(copied.size, 300000u);
  ExpectProves(copied, "dst.in", "bb2cd043de1ca841f2b07cfacf27f256");
  EXPECT_EQ(fs_->CopyNewRecorded(Path("empty.in"), Path("empty.out"), nullptr,
                                 &copied),
            CopyResult::kCopied);
  ExpectProves(copied, "empty.out", "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Read("dst.in"), big);
  EXPECT_EQ(Read("empty.out"), "");
  // A name differing only in case is the same file.
  for (const char* to : {"dst.in", "DST.IN"}) {
    EXPECT_EQ(fs_->CopyNew(Path("other.in"), Path(to), nullptr),
              CopyResult::kTargetExists);
  }
  // A missing source never removes an existing target.
  EXPECT_NE(fs_->CopyNew(Path("missing.in"), Path("dst.in"), nullptr),
            CopyResult::kCopied);
  EXPECT_EQ(Read("dst.in"), big);
  EXPECT_EQ(fs_->CopyNew(Path("missing.in"), Path("new.in"), nullptr),
            CopyResult::kFailed);
  EXPECT_FALSE(fs_->Exists(Path("new.in")));
  EXPECT_EQ(fs_->CopyNew(Path("other.in"), Path("no_dir\\new.in"), nullptr),
            CopyResult::kFailed);
  // Neither a copy made nor one refused leaves a file of its own beside.
  EXPECT_EQ(Names("*"), (std::set<std::string>{"big.in", "dst.in", "empty.in",
                                               "empty.out", "other.in"}));
  // A dry run asks first; only a regular file that is there can be read.
  EXPECT_TRUE(fs_->CanRead(Path("big.in")));
  EXPECT_FALSE(fs_->CanRead(Path("missing.in")));
  EXPECT_FALSE(fs_->CanRead(root_));
  EXPECT_TRUE(fs_->CanWrite(root_));
  EXPECT_FALSE(fs_->CanWrite(Path("no_dir")));
}

// A mailbox is built in a staging folder and published by a rename that
// must never replace what is there: an empty folder (a plain rename would
// replace it), a file, or a name that differs only in case.
TEST_P(FileSystemContractTest, StagedFolderIsPublishedWholeOrNotAtAll) {
  std::string big(300000, 'y');
  big[4321] = '\0';
  Write("big.in", big);
  ASSERT_TRUE(fs_->CreateDir(Path(".stage"), nullptr));
  ASSERT_TRUE(fs_->CreateDir(Path(".stage\\INBOX"), nullptr));
  CopiedFile copied;
  EXPECT_EQ(fs_->CopyStaged(Path("big.in"), Path(".stage\\INBOX\\1.in"),
                            nullptr, &copied),
            CopyResult::kCopied);
  ExpectProves(copied, ".stage\\INBOX\\1.in",
               "663a160cdba3e59f57a4b9d0cc1d58a4");
  EXPECT_EQ(fs_->CopyStaged(Path("big.in"), Path(".stage\\INBOX\\1.in"),
                            nullptr, nullptr),
            CopyResult::kTargetExists);
  if (!fs_->PublishesDirs()) return;
  ASSERT_TRUE(fs_->CreateDir(Path("empty"), nullptr));
  Write("file", "f");
  ASSERT_TRUE(fs_->CreateDir(Path("Cased"), nullptr));
  for (const char* taken : {"empty", "file", "CASED"}) {
    EXPECT_EQ(fs_->PublishDir(Path(".stage"), Path(taken), nullptr),
              PublishResult::kTargetExists)
        << taken;
  }
  EXPECT_EQ(Read("file"), "f");
  EXPECT_EQ(Names("empty\\*"), std::set<std::string>{});
  EXPECT_EQ(fs_->PublishDir(Path(".stage"), Path("box"), nullptr),
            PublishResult::kPublished);
  EXPECT_FALSE(fs_->Exists(Path(".stage")));
  EXPECT_EQ(Read("box\\INBOX\\1.in"), big);
  // The rename of its folder leaves the file's stamp as the copy told it.
  ExpectProves(copied, "box\\INBOX\\1.in", "663a160cdba3e59f57a4b9d0cc1d58a4");

  // A file moved aside: into another folder, never over anything, and
  // never a folder.
  EXPECT_EQ(fs_->RenameNew(Path("box\\INBOX\\1.in"), Path("FILE"), nullptr),
            PublishResult::kTargetExists);
  EXPECT_EQ(fs_->RenameNew(Path("box\\INBOX"), Path("moved"), nullptr),
            PublishResult::kFailed);
  EXPECT_EQ(
      fs_->RenameNew(Path("box\\INBOX\\1.in"), Path("empty\\1.in"), nullptr),
      PublishResult::kPublished);
  EXPECT_EQ(Read("empty\\1.in"), big);
  EXPECT_EQ(Read("file"), "f");
  EXPECT_EQ(Names("box\\INBOX\\*"), std::set<std::string>{});
  EXPECT_FALSE(fs_->Exists(Path("moved")));
}

TEST_P(FileSystemContractTest, ListFollowsWindowsWildcards) {
  for (const char* name :
       {"a.in", "B.IN", "c.inx", "d.sed", "1.12", "2.1", "noext", "ab.in"}) {
    Write(name, name);
  }
  ASSERT_TRUE(fs_->CreateDir(Path("Sub.in"), nullptr));
  EXPECT_TRUE(
      fs_->CreateDir(Path("Sub.in"), nullptr));  // existing is no failure
  // A refusal says why, as every other operation's does.
  for (const char* refused : {"x\\y", "a.in"}) {
    std::string error;
    EXPECT_FALSE(fs_->CreateDir(Path(refused), &error));
    EXPECT_NE(error, "") << refused;
  }
  const struct {
    const char* pattern;
    std::set<std::string> names;
  } kCases[] = {
      {"*.in", {"a.in", "B.IN", "ab.in", "Sub.in"}},
      {"?.in", {"a.in", "B.IN"}},
      {"*.1", {"2.1"}},
      {"A*", {"a.in", "ab.in"}},
      {"*.*",
       {"a.in", "B.IN", "c.inx", "d.sed", "1.12", "2.1", "noext", "ab.in",
        "Sub.in"}},
      {"none*", {}},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Names(c.pattern), c.names) << c.pattern;
  }
  std::vector<DirEntry> entries;
  ASSERT_TRUE(fs_->List(Path("?.in"), &entries));
  std::sort(
      entries.begin(), entries.end(),
      [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].path, Path("B.IN"));
  EXPECT_EQ(entries[0].size, 4u);
  EXPECT_FALSE(entries[0].is_directory);
  EXPECT_FALSE(fs_->List(Path("missing\\*.in"), &entries));
  EXPECT_FALSE(fs_->List(Path("a.in\\*"), &entries));
}

TEST_P(FileSystemContractTest, NamesCompareWithoutCaseByCharacter) {
  ASSERT_TRUE(fs_->CreateDir(Path("Data"), nullptr));
  Write("Data\\UserAuth.CFG", "x");
  EXPECT_EQ(Read("data\\USERAUTH.cfg"), "x");
  // A new file in a directory spelt in another case lands in it; an
  // existing name keeps its spelling when written through another one.
  Write("DATA\\new.cfg", "y");
  Write("data\\USERAUTH.CFG", "z");
  EXPECT_EQ(Names("Data\\*.cfg"),
            (std::set<std::string>{"UserAuth.CFG", "new.cfg"}));
  // Double-byte names: '?' takes a whole character, and a second byte in
  // the letter range is not a letter.
  const std::string name = "\xC4\xE3\xBA\xC3.in";
  const std::string dir = "\xD3\xCA\xBC\xFE";
  ASSERT_TRUE(fs_->CreateDir(Path(dir), nullptr));
  Write(dir + "\\" + name, "gbk");
  EXPECT_EQ(Read(dir + "\\" + name), "gbk");
  EXPECT_EQ(Names(dir + "\\?\xBA\xC3.in"), std::set<std::string>{name});
  EXPECT_EQ(Names(dir + "\\??\xBA\xC3.in"), std::set<std::string>{});
  Write("\x81\x41.txt", "upper");
  Write("\x81\x61.txt", "lower");
  EXPECT_EQ(Read("\x81\x41.txt"), "upper");
}

// Refusing to write into an installation rests on this: two spellings of a
// file meet, a file not yet made lies within its folder, and neither a
// sibling nor a folder whose name merely begins alike counts as inside.
TEST_P(FileSystemContractTest, LocateComparesByIdentity) {
  ASSERT_TRUE(fs_->CreateDir(Path("Data"), nullptr));
  ASSERT_TRUE(fs_->CreateDir(Path("Data2"), nullptr));
  Write("Data\\user.cfg", "x");
  Write("Data2\\user.cfg", "x");
  FileLocation file, spelled, folder, later, sibling, alike;
  ASSERT_TRUE(fs_->Locate(Path("Data\\user.cfg"), &file));
  ASSERT_TRUE(fs_->Locate(Path("DATA\\User.CFG"), &spelled));
  ASSERT_TRUE(fs_->Locate(Path("data\\"), &folder));
  ASSERT_TRUE(fs_->Locate(Path("Data\\new\\later.log"), &later));
  ASSERT_TRUE(fs_->Locate(Path("Data\\other.cfg"), &sibling));
  ASSERT_TRUE(fs_->Locate(Path("Data2\\user.cfg"), &alike));
  ASSERT_TRUE(file.exists && folder.exists);
  EXPECT_TRUE(spelled.Is(file.chain.front()));
  EXPECT_TRUE(file.IsWithin(folder.chain.front()));
  EXPECT_FALSE(later.exists);
  EXPECT_TRUE(later.IsWithin(folder.chain.front()));
  EXPECT_FALSE(sibling.Is(file.chain.front()));
  EXPECT_FALSE(alike.Is(file.chain.front()));
  EXPECT_FALSE(alike.IsWithin(folder.chain.front()));
  EXPECT_FALSE(folder.IsWithin(file.chain.front()));
}

// Looked up together, the entries of one folder have the statuses StatusOf
// gives each (a folder, a double-byte name, a file); a missing name has
// none, and so has every name of a missing folder.
TEST_P(FileSystemContractTest, StatusesInTellWhatStatusOfTells) {
  const std::string kInbox = "\xca\xd5\xbc\xfe\xcf\xe4";  // GBK
  ASSERT_TRUE(fs_->CreateDir(Path("box"), nullptr));
  ASSERT_TRUE(fs_->CreateDir(Path("box\\INBOX"), nullptr));
  ASSERT_TRUE(fs_->CreateDir(Path("box\\" + kInbox), nullptr));
  Write("box\\mark", "x");
  const std::vector<std::string> names = {"INBOX", kInbox, "mark", "gone"};
  std::vector<std::optional<EntryStatus>> got;
  fs_->StatusesIn(Path("box"), names, &got);
  ASSERT_EQ(got.size(), names.size());
  int told = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    EntryStatus one;
    const bool has = fs_->StatusOf(Path("box\\" + names[i]), &one);
    ASSERT_EQ(got[i].has_value(), has) << i;
    if (!has) continue;
    ++told;
    EXPECT_EQ(*got[i], one) << i;
    EXPECT_EQ(got[i]->is_directory, i < 2) << i;
  }
  EXPECT_TRUE(told == 0 || told == 3) << told;
  fs_->StatusesIn(Path("nothing"), names, &got);
  EXPECT_EQ(std::count(got.begin(), got.end(), std::nullopt), 4);
}

INSTANTIATE_TEST_SUITE_P(
    Implementations, FileSystemContractTest,
    testing::Values(
        FileSystemFactory{"Disk", [] { return NewDiskFileSystem(); }, true},
        FileSystemFactory{
            "Memory", [] { return std::make_unique<MemFileSystem>(); }, false},
        FileSystemFactory{"Overlay",
                          [] { return std::make_unique<OverlayOverMemory>(); },
                          false},
        FileSystemFactory{"FaultsOverDisk",
                          [] { return std::make_unique<FaultsOverDisk>(); },
                          true},
        FileSystemFactory{"ConfinedDisk", [] { return NewDiskFileSystem(); },
                          true, true}),
    [](const testing::TestParamInfo<FileSystemFactory>& param_info) {
      return std::string(param_info.param.name);
    });

}  // namespace
}  // namespace vm
