#include "platform/posix_io.h"

#include <errno.h>
#include <sys/mman.h>

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
    case EMFILE:
    case ENFILE:
      return FileErrorKind::kTooManyOpen;
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

bool ReadEachBlock(int fd, const std::function<bool(std::string_view)>& take,
                   const std::string& shown, std::string* error) {
  char buffer[kBlockSize];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      SetError(error, errno, "cannot read " + shown);
      return false;
    }
    if (n == 0) return true;
    if (!take(std::string_view(buffer, static_cast<size_t>(n)))) return false;
  }
}

void PreferLargePages(void* data, size_t size) {
#ifdef MADV_HUGEPAGE
  // Only memory of its own pages: the whole large pages inside it.
  constexpr uintptr_t kLarge = uintptr_t{2} << 20;
  if (size < 2 * kLarge) return;
  const uintptr_t begin =
      (reinterpret_cast<uintptr_t>(data) + kLarge - 1) & ~(kLarge - 1);
  const uintptr_t end =
      (reinterpret_cast<uintptr_t>(data) + size) & ~(kLarge - 1);
  if (end > begin) {
    ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
  }
#else
  (void)data;
  (void)size;
#endif
}

bool ReadWhole(int fd, std::string* contents, const std::string& shown,
               std::string* error) {
  struct stat st;
  const size_t expected = ::fstat(fd, &st) == 0 && st.st_size > 0
                              ? static_cast<size_t>(st.st_size)
                              : 0;
  // One byte more than expected, so that a file that grew is seen to.
  contents->clear();
  contents->reserve(expected + 1);
  PreferLargePages(contents->data(), expected + 1);
  contents->assign(expected + 1, '\0');
  size_t have = 0;
  for (;;) {
    if (have == contents->size()) contents->resize(2 * have + kBlockSize);
    const ssize_t n =
        ::read(fd, contents->data() + have, contents->size() - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      contents->clear();
      SetError(error, errno, "cannot read " + shown);
      return false;
    }
    if (n == 0) break;
    have += static_cast<size_t>(n);
  }
  contents->resize(have);
  return true;
}

namespace {

class FdAppender : public AppendingFile {
 public:
  FdAppender(int fd, std::string shown) : fd_(fd), shown_(std::move(shown)) {}
  bool Append(const std::string& contents, std::string* error) override {
    if (WriteAll(fd_.get(), contents.data(), contents.size())) return true;
    SetError(error, errno, "cannot write " + shown_);
    return false;
  }

 private:
  ScopedFd fd_;
  std::string shown_;
};

}  // namespace

std::unique_ptr<AppendingFile> AppendingFd(int fd, std::string shown,
                                           std::string* error) {
  if (fd < 0) {
    const int err = errno;
    SetError(error, err, "cannot open " + shown + " for writing");
    return nullptr;
  }
  if (!IsRegularFile(fd, nullptr)) {
    ::close(fd);
    SetError(error, FileErrorKind::kNotRegular, EINVAL,
             "not a regular file: " + shown);
    return nullptr;
  }
  return std::make_unique<FdAppender>(fd, std::move(shown));
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

bool IsValidUtf8(const char* s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  while (*p != 0) {
    int len = *p < 0x80                  ? 1
              : *p >= 0xC2 && *p <= 0xDF ? 2
              : *p >= 0xE0 && *p <= 0xEF ? 3
              : *p >= 0xF0 && *p <= 0xF4 ? 4
                                         : 0;
    if (len == 0) return false;
    for (int i = 1; i < len; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
    }
    // Overlong three- and four-byte forms and surrogates.
    if ((p[0] == 0xE0 && p[1] < 0xA0) || (p[0] == 0xED && p[1] >= 0xA0) ||
        (p[0] == 0xF0 && p[1] < 0x90) || (p[0] == 0xF4 && p[1] >= 0x90)) {
      return false;
    }
    p += len;
  }
  return true;
}

}  // namespace vm
