#include "platform/atomic_replace_posix.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace vm {
namespace {

namespace fs = std::filesystem;

// A save by root replaces the file with one root made; the replacement
// must take the old file's owner and its group each on its own, or the
// server that reads the file through its group (or as its owner) is
// locked out after the save.
TEST(AtomicReplaceTest, KeepsTheOwnerAndTheGroupEachOnItsOwn) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a file away needs root";
  // 65534 is "nobody"/"nogroup": neither the process's user nor its group.
  constexpr uid_t kOther = 65534;
  ASSERT_NE(getegid(), kOther);
  const fs::path dir =
      fs::temp_directory_path() /
      ("vm_atomic_replace_test_" + std::to_string(std::random_device()()));
  ASSERT_TRUE(fs::create_directories(dir));
  const struct {
    const char* name;
    uid_t uid;
    gid_t gid;
  } kCases[] = {
      {"group.cfg", geteuid(), kOther},
      {"owner.cfg", kOther, getegid()},
  };
  for (const auto& c : kCases) {
    const fs::path path = dir / c.name;
    std::ofstream(path) << "old";
    ASSERT_EQ(chown(path.c_str(), c.uid, c.gid), 0);
    ASSERT_EQ(chmod(path.c_str(), 02640), 0);
    std::string written, error;
    ASSERT_TRUE(
        ReplaceFileContents(path.string(), c.name, "new", &written, &error))
        << error;
    struct stat st = {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, c.uid) << c.name;
    EXPECT_EQ(st.st_gid, c.gid) << c.name;
    EXPECT_EQ(st.st_mode & 07777, 02640u) << c.name;
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "new");
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace vm
