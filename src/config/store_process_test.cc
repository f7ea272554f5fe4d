// Stores shared between processes: these tests fork, so they run on POSIX
// only.
#include <signal.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "config/target_context.h"
#include "config/user_store.h"
#include "platform/file_system.h"
#include "platform/interprocess_lock.h"
#include "testing/fixed_clock.h"
#include "tests/support/child_process.h"
#include "tests/support/golden.h"

namespace vm {
namespace {

namespace fs = std::filesystem;

class StoreProcessTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("vm_store_process_test_" + std::to_string(std::random_device()()));
    ASSERT_TRUE(fs::create_directories(dir_ / "locks"));
    setenv("VELQUOR_LOCK_DIR", (dir_ / "locks").c_str(), 1);
    ResetSharedConfigStates();  // opens the locks in the new directory
    disk_ = NewDiskFileSystem();
    context_.fs = disk_.get();
    context_.clock = &clock_;
    context_.target_dir = dir_.string();
    context_.primary_domain = "main.com";
    std::ofstream(dir_ / "userauth.cfg", std::ios::binary)
        << Golden("config/userauth_empty.cfg");
    user_.name = "bob";
    user_.password = "{md5}00000000000000000000000000000000";
  }
  void TearDown() override {
    unsetenv("VELQUOR_LOCK_DIR");
    ResetSharedConfigStates();
    fs::remove_all(dir_);
  }

  // A child holding the lock of userauth.cfg until `release` says so.
  int HoldLock(Child* child, const std::function<bool()>& release) {
    std::unique_ptr<InterprocessLock> lock =
        OpenInterprocessLock("Tarnwick_userauth.cfg");
    if (lock == nullptr || !lock->Lock()) return 1;
    child->Ready();
    return release() ? 0 : 2;
  }

  fs::path dir_;
  std::unique_ptr<FileSystem> disk_;
  FixedClock clock_;
  TargetContext context_;
  UserRecord user_;
};

// The holder lets go only once the parent is seen waiting, and leaves a
// mark that exists before the parent's save can end only if the save
// waited for the lock.
TEST_F(StoreProcessTest, SaveWaitsForAnotherProcessHoldingTheLock) {
  UserStore store(&context_);
  const pid_t parent = getpid();
  Child holder([&](Child* self) {
    return HoldLock(self, [&] {
      const bool waited = AwaitWaitingForLock(parent);
      std::ofstream(dir_ / "mark") << "released";
      return waited;
    });
  });
  ASSERT_TRUE(holder.WaitReady());
  EXPECT_EQ(store.AddUser(user_), kUserAdded);
  EXPECT_TRUE(store.SavePending());
  EXPECT_TRUE(fs::exists(dir_ / "mark")) << "the save did not wait";
  EXPECT_EQ(holder.Wait(), 0) << "the save never waited for the lock";
}

TEST_F(StoreProcessTest, KilledHolderDoesNotBlockSaving) {
  UserStore store(&context_);
  Child holder(
      [&](Child* self) { return HoldLock(self, [] { return pause() == 0; }); });
  ASSERT_TRUE(holder.WaitReady());
  kill(holder.pid(), SIGKILL);
  EXPECT_EQ(holder.Wait(), -1);
  EXPECT_EQ(store.AddUser(user_), kUserAdded);
  EXPECT_TRUE(store.SavePending());
}

}  // namespace
}  // namespace vm
