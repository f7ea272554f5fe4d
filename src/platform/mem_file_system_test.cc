#include "platform/mem_file_system.h"

#include <gtest/gtest.h>

namespace vm {
namespace {

class MemFileSystemTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(fs_.CreateDir("C:\\t")); }

  std::string Read(const std::string& path) {
    std::string contents;
    fs_.ReadFile(path, &contents, nullptr);
    return contents;
  }

  MemFileSystem fs_;
};

TEST_F(MemFileSystemTest, ShortWriteFailsEachKindOfWrite) {
  ASSERT_TRUE(fs_.WriteFile("C:\\t\\a", "old", nullptr));
  fs_.FailWritesAfter(2);
  // In place: the bytes written so far stay, as on a full disk.
  EXPECT_FALSE(fs_.WriteFile("C:\\t\\a", "new content", nullptr));
  EXPECT_EQ(Read("C:\\t\\a"), "ne");

  fs_.FailWritesAfter(2);
  ASSERT_TRUE(fs_.WriteFile("C:\\t\\b", "", nullptr));
  EXPECT_FALSE(fs_.ReplaceContents("C:\\t\\b", "replacement", nullptr));
  EXPECT_EQ(Read("C:\\t\\b"), "");

  fs_.FailWritesAfter(-1);
  ASSERT_TRUE(fs_.WriteFile("C:\\t\\src", "0123456789", nullptr));
  fs_.FailWritesAfter(3);
  EXPECT_EQ(fs_.CopyNew("C:\\t\\src", "C:\\t\\dst", nullptr),
            CopyResult::kFailed);
  EXPECT_FALSE(fs_.Exists("C:\\t\\dst"));
}

TEST_F(MemFileSystemTest, RefusedRenameWritesInPlace) {
  ASSERT_TRUE(fs_.WriteFile("C:\\t\\a", "old", nullptr));
  fs_.RefuseRename(true);
  EXPECT_TRUE(fs_.ReplaceContents("C:\\t\\a", "new", nullptr));
  EXPECT_EQ(Read("C:\\t\\a"), "new");
  // The in-place fallback can tear the file; the replace reports it.
  // The temporary file takes 8 bytes of the 10, the rewrite gets 2.
  fs_.FailWritesAfter(10);
  EXPECT_FALSE(fs_.ReplaceContents("C:\\t\\a", "abcdefgh", nullptr));
  EXPECT_EQ(Read("C:\\t\\a"), "ab");
}

TEST_F(MemFileSystemTest, FailedPathCannotBeOpened) {
  ASSERT_TRUE(fs_.WriteFile("C:\\t\\a", "x", nullptr));
  fs_.FailPath("c:\\T\\A");
  std::string contents;
  std::string error;
  EXPECT_FALSE(fs_.ReadFile("C:\\t\\a", &contents, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(fs_.WriteFile("C:\\t\\a", "y", nullptr));
  EXPECT_FALSE(fs_.ReplaceContents("C:\\t\\a", "y", nullptr));
  EXPECT_EQ(fs_.CopyNew("C:\\t\\a", "C:\\t\\b", nullptr), CopyResult::kFailed);
  EXPECT_TRUE(fs_.Exists("C:\\t\\a"));
}

TEST_F(MemFileSystemTest, TimesAndCounters) {
  fs_.SetNow(1000);
  ASSERT_TRUE(fs_.WriteFile("C:\\t\\a", "x", nullptr));
  int64_t t = 0;
  ASSERT_TRUE(fs_.ModifiedTime("C:\\t\\a", &t));
  EXPECT_EQ(t, 1000);
  ASSERT_TRUE(fs_.SetModifiedTime("C:\\t\\a", 5));
  ASSERT_TRUE(fs_.ModifiedTime("C:\\t\\a", &t));
  EXPECT_EQ(t, 5);
  EXPECT_FALSE(fs_.SetModifiedTime("C:\\t\\none", 5));

  EXPECT_EQ(fs_.ReadCount("C:\\t\\a"), 0);
  Read("C:\\t\\A");
  Read("C:\\t\\a");
  EXPECT_EQ(fs_.ReadCount("c:/t/a"), 2);
  ASSERT_TRUE(fs_.ReplaceContents("C:\\t\\a", "y", nullptr));
  EXPECT_EQ(fs_.WriteCount("C:\\t\\a"), 2);
}

}  // namespace
}  // namespace vm
