#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <system_error>
#include <utility>

#include "platform/code_page.h"
#include "platform/file_error.h"
#include "platform/name_cache_posix.h"
#include "platform/posix_io.h"
#include "platform/run_lock.h"

namespace vm {
namespace {

constexpr size_t kMaxHolderText = 4096;

std::string ErrorText(int err) {
  return std::error_code(err, std::generic_category()).message();
}

// The native path of an ANSI folder path: separators mapped, and each
// component that does not exist as spelled taken from its directory
// without regard to ASCII case, as the file system resolves the paths the
// run reads and writes. Empty when the bytes are not valid in the code
// page.
std::string NativeFolder(const CodePage& code_page, const std::string& dir) {
  if (dir.empty() || !code_page.IsValidAnsi(dir)) return std::string();
  std::string utf8 = code_page.ToUtf8(dir);
  for (char& c : utf8) {
    if (c == '\\') c = '/';
  }
  struct stat st;
  if (::stat(utf8.c_str(), &st) == 0) return utf8;
  FoldedNameCache names;
  std::string resolved = utf8[0] == '/' ? "/" : "";
  size_t pos = 0;
  while (pos < utf8.size()) {
    size_t end = utf8.find('/', pos);
    if (end == std::string::npos) end = utf8.size();
    const std::string part = utf8.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty()) continue;
    const std::string base =
        resolved.empty() || resolved.back() == '/' ? resolved : resolved + "/";
    std::string found = part;
    if (part != "." && part != ".." &&
        ::lstat((base + part).c_str(), &st) != 0) {
      found = names.Find(resolved, part);
      if (found.empty()) found = part;
    }
    resolved = base + found;
  }
  return resolved;
}

// An advisory flock on the lock file. The kernel drops it when the holding
// process dies.
class FlockRunLock : public RunLock {
 public:
  FlockRunLock(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  ~FlockRunLock() override {
    if (exclusive_) Unlock();
    ::close(fd_);
  }

  LockResult TryLock(RunLockMode mode, const std::string& holder) override {
    const bool exclusive = mode == RunLockMode::kExclusive;
    int rc;
    do {
      rc = ::flock(fd_, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      return errno == EWOULDBLOCK ? LockResult::kBusy : LockResult::kFailed;
    }
    if (!exclusive) return LockResult::kLocked;
    exclusive_ = true;
    if (::ftruncate(fd_, 0) == 0 &&
        ::pwrite(fd_, holder.data(), holder.size(), 0) < 0) {
      // Held all the same; a refused run names no holder then.
    }
    return LockResult::kLocked;
  }

  void Unlock() override {
    if (exclusive_ && ::ftruncate(fd_, 0) != 0) {
      // The text stays; the next holder replaces it.
    }
    exclusive_ = false;
    ::flock(fd_, LOCK_UN);
  }

  bool HeldExclusively() override {
    if (::flock(fd_, LOCK_SH | LOCK_NB) != 0) return errno == EWOULDBLOCK;
    ::flock(fd_, LOCK_UN);
    return false;
  }

  std::string HolderText() override {
    std::string text(kMaxHolderText, '\0');
    const ssize_t n = ::pread(fd_, text.data(), text.size(), 0);
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return text;
  }

  const std::string& where() const override { return path_; }

 private:
  std::string path_;
  int fd_;
  bool exclusive_ = false;
};

}  // namespace

std::unique_ptr<RunLock> OpenRunLock(const CodePage& code_page,
                                     const std::string& dir, bool create,
                                     std::string* error, bool* missing) {
  *missing = false;
  const std::string folder = NativeFolder(code_page, dir);
  const std::string path = folder + "/" + RunLock::kFileName;
  if (folder.empty()) {
    *error = "cannot use the lock file in " + code_page.ToUtf8(dir) +
             ": the path is not valid in the code page";
    return nullptr;
  }
  // Nothing planted at the lock's path is followed or waited on.
  const int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
  int fd = ::open(path.c_str(), O_RDWR | flags);
  if (fd < 0 && errno == ENOENT && !create) {
    *missing = true;
  } else if (fd < 0 && errno == ENOENT) {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | flags, 0644);
    if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), O_RDWR | flags);
    *missing = fd < 0 && (errno == ENOENT || errno == EACCES ||
                          errno == EPERM || errno == EROFS);
  } else if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
    // Enough for a shared hold and for reading a holder's text.
    fd = ::open(path.c_str(), O_RDONLY | flags);
  }
  int err = errno;
  struct stat st;
  if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd);
    fd = -1;
    err = EINVAL;
  }
  if (fd < 0) {
    // The kind first, as every file error gives it: a link planted at the
    // lock's name is told as a link.
    const FileErrorKind kind =
        err == EINVAL ? FileErrorKind::kNotRegular : KindOfErrno(err);
    *error = FileErrorText(
        {kind, err}, "cannot use the lock file " + path + ": " +
                         (err == ELOOP    ? std::string("a symbolic link")
                          : err == EINVAL ? std::string("not a regular file")
                                          : ErrorText(err)));
    return nullptr;
  }
  return std::make_unique<FlockRunLock>(path, fd);
}

std::string ThisHostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof(name) - 1) != 0) return "?";
  return name;
}

int64_t ThisProcessId() { return static_cast<int64_t>(::getpid()); }

}  // namespace vm
