#include "platform/name_cache_posix.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace vm {
namespace {

namespace fs = std::filesystem;

class NameCacheTest : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    root_ = fs::temp_directory_path() /
            ("vm_name_cache_" + std::to_string(random()));
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }
  std::string Dir(const std::string& name) {
    fs::create_directories(root_ / name);
    return (root_ / name).string();
  }
  // Gives the directory another modification time, as any later change
  // would (a change within the clock's tick would keep the same one).
  static void Touch(const std::string& dir, long seconds) {
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, dir.c_str(), times, 0), 0);
  }

  fs::path root_;
  FoldedNameCache cache_;
};

// Catches a cache that keeps a listing after another program changed the
// directory: the new name must be found, the removed one no longer; a
// directory recorded as made empty included.
TEST_F(NameCacheTest, SeesAChangeByAnotherProgram) {
  const std::string dir = Dir("d");
  cache_.MadeEmpty(dir);
  EXPECT_EQ(cache_.Find(dir, "old.txt"), "");
  std::ofstream(dir + "/Old.TXT").put('x');
  Touch(dir, 1000);
  EXPECT_EQ(cache_.Find(dir, "old.txt"), "Old.TXT");
  EXPECT_EQ(cache_.Find(dir, "NEW.txt"), "");
  fs::remove(dir + "/Old.TXT");
  std::ofstream(dir + "/New.txt").put('x');
  Touch(dir, 2000);
  EXPECT_EQ(cache_.Find(dir, "NEW.txt"), "New.txt");
  EXPECT_EQ(cache_.Find(dir, "old.txt"), "");
}

// Catches a cache that answers with another name than the smallest of
// those that differ in case only: as listed, or as this process makes them
// (a capital after the folded form, and the folded form after a capital).
TEST_F(NameCacheTest, AnswersTheSmallestOfNamesThatDifferInCase) {
  const std::string dir = Dir("c");
  for (const char* n : {"bob", "Bob", "BOB", "cy"}) {
    std::ofstream(dir + "/" + n).put('x');
  }
  Touch(dir, 1000);
  EXPECT_EQ(cache_.Find(dir, "bob"), "BOB");
  EXPECT_EQ(cache_.Find(dir, "CY"), "cy");
  struct stat st;
  for (const char* n : {"aMY", "amy", "Cy"}) {
    std::ofstream(dir + "/" + n).put('x');
    ASSERT_TRUE(cache_.Created(dir + "/" + n, &st));
  }
  EXPECT_EQ(cache_.Find(dir, "AMY"), "aMY");
  EXPECT_EQ(cache_.Find(dir, "cy"), "Cy");
}

// Catches a cache that grows without bound, or that loses the entry this
// process just created (or its directory's listing when it is the one just
// searched).
TEST_F(NameCacheTest, StaysBoundedAndKnowsWhatItCreated) {
  const std::string first = Dir("first");
  for (size_t i = 0; i < FoldedNameCache::kMaxDirs + 8; ++i) {
    const std::string dir = Dir(std::to_string(i));
    EXPECT_EQ(cache_.Find(dir, "x"), "");
    EXPECT_LE(cache_.listings(), FoldedNameCache::kMaxDirs);
  }
  EXPECT_EQ(cache_.Find(first, "made.TXT"), "");
  cache_.Creating(first + "/Made.txt");
  std::ofstream(first + "/Made.txt").put('x');
  Touch(first, 3000);
  ASSERT_TRUE(cache_.Created(first + "/Made.txt", nullptr));
  EXPECT_EQ(cache_.Find(first, "made.TXT"), "Made.txt");
}

// Catches a cache that keeps the old name of an entry this process renamed
// within its directory (a staging folder published), or loses the new one.
TEST_F(NameCacheTest, ForgetsTheOldNameOfWhatItRenamed) {
  const std::string dir = Dir("r");
  struct stat st;
  for (const char* n : {"stage.a", "stage.b"}) {
    cache_.Creating(dir + "/" + n);
    fs::create_directory(dir + "/" + n);
    ASSERT_TRUE(cache_.Created(dir + "/" + n, &st));
  }
  EXPECT_EQ(cache_.Find(dir, "STAGE.A"), "stage.a");
  for (const char* n : {"a", "b"}) {
    const std::string from = dir + "/stage." + n;
    fs::rename(from, dir + "/" + n);
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    cache_.Renamed(from, dir + "/" + n, &st);
  }
  EXPECT_EQ(cache_.Find(dir, "STAGE.A"), "");
  EXPECT_EQ(cache_.Find(dir, "stage.b"), "");
  EXPECT_EQ(cache_.Find(dir, "A"), "a");
  EXPECT_EQ(cache_.Find(dir, "B"), "b");
}

}  // namespace
}  // namespace vm
