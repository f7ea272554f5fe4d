// Stores shared between processes: these tests fork, so they run on POSIX
// only.
#include <signal.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "config/config_lock.h"
#include "config/shared_config_states.h"
#include "config/target_context.h"
#include "config/user_store.h"
#include "platform/file_system.h"
#include "platform/interprocess_lock.h"
#include "testing/child_process.h"
#include "testing/fixed_clock.h"
#include "testing/golden.h"

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
    NewStates();  // opens the locks in the new directory
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
    states_.reset();
    fs::remove_all(dir_);
  }

  // A fresh run's shared states, its locks opened under the environment.
  void NewStates() {
    states_ = std::make_unique<SharedConfigStates>();
    context_.states = states_.get();
  }

  // A child holding the lock of userauth.cfg until `release` says so.
  int HoldLock(Child* child, const std::function<bool()>& release) {
    std::unique_ptr<InterprocessLock> lock =
        OpenInterprocessLock("Tarnwick_userauth.cfg");
    if (lock == nullptr || lock->LockWithin(20000) != LockResult::kLocked) {
      return 1;
    }
    child->Ready();
    return release() ? 0 : 2;
  }

  // Records what the waits tell; the first notice creates the file
  // "waiting" and runs `on_waiting`.
  struct Listener : LockWaitListener {
    void LockWaiting(const std::string& file,
                     const std::string& where) override {
      told.push_back("waiting " + file + " " + where);
      std::ofstream(dir / "waiting") << "";
      if (on_waiting) on_waiting();
    }
    void LockGivenUp(const std::string& file,
                     const std::string& where) override {
      told.push_back("given up " + file + " " + where);
    }
    fs::path dir;
    std::function<void()> on_waiting;
    std::vector<std::string> told;
  };

  // Lets the listener hear of every wait at once.
  void SetLimitMillis(int64_t give_up) {
    states_->For("userauth.cfg").named_lock.SetLimits({0, give_up});
    listener_.dir = dir_;
    context_.lock_waits = &listener_;
  }
  std::string Where() const {
    return "userauth.cfg " +
           (dir_ / "locks" / "Tarnwick_userauth.cfg").string();
  }

  fs::path dir_;
  std::unique_ptr<FileSystem> disk_;
  FixedClock clock_;
  std::unique_ptr<SharedConfigStates> states_;
  TargetContext context_;
  UserRecord user_;
  Listener listener_;
};

// The holder lets go only once the parent is heard waiting, and leaves a
// mark that exists before the parent's save can end only if the save
// waited for the lock.
TEST_F(StoreProcessTest, SaveWaitsForAnotherProcessHoldingTheLock) {
  SetLimitMillis(600000);
  UserStore store(&context_);
  Child holder([&](Child* self) {
    return HoldLock(self, [&] {
      const bool waited = AwaitFile((dir_ / "waiting").string());
      std::ofstream(dir_ / "mark") << "released";
      return waited;
    });
  });
  ASSERT_TRUE(holder.WaitReady());
  EXPECT_EQ(store.AddUser(user_), AddUserResult::kAdded);
  EXPECT_TRUE(store.SavePending());
  EXPECT_TRUE(fs::exists(dir_ / "mark")) << "the save did not wait";
  EXPECT_EQ(holder.Wait(), 0) << "the save never waited for the lock";
  EXPECT_EQ(listener_.told, std::vector<std::string>{"waiting " + Where()});
}

