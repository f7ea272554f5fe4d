#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>
#include <set>

#include "testing/mem_file_system.h"

namespace vm {
namespace {

// The same behaviour is required of the disk and of the in-memory file
// system; each test runs against both.
struct FileSystemFactory {
  const char* name;
  std::function<std::unique_ptr<FileSystem>()> make;
  bool on_disk;
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
    } else {
      root_ = "C:\\fs_test";
      ASSERT_TRUE(fs_->CreateDir(root_));
    }
  }

  void TearDown() override {
    if (!disk_root_.empty()) std::filesystem::remove_all(disk_root_);
  }

  std::string Path(const std::string& relative) {
    return root_ + "\\" + relative;
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

  std::unique_ptr<FileSystem> fs_;
  std::filesystem::path disk_root_;
  std::string root_;
};

TEST_P(FileSystemContractTest, ExistenceAndModificationTime) {
  EXPECT_FALSE(fs_->Exists(Path("a.txt")));
  int64_t seconds = -1;
  EXPECT_FALSE(fs_->ModifiedTime(Path("a.txt"), &seconds));
  Write("a.txt", "x");
  EXPECT_TRUE(fs_->Exists(Path("a.txt")));
  EXPECT_TRUE(fs_->Exists(root_));
  ASSERT_TRUE(fs_->ModifiedTime(Path("a.txt"), &seconds));
  EXPECT_GT(seconds, 0);
}

TEST_P(FileSystemContractTest, ReadsLargeFileWhole) {
  std::string contents;
  for (int i = 0; i < 200000; ++i) contents.push_back(static_cast<char>(i * 7));
  Write("big.bin", contents);
  EXPECT_EQ(Read("big.bin"), contents);
}

TEST_P(FileSystemContractTest, ReadOfMissingFileFailsEmpty) {
  std::string contents = "stale";
  std::string error;
  EXPECT_FALSE(fs_->ReadFile(Path("missing"), &contents, &error));
  EXPECT_TRUE(contents.empty());
  EXPECT_FALSE(error.empty());
}

TEST_P(FileSystemContractTest, WriteTruncatesAndNeedsDirectory) {
  Write("f.cfg", "a long first content\r\n");
  Write("f.cfg", "short");
  EXPECT_EQ(Read("f.cfg"), "short");
  EXPECT_FALSE(fs_->WriteFile(Path("no_dir\\f.cfg"), "x", nullptr));
  EXPECT_FALSE(fs_->Exists(Path("no_dir\\f.cfg")));
}

TEST_P(FileSystemContractTest, ReplaceLeavesOnlyTheNewContent) {
  Write("user.cfg", "old content that is longer");
  ASSERT_TRUE(fs_->ReplaceContents(Path("user.cfg"), "new", nullptr));
  EXPECT_EQ(Read("user.cfg"), "new");
  ASSERT_TRUE(fs_->ReplaceContents(Path("fresh.cfg"), "made", nullptr));
  EXPECT_EQ(Read("fresh.cfg"), "made");
  // No temporary file is left beside the targets.
  EXPECT_EQ(Names("*"), (std::set<std::string>{"user.cfg", "fresh.cfg"}));
  EXPECT_FALSE(fs_->ReplaceContents(Path("no_dir\\x.cfg"), "x", nullptr));
}

TEST_P(FileSystemContractTest, CopyNeverOverwrites) {
  Write("src.in", "message");
  EXPECT_EQ(fs_->CopyNew(Path("src.in"), Path("dst.in"), nullptr),
            CopyResult::kCopied);
  EXPECT_EQ(Read("dst.in"), "message");

  Write("other.in", "other");
  EXPECT_EQ(fs_->CopyNew(Path("other.in"), Path("dst.in"), nullptr),
            CopyResult::kTargetExists);
  // A name differing only in case is the same file.
  EXPECT_EQ(fs_->CopyNew(Path("other.in"), Path("DST.IN"), nullptr),
            CopyResult::kTargetExists);
  EXPECT_EQ(Read("dst.in"), "message");

  EXPECT_EQ(fs_->CopyNew(Path("missing.in"), Path("new.in"), nullptr),
            CopyResult::kFailed);
  EXPECT_FALSE(fs_->Exists(Path("new.in")));
  EXPECT_EQ(fs_->CopyNew(Path("src.in"), Path("no_dir\\new.in"), nullptr),
            CopyResult::kFailed);
}

TEST_P(FileSystemContractTest, CopyOfEmptyAndLargeFiles) {
  std::string big(300000, 'x');
  big[123456] = '\0';
  Write("big.in", big);
  Write("empty.in", "");
  EXPECT_EQ(fs_->CopyNew(Path("big.in"), Path("big.out"), nullptr),
            CopyResult::kCopied);
  EXPECT_EQ(fs_->CopyNew(Path("empty.in"), Path("empty.out"), nullptr),
            CopyResult::kCopied);
  EXPECT_EQ(Read("big.out"), big);
  EXPECT_EQ(Read("empty.out"), "");
}

TEST_P(FileSystemContractTest, ListFollowsWindowsWildcards) {
  for (const char* name :
       {"a.in", "B.IN", "c.inx", "d.sed", "1.12", "2.1", "noext", "ab.in"}) {
    Write(name, name);
  }
  ASSERT_TRUE(fs_->CreateDir(Path("Sub.in")));

  struct Case {
    const char* pattern;
    std::set<std::string> names;
  } cases[] = {
      {"*.in", {"a.in", "B.IN", "ab.in", "Sub.in"}},
      {"?.in", {"a.in", "B.IN"}},
      {"*.1", {"2.1"}},
      {"*.12", {"1.12"}},
      {"A*", {"a.in", "ab.in"}},
      {"*.*",
       {"a.in", "B.IN", "c.inx", "d.sed", "1.12", "2.1", "noext", "ab.in",
        "Sub.in"}},
      {"none*", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Names(c.pattern), c.names) << c.pattern;
  }
}

TEST_P(FileSystemContractTest, ListReportsPathSizeAndKind) {
  Write("m.in", "12345");
  ASSERT_TRUE(fs_->CreateDir(Path("dir.in")));
  std::vector<DirEntry> entries;
  ASSERT_TRUE(fs_->List(Path("*.in"), &entries));
  ASSERT_EQ(entries.size(), 2u);
  std::sort(
      entries.begin(), entries.end(),
      [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  EXPECT_EQ(entries[0].name, "dir.in");
  EXPECT_TRUE(entries[0].is_directory);
  EXPECT_EQ(entries[1].name, "m.in");
  EXPECT_EQ(entries[1].path, Path("m.in"));
  EXPECT_EQ(entries[1].size, 5u);
  EXPECT_FALSE(entries[1].is_directory);

  EXPECT_FALSE(fs_->List(Path("missing\\*.in"), &entries));
}

TEST_P(FileSystemContractTest, NamesCompareWithoutCase) {
  ASSERT_TRUE(fs_->CreateDir(Path("Data")));
  Write("Data\\UserAuth.CFG", "x");
  EXPECT_TRUE(fs_->Exists(Path("DATA\\userauth.cfg")));
  EXPECT_EQ(Read("data\\USERAUTH.cfg"), "x");
  // A new file in an existing directory spelt in another case lands in it.
  Write("DATA\\new.cfg", "y");
  EXPECT_EQ(Names("Data\\*.cfg"),
            (std::set<std::string>{"UserAuth.CFG", "new.cfg"}));
  // An existing name keeps its spelling when written through another one.
  Write("data\\USERAUTH.CFG", "z");
  EXPECT_EQ(Names("data\\u*"), (std::set<std::string>{"UserAuth.CFG"}));
}

TEST_P(FileSystemContractTest, DoubleByteNames) {
  const std::string name = "\xC4\xE3\xBA\xC3.in";  // "ni hao" in GBK
  const std::string dir = "\xD3\xCA\xBC\xFE";      // "mail" in GBK
  ASSERT_TRUE(fs_->CreateDir(Path(dir)));
  Write(dir + "\\" + name, "gbk");
  EXPECT_EQ(Read(dir + "\\" + name), "gbk");
  EXPECT_EQ(Names(dir + "\\*.in"), std::set<std::string>{name});
  // '?' takes one whole double-byte character.
  EXPECT_EQ(Names(dir + "\\?\xBA\xC3.in"), std::set<std::string>{name});
  EXPECT_EQ(Names(dir + "\\??\xBA\xC3.in"), std::set<std::string>{});
  // A second byte in the letter range is not a letter: these two names
  // differ only there and are different files.
  Write("\x81\x41.txt", "upper");
  Write("\x81\x61.txt", "lower");
  EXPECT_EQ(Read("\x81\x41.txt"), "upper");
  EXPECT_EQ(Read("\x81\x61.txt"), "lower");
}

TEST_P(FileSystemContractTest, DirectoriesAndRemoval) {
  EXPECT_TRUE(fs_->CreateDir(Path("d")));
  EXPECT_TRUE(fs_->CreateDir(Path("d")));  // existing is no failure
  EXPECT_FALSE(fs_->CreateDir(Path("x\\y")));
  Write("f", "x");
  EXPECT_FALSE(fs_->CreateDir(Path("f")));
  EXPECT_TRUE(fs_->RemoveFile(Path("f")));
  EXPECT_FALSE(fs_->Exists(Path("f")));
  EXPECT_TRUE(fs_->RemoveFile(Path("f")));
}

INSTANTIATE_TEST_SUITE_P(
    Implementations, FileSystemContractTest,
    testing::Values(
        FileSystemFactory{"Disk", [] { return NewDiskFileSystem(); }, true},
        FileSystemFactory{
            "Memory", [] { return std::make_unique<MemFileSystem>(); }, false}),
    [](const testing::TestParamInfo<FileSystemFactory>& param_info) {
      return std::string(param_info.param.name);
    });

}  // namespace
}  // namespace vm
