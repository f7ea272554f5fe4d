#include "platform/beneath_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/posix_io.h"

namespace vm {
namespace {

// openat2 resolving `path` beneath `dir` and never through a link; -1 with
// errno ENOSYS where the system has no openat2 at all.
int OpenAt2(int dir, const std::string& path, int flags) {
#ifdef SYS_openat2
  struct open_how how = {};
  how.flags = static_cast<uint64_t>(flags);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  return static_cast<int>(
      ::syscall(SYS_openat2, dir, path.c_str(), &how, sizeof(how)));
#else
  errno = ENOSYS;
  return -1;
#endif
}

// After a failed open of `name` in `dir` without following it: ELOOP when
// a symbolic link is what is there (an open of a link as a folder says
// ENOTDIR), else errno as it was.
void TellLink(int dir, const std::string& name) {
  const int err = errno;
  struct stat st;
  const bool link =
      (err == ENOTDIR || err == ELOOP) &&
      ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(st.st_mode);
  errno = link ? ELOOP : err;
}

}  // namespace

int BeneathResolver::OpenDir(int dir, const std::string& dir_path,
                             const std::vector<std::string>& parts,
                             size_t count, int flags, std::string* path) const {
  flags |= O_DIRECTORY | O_CLOEXEC;
  if (count == 0) {
    *path = dir_path;
    return ::openat(dir, ".", flags);
  }
  if (openat2_.load(std::memory_order_relaxed)) {
    std::string joined = parts[0];
    for (size_t i = 1; i < count; ++i) joined += "/" + parts[i];
    const int fd = OpenAt2(dir, joined, flags);
    if (fd >= 0) {
      *path = Join(dir_path, joined);
      return fd;
    }
    // Not there as spelled: each component is looked up on its own.
    if (errno == ENOSYS || errno == EPERM || errno == E2BIG) {
      openat2_.store(false, std::memory_order_relaxed);
    } else if (errno != ENOENT) {
      return -1;
    }
  }
  return OpenEach(dir, dir_path, parts, count, flags, path);
}

int BeneathResolver::OpenEach(int dir, const std::string& dir_path,
                              const std::vector<std::string>& parts,
                              size_t count, int flags,
                              std::string* path) const {
  int current = -1;  // owned when not -1
  std::string current_path = dir_path;
  for (size_t i = 0; i < count; ++i) {
    ScopedFd owned(current);
    const int at = current < 0 ? dir : current;
    const int open_flags = (i + 1 == count ? flags : O_PATH | O_DIRECTORY) |
                           O_NOFOLLOW | O_CLOEXEC;
    std::string name = parts[i];
    int fd = ::openat(at, name.c_str(), open_flags);
    if (fd < 0 && errno == ENOENT) {
      const std::string other = OtherSpelling(at, current_path, name);
      if (other != name) {
        name = other;
        fd = ::openat(at, name.c_str(), open_flags);
      } else {
        errno = ENOENT;
      }
    }
    if (fd < 0) {
      TellLink(at, name);
      return -1;
    }
    current_path = Join(current_path, name);
    current = fd;
  }
  *path = current_path;
  return current;
}

std::string BeneathResolver::NameIn(int dir, const std::string& dir_path,
                                    const std::string& name, bool* found,
                                    std::optional<struct stat>* status) const {
  struct stat st;
  *found = ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (status != nullptr) {
    status->reset();
    if (*found) *status = st;
  }
  if (*found || errno != ENOENT) return name;
  const std::string other = OtherSpelling(dir, dir_path, name);
  *found = other != name;
  return other;
}

std::string BeneathResolver::OtherSpelling(
    int dir, const std::string& dir_path, const std::string& name,
    const struct stat* dir_status) const {
  struct stat taken;
  if (dir_status == nullptr) {
    if (::fstat(dir, &taken) != 0) return name;
    dir_status = &taken;
  }
  const std::string match =
      folded_names_.FindIn(dir_path, *dir_status, name, dir);
  if (!match.empty()) return match;
  // Some archive tools unpack names in the code page's own bytes.
  bool ascii = true;
  for (unsigned char c : name) ascii = ascii && c < 0x80;
  if (ascii) return name;
  const std::string raw = code_page_->ToAnsi(name);
  struct stat st;
  if (raw != name &&
      ::fstatat(dir, raw.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    return raw;
  }
  return name;
}

}  // namespace vm
