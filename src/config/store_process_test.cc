// Stores shared between processes: these tests fork, so they run on POSIX
// only.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "config/config_test_util.h"
#include "config/user_store.h"
#include "platform/interprocess_lock.h"

namespace vm {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

// Whether /proc/locks shows process `pid` waiting for an flock.
bool IsWaitingForLock(pid_t pid) {
  std::ifstream locks("/proc/locks");
  std::string line;
  std::string needle = " " + std::to_string(pid) + " ";
  while (std::getline(locks, line)) {
    if (line.find("-> FLOCK") != std::string::npos &&
        line.find(needle) != std::string::npos) {
      return true;
    }
  }
  return false;
}

class StoreProcessTest : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir_ = fs::temp_directory_path() /
           ("vm_store_process_test_" + std::to_string(random()));
    ASSERT_TRUE(fs::create_directories(dir_ / "locks"));
    setenv("VELQUOR_LOCK_DIR", (dir_ / "locks").c_str(), 1);
    ResetSharedConfigStates();  // opens the locks in the new directory
    disk_ = NewDiskFileSystem();
    context_.fs = disk_.get();
    context_.clock = &clock_;
    context_.target_dir = dir_.string();
    context_.primary_domain = "main.com";
    std::ofstream(dir_ / "userauth.cfg", std::ios::binary) << kEmptyUserauthCfg;
  }
  void TearDown() override {
    unsetenv("VELQUOR_LOCK_DIR");
    ResetSharedConfigStates();
    fs::remove_all(dir_);
  }

  UserRecord Account(const std::string& name) {
    UserRecord u;
    u.name = name;
    u.domain = "main.com";
    u.password = "{md5}00000000000000000000000000000000";
    return u;
  }

  fs::path dir_;
  std::unique_ptr<FileSystem> disk_;
  FixedClock clock_{1700000000};
  TargetContext context_;
};

TEST_F(StoreProcessTest, SaveWaitsForAnotherProcessHoldingTheLock) {
  UserStore store(&context_);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t parent = getpid();
  pid_t child = fork();
  if (child == 0) {
    std::unique_ptr<InterprocessLock> lock =
        OpenInterprocessLock("Tarnwick_userauth.cfg");
    if (lock == nullptr || !lock->Lock()) _exit(1);
    char c = 'L';
    if (write(ready[1], &c, 1) != 1) _exit(1);
    // Let go only once the parent is seen waiting, and leave a mark that
    // can only exist if the parent's save came after it.
    for (int i = 0; i < 20000 && !IsWaitingForLock(parent); ++i) usleep(1000);
    if (!IsWaitingForLock(parent)) _exit(2);
    std::ofstream(dir_ / "mark") << "held";
    lock->Unlock();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  EXPECT_EQ(store.AddUser(Account("bob")), kUserAdded);
  EXPECT_TRUE(fs::exists(dir_ / "mark"));
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NE(Slurp(dir_ / "userauth.cfg").find("<name>bob</name>"),
            std::string::npos);
  close(ready[0]);
  close(ready[1]);
}

TEST_F(StoreProcessTest, KilledHolderDoesNotBlockSaving) {
  UserStore store(&context_);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  if (child == 0) {
    std::unique_ptr<InterprocessLock> lock =
        OpenInterprocessLock("Tarnwick_userauth.cfg");
    if (lock == nullptr || !lock->Lock()) _exit(1);
    char c = 'L';
    if (write(ready[1], &c, 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(store.AddUser(Account("bob")), kUserAdded);
  close(ready[0]);
  close(ready[1]);
}

TEST_F(StoreProcessTest, SaveThatRunsOutOfSpaceKeepsTheOldFile) {
  UserStore store(&context_);
  ASSERT_EQ(store.AddUser(Account("first")), kUserAdded);
  const std::string before = Slurp(dir_ / "userauth.cfg");
  pid_t child = fork();
  if (child == 0) {
    // Writes past this size fail with EFBIG instead of killing the process.
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {before.size() + 100, before.size() + 100};
    setrlimit(RLIMIT_FSIZE, &limit);
    UserRecord big = Account("second");
    big.description = std::string(4096, 'd');
    _exit(store.AddUser(big) == kUserFailed ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Slurp(dir_ / "userauth.cfg"), before);
  size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(dir_)) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 2u);  // userauth.cfg and the lock directory only
}

TEST_F(StoreProcessTest, ConcurrentSaversNeverLeaveAnUnparsableFile) {
  constexpr int kWriters = 2;
  constexpr int kUsersEach = 150;
  pid_t writers[kWriters];
  for (int w = 0; w < kWriters; ++w) {
    writers[w] = fork();
    if (writers[w] == 0) {
      UserStore store(&context_);
      for (int i = 0; i < kUsersEach; ++i) {
        std::string name = "w" + std::to_string(w) + "_" + std::to_string(i);
        if (store.AddUser(Account(name)) != kUserAdded) _exit(1);
      }
      _exit(0);
    }
  }
  // Read the file as another program would, without the lock, while the
  // writers run: every version seen must parse.
  int running = kWriters;
  int reads = 0;
  int bad = 0;
  while (running > 0) {
    std::string text = Slurp(dir_ / "userauth.cfg");
    XmlDocument doc;
    if (!doc.LoadText(text)) ++bad;
    ++reads;
    for (pid_t& pid : writers) {
      int status = 0;
      if (pid > 0 && waitpid(pid, &status, WNOHANG) == pid) {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        pid = 0;
        --running;
      }
    }
  }
  EXPECT_EQ(bad, 0) << "of " << reads << " reads";
  XmlDocument last;
  EXPECT_TRUE(last.LoadText(Slurp(dir_ / "userauth.cfg")));
  // The last save of either writer holds all of that writer's users.
  UserStore reader(&context_);
  bool all_of_one = false;
  for (int w = 0; w < kWriters; ++w) {
    bool all = true;
    for (int i = 0; i < kUsersEach && all; ++i) {
      all = reader.UserExists("w" + std::to_string(w) + "_" + std::to_string(i),
                              "");
    }
    all_of_one = all_of_one || all;
  }
  EXPECT_TRUE(all_of_one);
}

}  // namespace
}  // namespace vm
