#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "platform/copy_into_posix.h"
#include "platform/file_system.h"
#include "platform/posix_io.h"

namespace vm {
namespace {

namespace fs = std::filesystem;

// A source another program cuts short while it is copied (and then puts
// back to its size) gives a failed copy with nothing under the target name,
// never a torn copy that claims to be complete.
TEST(CopySourceChangeTest, SourceCutShortDuringTheCopyLeavesNoCopy) {
  const fs::path root =
      fs::temp_directory_path() /
      ("vm_copy_change_test_" + std::to_string(std::random_device()()));
  ASSERT_TRUE(fs::create_directory(root));
  constexpr size_t kSize = size_t{16} << 20;
  // The second half is zeros, so putting the size back restores the file:
  // every copy that completes holds the whole file or its first half.
  const std::string whole =
      std::string(kSize / 2, 'x') + std::string(kSize / 2, '\0');
  const fs::path source = root / "big.in";
  std::ofstream(source, std::ios::binary) << whole;
  std::unique_ptr<FileSystem> disk = NewDiskFileSystem();
  std::atomic<bool> stop{false};
  std::thread truncater([&] {
    while (!stop.load()) {
      ASSERT_EQ(::truncate(source.c_str(), kSize / 2), 0);
      ASSERT_EQ(::truncate(source.c_str(), kSize), 0);
    }
  });
  int failed = 0;
  for (int i = 0; i < 100 && failed == 0; ++i) {
    const fs::path to = root / ("copy" + std::to_string(i) + ".in");
    const CopyResult result =
        disk->CopyNew(source.string(), to.string(), nullptr);
    if (result == CopyResult::kCopied) {
      std::ifstream in(to, std::ios::binary);
      std::stringstream copy;
      copy << in.rdbuf();
      if (copy.str() != whole && copy.str() != whole.substr(0, kSize / 2)) {
        ADD_FAILURE() << "a torn copy of " << copy.str().size() << " bytes";
        break;
      }
    } else {
      EXPECT_EQ(result, CopyResult::kFailed);
      EXPECT_FALSE(fs::exists(to));
      ++failed;
    }
  }
  stop = true;
  truncater.join();
  EXPECT_GT(failed, 0);
  fs::remove_all(root);
}

// A source that grew after its status was taken (a message still being
// delivered) is not copied as complete, in place or into a staging folder,
// and leaves nothing under the target name. Fault: a copy that trusts the
// first status and takes the bytes up to that size for the whole file.
TEST(CopySourceChangeTest, SourceThatGrewAfterItsStatusIsNotCopied) {
  const fs::path root =
      fs::temp_directory_path() /
      ("vm_copy_grew_test_" + std::to_string(std::random_device()()));
  ASSERT_TRUE(fs::create_directory(root));
  const fs::path source = root / "1.in";
  std::ofstream(source, std::ios::binary) << "first part";
  ScopedFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  ScopedFd dir(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  struct stat st, dir_status;
  ASSERT_TRUE(::fstat(in.get(), &st) == 0 &&
              ::fstat(dir.get(), &dir_status) == 0);
  std::ofstream(source, std::ios::binary | std::ios::app) << ", and more";
  const CopyWriter writer;
  std::string temp;
  bool changed = false;
  EXPECT_EQ(writer.CopyInto(in.get(), st, dir.get(), dir_status, "a.in", &temp,
                            &changed, nullptr),
            CopyResult::kFailed);
  EXPECT_TRUE(changed);
  if (!temp.empty()) ::unlinkat(dir.get(), temp.c_str(), 0);
  changed = false;
  EXPECT_EQ(writer.CopyIntoNew(in.get(), st, (root / "b.in").string(), &changed,
                               nullptr),
            CopyResult::kFailed);
  EXPECT_TRUE(changed);
  EXPECT_EQ(std::distance(fs::directory_iterator(root), {}), 1);
  fs::remove_all(root);
}

}  // namespace
}  // namespace vm
