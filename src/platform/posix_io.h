#ifndef VM_PLATFORM_POSIX_IO_H_
#define VM_PLATFORM_POSIX_IO_H_

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/copy_temporary.h"
#include "platform/file_error.h"
#include "platform/file_system.h"

// Descriptor and path helpers shared by the parts of the POSIX file system.
namespace vm {

// Temporary files of a replaced file are named target + kTempInfix +
// "<pid>.<n>"; those of a copy (where unnamed files cannot be used) "." +
// name + kTempInfix + "<pid>.<n>".
inline constexpr const char* kTempInfix = kCopyTempInfix;

// The buffer of a read or of a copy by reading and writing.
inline constexpr size_t kBlockSize = 65536;

// Puts the error text (FileErrorText: the kind of err, then "what: <reason
// of err>") in *error when error is non-null.
void SetError(std::string* error, int err, const std::string& what);
// The same with a kind errno does not tell.
void SetError(std::string* error, FileErrorKind kind, int err,
              const std::string& what);
// The portable kind of an errno value.
FileErrorKind KindOfErrno(int err);

// Closes a descriptor on every path out of a function unless released.
class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }
  // Gives the descriptor up to the caller, who closes it.
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes now and reports whether the close succeeded: a failed close can
  // be the first report of a failed write.
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

class ScopedDir {
 public:
  explicit ScopedDir(DIR* dir) : dir_(dir) {}
  ~ScopedDir() {
    if (dir_ != nullptr) closedir(dir_);
  }
  ScopedDir(const ScopedDir&) = delete;
  ScopedDir& operator=(const ScopedDir&) = delete;
  DIR* get() const { return dir_; }

 private:
  DIR* dir_;
};

// Writes every byte, retrying short writes; on failure errno tells why.
bool WriteAll(int fd, const char* data, size_t size);

// Hands every block of the open file `fd` to `take`, in order; false when
// a read fails (the reason in *error; `shown` names the file) or `take`
// returned false.
bool ReadEachBlock(int fd, const std::function<bool(std::string_view)>& take,
                   const std::string& shown, std::string* error);

// Asks the system to back the memory [data, data + size), which the
// caller has just allocated and not yet touched, with large pages where it
// can: a buffer of tens of megabytes then costs a few page faults, not
// thousands.
void PreferLargePages(void* data, size_t size);

// Reads the rest of the open file `fd` into *contents (emptied first),
// straight into a buffer of the size the file has: a file of tens of
// megabytes read in blocks would be copied and grown piece by piece.
// False as for ReadEachBlock.
bool ReadWhole(int fd, std::string* contents, const std::string& shown,
               std::string* error);

// An AppendingFile writing to `fd`, just opened for appending, which it
// closes; `shown` names the file in its errors. Null, with the reason in
// *error, when the open failed (`fd` -1, errno telling why) or did not
// open a regular file.
std::unique_ptr<AppendingFile> AppendingFd(int fd, std::string shown,
                                           std::string* error);

// True when the open file is a regular file; fills *st when non-null.
bool IsRegularFile(int fd, struct stat* st);

// The directory part of a native path: "." when it has none, "/" for the
// root.
std::string DirName(const std::string& path);

std::string Join(const std::string& dir, const std::string& name);

// Whether the NUL-ended `s` is well-formed UTF-8 (no overlong forms, no
// surrogates).
bool IsValidUtf8(const char* s);

}  // namespace vm

#endif  // VM_PLATFORM_POSIX_IO_H_
