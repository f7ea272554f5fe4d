#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <system_error>
#include <utility>

#include "platform/interprocess_lock.h"

namespace vm {
namespace {

// Opens the lock file, creating it when it is missing. It lies in a folder
// every user may write (/tmp by default), so nothing planted there is
// followed or waited on: a link, FIFO, device or directory at the lock's
// path is refused (errno ELOOP or EINVAL), never used as the lock. The file
// holds nothing; 0644 lets every user open it for reading, which is all
// flock needs.
int OpenLockFile(const std::string& path) {
  const int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
  int fd = ::open(path.c_str(), O_RDWR | flags);
  if (fd < 0 && errno == ENOENT) {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | flags, 0644);
    if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), O_RDWR | flags);
  }
  if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
    fd = ::open(path.c_str(), O_RDONLY | flags);
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

std::unique_ptr<InterprocessLock> OpenInterprocessLock(const std::string& name,
                                                       std::string* error) {
  if (name.empty() || name.find('/') != std::string::npos) {
    if (error != nullptr) *error = "invalid lock name " + name;
    return nullptr;
  }
  const char* dir = ::getenv("VELQUOR_LOCK_DIR");
  std::string path = (dir != nullptr && *dir != '\0') ? dir : "/tmp";
  path += "/" + name;
  int fd = OpenLockFile(path);
  if (fd < 0) {
    if (error != nullptr) {
      *error =
          "cannot use the lock file " + path + ": " +
          (errno == ELOOP || errno == EINVAL || errno == EISDIR
               ? std::string("not a regular file")
               : std::error_code(errno, std::generic_category()).message());
    }
    return nullptr;
  }
  return std::make_unique<FlockLock>(std::move(path), fd);
}

}  // namespace vm
