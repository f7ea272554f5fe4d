#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "platform/code_page.h"
#include "platform/file_error.h"
#include "platform/run_lock.h"
#include "testing/child_process.h"

namespace vm {
namespace {

namespace fs = std::filesystem;

class RunLockTest : public testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("vm_run_lock_test_" + std::to_string(std::random_device()()));
    ASSERT_TRUE(fs::create_directories(root_ / "Data"));
    code_page_ = OpenCodePage("GBK");
    ASSERT_NE(code_page_, nullptr);
  }
  void TearDown() override { fs::remove_all(root_); }

  // The folder as the core spells it: backslashes, any letter case.
  std::unique_ptr<RunLock> Open(const std::string& folder, bool* missing) {
    auto lock = OpenRunLock(*code_page_, root_.string() + "\\" + folder, true,
                            &error_, missing);
    return lock;
  }
  std::unique_ptr<RunLock> Open(const std::string& folder) {
    bool missing = false;
    return Open(folder, &missing);
  }

  fs::path root_;
  std::unique_ptr<CodePage> code_page_;
  std::string error_;  // of the last Open
};

// A writer holds the target alone and is named while it does; readers
// share it; a holder that dies lets go. Every spelling of the folder meets
// the same lock.
TEST_F(RunLockTest, ExclusiveAndSharedHoldersAcrossProcesses) {
  const std::string text = "host=h\npid=1\n";
  Child writer([&](Child* self) {
    auto lock = Open("Data");
    if (lock == nullptr ||
        lock->TryLock(RunLockMode::kExclusive, text) != LockResult::kLocked) {
      return 1;
    }
    self->Ready();
    pause();  // until killed
    return 0;
  });
  ASSERT_TRUE(writer.WaitReady());
  auto other = Open("DATA");
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other->TryLock(RunLockMode::kExclusive, "x"), LockResult::kBusy);
  EXPECT_EQ(other->TryLock(RunLockMode::kShared, ""), LockResult::kBusy);
  EXPECT_TRUE(other->HeldExclusively());
  EXPECT_EQ(other->HolderText(), text);

  kill(writer.pid(), SIGKILL);
  EXPECT_EQ(writer.Wait(), -1);
  EXPECT_FALSE(other->HeldExclusively());
  ASSERT_EQ(other->TryLock(RunLockMode::kShared, ""), LockResult::kLocked);
  Child reader([&](Child*) {
    auto lock = Open("data");
    if (lock == nullptr) return 1;
    if (lock->TryLock(RunLockMode::kShared, "") != LockResult::kLocked) {
      return 2;
    }
    lock->Unlock();
    if (lock->TryLock(RunLockMode::kExclusive, "y") != LockResult::kBusy) {
      return 3;
    }
    return lock->HeldExclusively() ? 4 : 0;
  });
  EXPECT_EQ(reader.Wait(), 0);
  other->Unlock();
  ASSERT_EQ(other->TryLock(RunLockMode::kExclusive, "z"), LockResult::kLocked);
  EXPECT_EQ(other->HolderText(), "z");
  other->Unlock();
  EXPECT_EQ(other->HolderText(), "");
}

// Nothing planted at the lock's path is used as the lock; a folder that
// does not exist holds no lock, and says so.
TEST_F(RunLockTest, RefusesLinksAndTellsAMissingFolder) {
  bool missing = false;
  EXPECT_EQ(Open("store", &missing), nullptr);
  EXPECT_TRUE(missing);
  fs::create_directory(root_ / "linked");
  fs::create_symlink(root_ / "elsewhere",
                     root_ / "linked" / RunLock::kFileName);
  EXPECT_EQ(Open("linked", &missing), nullptr);
  EXPECT_FALSE(missing);
  EXPECT_EQ(ParseFileError(error_).kind, FileErrorKind::kIsLink) << error_;
  EXPECT_FALSE(fs::exists(root_ / "elsewhere"));
  fs::create_directory(root_ / "dir");
  fs::create_directory(root_ / "dir" / RunLock::kFileName);
  EXPECT_EQ(Open("dir", &missing), nullptr);
  EXPECT_EQ(ParseFileError(error_).kind, FileErrorKind::kNotRegular) << error_;
}

}  // namespace
}  // namespace vm
