#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/clock.h"
#include "platform/interprocess_lock.h"

namespace vm {
namespace {

// Opens the lock file `name` in the folder `dir` (AT_FDCWD for a full
// path), creating it when it is missing. Nothing planted at the lock's path
// is followed or waited on: a link, FIFO, device or directory is refused
// (errno ELOOP or EINVAL), never used as the lock. The file holds nothing;
// 0644 lets every user who may reach it open it for reading, which is all
// flock needs.
int OpenLockFile(int dir, const char* name) {
  const int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
  int fd = ::openat(dir, name, O_RDWR | flags);
  if (fd < 0 && errno == ENOENT) {
    fd = ::openat(dir, name, O_RDWR | O_CREAT | O_EXCL | flags, 0644);
    if (fd < 0 && errno == EEXIST) fd = ::openat(dir, name, O_RDWR | flags);
  }
  if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
    fd = ::openat(dir, name, O_RDONLY | flags);
  }
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}

// The lock folder when VELQUOR_LOCK_DIR names none: one only this user
// can have made. Root's lies in /run, which only root may write; another
// user's in the sticky /run/lock (or /tmp), where nobody can rename or
// remove it once it is ours, and where one somebody else made first is
// refused rather than used.
std::string PrivateLockDir() {
  const uid_t uid = ::geteuid();
  struct stat st;
  auto is_dir = [&st](const char* path) {
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
  };
  if (uid == 0 && is_dir("/run")) return "/run/velquor-migrate";
  const std::string base = is_dir("/run/lock") ? "/run/lock" : "/tmp";
  return base + "/velquor-migrate-" + std::to_string(uid);
}

// Opens the lock folder; -1 with *error set when it cannot be used.
int OpenLockDir(std::string* dir, std::string* error) {
  const char* configured = ::getenv("VELQUOR_LOCK_DIR");
  if (configured != nullptr && *configured != '\0') {
    *dir = configured;
    int fd = ::open(dir->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
      *error = "cannot use the lock folder " + *dir + ": " +
               std::error_code(errno, std::generic_category()).message();
    }
    return fd;
  }
  *dir = PrivateLockDir();
  if (::mkdir(dir->c_str(), 0700) != 0 && errno != EEXIST) {
    *error = "cannot create the lock folder " + *dir + ": " +
             std::error_code(errno, std::generic_category()).message();
    return -1;
  }
  int fd =
      ::open(dir->c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_uid != ::geteuid() ||
      (st.st_mode & 022) != 0) {
    if (fd >= 0) ::close(fd);
    *error = "cannot use the lock folder " + *dir +
             ": not a folder of this user's own (another user may have made "
             "it); set VELQUOR_LOCK_DIR to a folder of your own";
    return -1;
  }
  return fd;
}

// An advisory flock on a file in the lock directory. The kernel drops the
// lock when the holding process dies, as Windows abandons a named mutex.
class FlockLock : public InterprocessLock {
 public:
  FlockLock(std::string path, int fd)
      : path_(std::move(path)), fd_(fd), owner_(::getpid()) {}
  ~FlockLock() override { ::close(fd_); }
  FlockLock(const FlockLock&) = delete;
  FlockLock& operator=(const FlockLock&) = delete;

  LockResult LockWithin(int64_t millis) override {
    // A forked child shares the parent's open file, and with it the flock:
    // it needs a descriptor of its own to be excluded from the parent.
    if (owner_ != ::getpid()) {
      int fd = OpenLockFile(AT_FDCWD, path_.c_str());
      if (fd < 0) return LockResult::kFailed;
      ::close(fd_);
      fd_ = fd;
      owner_ = ::getpid();
    }
    // flock cannot wait with a time limit: it is tried again, at first
    // often, so that a lock held for a moment costs little.
    const Clock* clock = SystemClock();
    const int64_t deadline = clock->MonotonicMicros() + millis * 1000;
    int64_t pause = 200;
    for (;;) {
      if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return LockResult::kLocked;
      if (errno == EINTR) continue;
      if (errno != EWOULDBLOCK) return LockResult::kFailed;
      const int64_t now = clock->MonotonicMicros();
      if (now >= deadline) return LockResult::kBusy;
      std::this_thread::sleep_for(
          std::chrono::microseconds(std::min(pause, deadline - now)));
      pause = std::min<int64_t>(pause * 2, 20000);
    }
  }

  void Unlock() override { ::flock(fd_, LOCK_UN); }

  const std::string& where() const override { return path_; }

 private:
  std::string path_;
  int fd_;
  pid_t owner_;
};

}  // namespace

std::unique_ptr<InterprocessLock> OpenInterprocessLock(const std::string& name,
                                                       std::string* error) {
  std::string problem;
  if (name.empty() || name.find('/') != std::string::npos) {
    problem = "invalid lock name " + name;
  }
  std::string dir;
  int dir_fd = problem.empty() ? OpenLockDir(&dir, &problem) : -1;
  int fd = -1;
  if (dir_fd >= 0) {
    fd = OpenLockFile(dir_fd, name.c_str());
    const int err = errno;
    ::close(dir_fd);
    if (fd < 0) {
      problem = "cannot use the lock file " + dir + "/" + name + ": " +
                (err == ELOOP || err == EINVAL || err == EISDIR
                     ? std::string("not a regular file")
                     : std::error_code(err, std::generic_category()).message());
    }
  }
  if (fd < 0) {
    if (error != nullptr) *error = problem;
    return nullptr;
  }
  return std::make_unique<FlockLock>(dir + "/" + name, fd);
}

}  // namespace vm