// A lock another process keeps: the wait says what it waits for, and the
// save fails once the limit has passed or a stop request ends the wait,
// with the file as it was and the addition still pending; a later save,
// once the holder has let go, writes it. The holder lets go once the save
// has ended (or after 20 s, when it waits too long).
TEST_F(StoreProcessTest, WaitForAHeldLockEndsWithAFailure) {
  const struct {
    const char* name;
    int64_t limit;
    bool interrupt;
    std::vector<std::string> told;  // after "waiting"
  } kCases[] = {
      {"limit passed", 0, false, {"given up"}},
      {"stop requested", 600000, true, {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    NewStates();
    std::ofstream(dir_ / "userauth.cfg", std::ios::binary)
        << Golden("config/userauth_empty.cfg");
    fs::remove(dir_ / "waiting");
    fs::remove(dir_ / "done");
    listener_.told.clear();
    SetLimitMillis(c.limit);
    listener_.on_waiting = [&] {
      if (c.interrupt) states_->InterruptCurrentLockWaits();
    };
    UserStore store(&context_);
    Child holder([&](Child* self) {
      return HoldLock(self,
                      [&] { return AwaitFile((dir_ / "done").string()); });
    });
    ASSERT_TRUE(holder.WaitReady());
    EXPECT_EQ(store.AddUser(user_), AddUserResult::kAdded);
    EXPECT_FALSE(store.SavePending());
    std::ofstream(dir_ / "done") << "";
    EXPECT_EQ(holder.Wait(), 0);
    std::ifstream file(dir_ / "userauth.cfg", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}),
              Golden("config/userauth_empty.cfg"));
    std::vector<std::string> told = {"waiting " + Where()};
    for (const std::string& t : c.told) told.push_back(t + " " + Where());
    EXPECT_EQ(listener_.told, told);
    EXPECT_TRUE(store.HasPending());
    EXPECT_TRUE(store.SavePending());
  }
}

TEST_F(StoreProcessTest, TimeLimitThatIsNoNumberOfSecondsStopsTheRun) {
  setenv("VELQUOR_LOCK_TIMEOUT", "10m", 1);
  NewStates();
  std::string error;
  const bool usable = states_->LocksUsable(&error);
  unsetenv("VELQUOR_LOCK_TIMEOUT");
  EXPECT_FALSE(usable);
  EXPECT_EQ(error, "VELQUOR_LOCK_TIMEOUT is not a number of seconds: 10m");
}

TEST_F(StoreProcessTest, KilledHolderDoesNotBlockSaving) {
  UserStore store(&context_);
  Child holder(
      [&](Child* self) { return HoldLock(self, [] { return pause() == 0; }); });
  ASSERT_TRUE(holder.WaitReady());
  kill(holder.pid(), SIGKILL);
  EXPECT_EQ(holder.Wait(), -1);
  EXPECT_EQ(store.AddUser(user_), AddUserResult::kAdded);
  EXPECT_TRUE(store.SavePending());
}

// The save reads the file on disk in blocks to see whether another program
// changed it: a change anywhere, of any size, must be seen and merged, not
// written over; an untouched file is simply replaced.
TEST_F(StoreProcessTest, ChangeInAnyBlockOfALargeFileIsMerged) {
  std::string base = Golden("config/userauth_empty.cfg");
  base.insert(base.find("</database>"), std::string(200000, ' ') + "\r\n");
  const struct {
    const char* what;
    size_t at;   // from the end; 0: nothing changed
    int change;  // bytes added (-1: one removed, 0: one replaced)
  } kCases[] = {{"untouched", 0, 0},
                {"last block", 20, 0},
                {"middle, same size", base.size() / 2, 0},
                {"longer", 13, 1},
                {"shorter", 30, -1}};
  for (const auto& c : kCases) {
    std::ofstream(dir_ / "userauth.cfg", std::ios::binary) << base;
    NewStates();  // no parse of an earlier case is taken for this file
    UserStore store(&context_);
    ASSERT_EQ(store.AddUser(user_), AddUserResult::kAdded);
    std::string other = base;
    const size_t at = other.size() - c.at;
    if (c.change > 0) other.insert(at, "\r\n");
    if (c.change < 0) other.erase(at, 1);
    if (c.change == 0 && c.at != 0) other[at] = '\t';
    std::ofstream(dir_ / "userauth.cfg", std::ios::binary) << other;
    ASSERT_TRUE(store.SavePending()) << c.what;
    std::string after =
        ReadFileText(disk_.get(), context_.target_dir + "\\userauth.cfg");
    const size_t item = after.find("<item>");
    ASSERT_NE(item, std::string::npos) << c.what;
    after.erase(item, after.find("</item>\r\n") + 9 - item);
    EXPECT_EQ(after, other) << c.what;
  }
}

}  // namespace
}  // namespace vm
