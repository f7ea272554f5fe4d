#include "platform/posix_io.h"

#include <errno.h>

#include <system_error>

namespace vm {

FileErrorKind KindOfErrno(int err) {
  switch (err) {
    case ENOSPC:
    case EDQUOT:
      return FileErrorKind::kNoSpace;
    case EACCES:
    case EPERM:
      return FileErrorKind::kPermission;
    case EROFS:
      return FileErrorKind::kReadOnly;
    case ENOENT:
      return FileErrorKind::kNotFound;
    case ENAMETOOLONG:
      return FileErrorKind::kNameTooLong;
    case EFBIG:
      return FileErrorKind::kTooLarge;
    case ELOOP:
      return FileErrorKind::kIsLink;
    case ENOTDIR:
    case EISDIR:
    case ENXIO:
      return FileErrorKind::kNotRegular;
    default:
      return FileErrorKind::kOther;
  }
}

void SetError(std::string* error, int err, const std::string& what) {
  SetError(error, KindOfErrno(err), err, what);
}

void SetError(std::string* error, FileErrorKind kind, int err,
              const std::string& what) {
  if (error != nullptr) {
    *error = FileErrorText(
        {kind, err},
        what + ": " + std::error_code(err, std::generic_category()).message());
  }
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool IsRegularFile(int fd, struct stat* st) {
  struct stat local;
  if (st == nullptr) st = &local;
  return ::fstat(fd, st) == 0 && S_ISREG(st->st_mode);
}

std::string DirName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string Join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

}  // namespace vm
