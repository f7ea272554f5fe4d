#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "platform/interprocess_lock.h"

namespace vm {
namespace {

int OpenLockFile(const std::string& path) {
  // Every user of the tool shares the lock, so the file is world-writable
  // (within the umask); O_NOFOLLOW keeps a planted link from redirecting it.
  int fd =
      ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
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

  bool Lock() override {
    // A forked child shares the parent's open file, and with it the flock:
    // it needs a descriptor of its own to be excluded from the parent.
    if (owner_ != ::getpid()) {
      int fd = OpenLockFile(path_);
      if (fd < 0) return false;
      ::close(fd_);
      fd_ = fd;
      owner_ = ::getpid();
    }
    for (;;) {
      if (::flock(fd_, LOCK_EX) == 0) return true;
      if (errno != EINTR) return false;
    }
  }

  void Unlock() override { ::flock(fd_, LOCK_UN); }

 private:
  std::string path_;
  int fd_;
  pid_t owner_;
};

}  // namespace

std::unique_ptr<InterprocessLock> OpenInterprocessLock(
    const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return nullptr;
  const char* dir = ::getenv("VELQUOR_LOCK_DIR");
  std::string path = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
  path += "/" + name;
  int fd = OpenLockFile(path);
  if (fd < 0) return nullptr;
  return std::make_unique<FlockLock>(std::move(path), fd);
}

}  // namespace vm
