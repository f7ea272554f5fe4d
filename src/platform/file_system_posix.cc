#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <unordered_map>

#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/name_cache_posix.h"
#include "platform/wildcard.h"
#include "util/name_ops.h"

namespace vm {
namespace {

constexpr size_t kBlockSize = 65536;

void SetError(std::string* error, int err, const std::string& what) {
  if (error != nullptr) {
    *error =
        what + ": " + std::error_code(err, std::generic_category()).message();
  }
}

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

// True when the open file is a regular file; fills *st when non-null.
bool IsRegularFile(int fd, struct stat* st) {
  struct stat local;
  if (st == nullptr) st = &local;
  return ::fstat(fd, st) == 0 && S_ISREG(st->st_mode);
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

// Temporary files of ReplaceContents are named target + kTempInfix +
// "<pid>.<n>"; those of CopyNew (where unnamed files cannot be used) "."
// + name + kTempInfix + "<pid>.<n>".
constexpr char kTempInfix[] = ".vmtmp.";

std::string Join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

// Copies with copy_file_range where the kernel offers it, else by reading
// and writing.
bool CopyContents(int in, int out, uint64_t size) {
  uint64_t copied = 0;
  bool use_read_write = false;
  while (copied < size && !use_read_write) {
    ssize_t n = copy_file_range(in, nullptr, out, nullptr,
                                static_cast<size_t>(size - copied), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && copied == 0 &&
        (errno == ENOSYS || errno == EXDEV || errno == EINVAL ||
         errno == EOPNOTSUPP || errno == EPERM)) {
      use_read_write = true;
      break;
    }
    if (n < 0) return false;
    if (n == 0) break;  // the source shrank; copy what is there
    copied += static_cast<uint64_t>(n);
  }
  if (!use_read_write) {
    // A file that grew since fstat: take the rest by reading.
    if (copied < size) return true;
    use_read_write = true;
  }
  char buffer[kBlockSize];
  for (;;) {
    ssize_t n = ::read(in, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!WriteAll(out, buffer, static_cast<size_t>(n))) return false;
  }
}

class PosixFileSystem : public FileSystem {
 public:
  explicit PosixFileSystem(std::unique_ptr<CodePage> code_page)
      : code_page_(std::move(code_page)), name_ops_(code_page_->LeadBytes()) {}

  bool Exists(const std::string& path) override {
    struct stat st;
    return ::stat(Native(path).c_str(), &st) == 0;
  }

  bool ModifiedTime(const std::string& path, int64_t* seconds) override {
    struct stat st;
    if (::stat(Native(path).c_str(), &st) != 0) return false;
    *seconds = static_cast<int64_t>(st.st_mtime);
    return true;
  }

  bool ReadFile(const std::string& path, std::string* contents,
                std::string* error) override {
    contents->clear();
    // A FIFO or device is never opened for good (it could block the open
    // or never end); only a regular file is read.
    ScopedFd fd(
        ::open(Native(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
      SetError(error, errno, "cannot open " + DisplayPath(path));
      return false;
    }
    if (!IsRegularFile(fd.get(), nullptr)) {
      SetError(error, EINVAL, "not a regular file: " + DisplayPath(path));
      return false;
    }
    char buffer[kBlockSize];
    for (;;) {
      ssize_t n = ::read(fd.get(), buffer, sizeof(buffer));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        SetError(error, errno, "cannot read " + DisplayPath(path));
        contents->clear();
        return false;
      }
      if (n == 0) return true;
      contents->append(buffer, static_cast<size_t>(n));
    }
  }

  bool WriteFile(const std::string& path, const std::string& contents,
                 std::string* error) override {
    return WriteNative(Native(path), DisplayPath(path), contents, error);
  }

  bool ReplaceContents(const std::string& path, const std::string& contents,
                       std::string* error) override {
    std::string target = Native(path);
    if (target.empty()) {
      SetError(error, EILSEQ, "cannot replace " + DisplayPath(path));
      return false;
    }
    // Replace what a symbolic link points to, not the link itself.
    struct stat old;
    bool exists = false;
    char resolved[PATH_MAX];
    if (::realpath(target.c_str(), resolved) != nullptr) {
      target = resolved;
      // A file this process may not write stays as it is, as it would
      // with an in-place write; a rename would replace it regardless.
      if (::access(target.c_str(), W_OK) != 0) {
        SetError(error, errno, "cannot write " + DisplayPath(path));
        return false;
      }
      exists = ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    }

    RemoveStaleTemporaries(target);
    static std::atomic<unsigned> counter{0};
    std::string temp = target + kTempInfix + std::to_string(::getpid()) + "." +
                       std::to_string(counter++);
    // Created readable by its owner only: a configuration file holds
    // password digests, and its final mode is set before anything is
    // written.
    ScopedFd fd(
        ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (fd.get() < 0) {
      int err = errno;
      // A directory we may not write, holding a file we may: the file can
      // still be rewritten where it is.
      if (exists && (err == EACCES || err == EPERM)) {
        return WriteInPlace(target, DisplayPath(path), contents, error);
      }
      SetError(error, err,
               "cannot create a temporary file beside " + DisplayPath(path));
      return false;
    }
    if (!(exists ? TakeOwnerAndMode(fd.get(), old)
                 : SetNewFileOwnerAndMode(fd.get(), target))) {
      // The new file would belong to us instead of the file's owner, who
      // might then no longer read it: rewrite the file where it is.
      fd.Close();
      ::unlink(temp.c_str());
      return WriteInPlace(target, DisplayPath(path), contents, error);
    }
    bool ok = WriteAll(fd.get(), contents.data(), contents.size()) &&
              ::fsync(fd.get()) == 0;
    int err = errno;
    if (!fd.Close() && ok) {
      ok = false;
      err = errno;
    }
    if (!ok) {
      ::unlink(temp.c_str());
      SetError(error, err, "cannot write " + DisplayPath(path));
      return false;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
      err = errno;
      ::unlink(temp.c_str());
      // Only a refused replace falls back to rewriting in place.
      if (exists &&
          (err == EBUSY || err == EPERM || err == EACCES || err == ETXTBSY)) {
        return WriteInPlace(target, DisplayPath(path), contents, error);
      }
      SetError(error, err, "cannot replace " + DisplayPath(path));
      return false;
    }
    folded_names_.Created(target, nullptr);
    SyncDirectory(DirName(target));
    return true;
  }

  bool CreateDir(const std::string& path, std::string* error) override {
    std::string native = Native(path);
    if (native.empty()) {
      SetError(error, EILSEQ, "cannot create " + DisplayPath(path));
      return false;
    }
    folded_names_.Creating(native);
    if (::mkdir(native.c_str(), 0777) != 0) {
      const int err = errno;
      folded_names_.Abandoned(native);
      // A symbolic link, even to a directory, is no directory of ours:
      // what is made in it would land somewhere else.
      struct stat st;
      if (err == EEXIST && ::lstat(native.c_str(), &st) == 0 &&
          S_ISDIR(st.st_mode)) {
        return true;
      }
      SetError(error, err == EEXIST ? ENOTDIR : err,
               "cannot create " + DisplayPath(path));
      return false;
    }
    struct stat parent;
    if (folded_names_.Created(native, &parent) && OwnedByOther(parent)) {
      if (::chown(native.c_str(), parent.st_uid, parent.st_gid) != 0) {
        // The directory stays root's; copies into it still work.
      }
    }
    return true;
  }

  CopyResult CopyNew(const std::string& from, const std::string& to,
                     std::string* error) override {
    // The source tree may be hostile: a link could lead out of it, a FIFO
    // or device could block the open or never end.
    ScopedFd in(::open(Native(from).c_str(),
                       O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (in.get() < 0) {
      if (errno == ELOOP) {
        SetError(error, errno,
                 "not copied, a symbolic link: " + DisplayPath(from));
      } else {
        SetError(error, errno, "cannot open " + DisplayPath(from));
      }
      return CopyResult::kFailed;
    }
    struct stat st;
    if (!IsRegularFile(in.get(), &st)) {
      SetError(error, EINVAL,
               "not copied, not a regular file: " + DisplayPath(from));
      return CopyResult::kFailed;
    }
    const std::string target = Native(to);
    if (target.empty()) {
      SetError(error, EILSEQ, "cannot create " + to);
      return CopyResult::kFailed;
    }
    const std::string name = target.substr(target.find_last_of('/') + 1);
    // The copy goes into the directory itself, never through a link to
    // some other place.
    ScopedFd dir(::open(DirName(target).c_str(),
                        O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat dir_status;
    if (dir.get() < 0 || ::fstat(dir.get(), &dir_status) != 0) {
      SetError(error, errno == ELOOP ? ENOTDIR : errno,
               "cannot create " + DisplayPath(to));
      return CopyResult::kFailed;
    }
    struct stat existing;
    if (::fstatat(dir.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) ==
        0) {
      SetError(error, EEXIST, "cannot copy to " + DisplayPath(to));
      return CopyResult::kTargetExists;
    }
    folded_names_.Creating(target);
    std::string temp;
    const CopyResult result =
        CopyInto(in.get(), st, dir.get(), dir_status, name, &temp);
    const int err = errno;
    if (!temp.empty()) ::unlinkat(dir.get(), temp.c_str(), 0);
    if (result != CopyResult::kCopied) {
      folded_names_.Abandoned(target);
      if (result == CopyResult::kTargetExists) {
        SetError(error, EEXIST, "cannot copy to " + DisplayPath(to));
      } else {
        SetError(error, err,
                 "cannot copy " + DisplayPath(from) + " to " + DisplayPath(to));
      }
      return result;
    }
    folded_names_.Created(target, nullptr);
    return CopyResult::kCopied;
  }

  bool List(const std::string& pattern,
            std::vector<DirEntry>* entries) override {
    entries->clear();
    size_t sep = pattern.find_last_of("\\/");
    std::string dir_ansi =
        sep == std::string::npos ? "" : pattern.substr(0, sep);
    std::string prefix = sep == std::string::npos ? "" : dir_ansi + "\\";
    std::string wildcard_ansi =
        sep == std::string::npos ? pattern : pattern.substr(sep + 1);
    std::string wildcard = code_page_->ToUtf8(wildcard_ansi);
    std::string dir = ".";
    if (sep != std::string::npos) {
      if (!code_page_->IsValidAnsi(dir_ansi)) return false;
      dir = dir_ansi.empty() ? "/" : Native(dir_ansi);
    }
    ScopedDir handle(::opendir(dir.c_str()));
    if (handle.get() == nullptr) return false;
    for (;;) {
      errno = 0;
      struct dirent* ent = ::readdir(handle.get());
      if (ent == nullptr) return errno == 0;  // else the listing broke off
      const char* name = ent->d_name;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
      DirEntry entry;
      if (IsValidUtf8(name)) {
        if (!WildcardMatchUtf8(wildcard, name)) continue;
        entry.name = code_page_->ToAnsi(name);
        // '?' is the stand-in for what the code page cannot hold (it is
        // never a trail byte).
        entry.unconvertible_name = entry.name.find('?') != std::string::npos &&
                                   code_page_->ToUtf8(entry.name) != name;
      } else if (code_page_->IsValidAnsi(name)) {
        // Unpacked by a tool that kept the names' code page bytes.
        if (!WildcardMatch(wildcard_ansi, name, name_ops_)) {
          continue;
        }
        entry.name = name;
      } else {
        if (!WildcardMatchUtf8(wildcard, name)) continue;
        entry.name = code_page_->ToAnsi(name);
        entry.unconvertible_name = true;
      }
      entry.path = prefix + entry.name;
      struct stat st;
      if (::fstatat(dirfd(handle.get()), name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        entry.is_directory = S_ISDIR(st.st_mode);
        entry.is_special = !entry.is_directory && !S_ISREG(st.st_mode);
        if (S_ISREG(st.st_mode)) entry.size = static_cast<uint64_t>(st.st_size);
      }
      entries->push_back(std::move(entry));
    }
  }

  bool SyncVolume(const std::string& path, std::string* error) override {
    ScopedFd fd(
        ::open(Native(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0 || ::syncfs(fd.get()) != 0) {
      SetError(error, errno,
               "cannot flush the writes under " + DisplayPath(path));
      return false;
    }
    return true;
  }

  bool RemoveFile(const std::string& path, std::string* error) override {
    std::string native = Native(path);
    if (native.empty()) {
      SetError(error, EILSEQ, "cannot remove " + DisplayPath(path));
      return false;
    }
    if (::unlink(native.c_str()) == 0 || errno == ENOENT) return true;
    SetError(error, errno, "cannot remove " + DisplayPath(path));
    return false;
  }

  bool CanRead(const std::string& path) override {
    // Opened as CopyNew opens a source, and closed at once.
    std::string native = Native(path);
    if (native.empty()) return false;
    ScopedFd fd(
        ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    return fd.get() >= 0 && IsRegularFile(fd.get(), nullptr);
  }

  bool CanWrite(const std::string& path) override {
    // Asked with the effective ids, as the kernel checks an open; a
    // read-only volume or an immutable entry says no even to root.
    std::string native = Native(path);
    struct stat st;
    if (native.empty() || ::stat(native.c_str(), &st) != 0) return false;
    const int mode = S_ISDIR(st.st_mode) ? W_OK | X_OK : W_OK;
    return ::faccessat(AT_FDCWD, native.c_str(), mode, AT_EACCESS) == 0;
  }

  std::string DisplayPath(const std::string& path) const override {
    std::string shown = path;
    for (size_t i = 0; i < shown.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(shown[i]);
      if (name_ops_.IsLeadByte(c) && i + 1 < shown.size()) {
        ++i;  // a trail byte may be a backslash that is no separator
      } else if (c == '\\') {
        shown[i] = '/';
      }
    }
    return shown;
  }

  bool Locate(const std::string& path, FileLocation* where) override {
    return LocateNative(Native(path), where);
  }

 private:
  // `shown` names the file in error texts.
  bool WriteNative(const std::string& native, const std::string& shown,
                   const std::string& contents, std::string* error) {
    folded_names_.Creating(native);
    ScopedFd fd(
        ::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.get() < 0) {
      const int err = errno;
      folded_names_.Abandoned(native);
      SetError(error, err, "cannot open " + shown + " for writing");
      return false;
    }
    folded_names_.Created(native, nullptr);
    if (!WriteAll(fd.get(), contents.data(), contents.size()) || !fd.Close()) {
      SetError(error, errno, "cannot write " + shown);
      return false;
    }
    return true;
  }

  // Writes a copy of `in` (whose status is `st`) into the directory `dir`
  // and gives it `name` once it is complete, never in place of an existing
  // entry, so that a copy cut short (the process killed, the disk full)
  // never lies under that name. The copy is an unnamed file where the file
  // system has them, which leaves nothing behind at all; else a temporary
  // file, whose name is put in *temp for the caller to remove. On failure
  // errno tells why.
  CopyResult CopyInto(int in, const struct stat& st, int dir,
                      const struct stat& dir_status, const std::string& name,
                      std::string* temp) const {
    int fd = -1;
    if (proc_fd_) {
      fd = ::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
      if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return CopyResult::kFailed;
      }
    }
    if (fd < 0) {
      static std::atomic<unsigned> counter{0};
      *temp = "." + name + kTempInfix + std::to_string(::getpid()) + "." +
              std::to_string(counter++);
      fd = ::openat(dir, temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                    0600);
      if (fd < 0) {
        temp->clear();
        return CopyResult::kFailed;
      }
    }
    ScopedFd out(fd);
    bool ok = CopyContents(in, fd, static_cast<uint64_t>(st.st_size));
    if (ok) {
      // Like a Windows file copy, the copy keeps the source's modification
      // time; like "cp -p", its permission bits, so it is never more open
      // than the source.
      struct timespec times[2] = {st.st_atim, st.st_mtim};
      ::futimens(fd, times);
      ok = ::fchmod(fd, st.st_mode & 0777) == 0;
    }
    if (ok && OwnedByOther(dir_status)) {
      ok = ::fchown(fd, dir_status.st_uid, dir_status.st_gid) == 0;
    }
    if (!ok) return CopyResult::kFailed;
    int rc;
    if (temp->empty()) {
      const std::string self = "/proc/self/fd/" + std::to_string(fd);
      rc = ::linkat(AT_FDCWD, self.c_str(), dir, name.c_str(),
                    AT_SYMLINK_FOLLOW);
    } else {
      rc = ::linkat(dir, temp->c_str(), dir, name.c_str(), 0);
      if (rc != 0 && errno != EEXIST) {
        // A file system without hard links.
        rc = ::renameat2(dir, temp->c_str(), dir, name.c_str(),
                         RENAME_NOREPLACE);
        if (rc == 0) temp->clear();
      }
    }
    if (rc != 0) {
      return errno == EEXIST ? CopyResult::kTargetExists : CopyResult::kFailed;
    }
    // A failed close can be the first report of a failed write.
    if (!out.Close()) {
      const int err = errno;
      ::unlinkat(dir, name.c_str(), 0);
      errno = err;
      return CopyResult::kFailed;
    }
    return CopyResult::kCopied;
  }

  // Rewrites an existing file through its own inode, so that it keeps its
  // owner, mode and links; the file is cut to the new length only after
  // every byte is written, and every step is checked. No byte is
  // overwritten before the file is sure to hold the whole text: room for
  // it is reserved first, so a full volume or the file size limit fails
  // the save and leaves the file as it was. Should a write fail even so,
  // the old bytes are put back.
  static bool WriteInPlace(const std::string& native, const std::string& shown,
                           const std::string& contents, std::string* error) {
    const int flags = O_CLOEXEC | O_NOFOLLOW;
    int opened = ::open(native.c_str(), O_RDWR | flags);
    if (opened < 0 && errno == EACCES) {
      opened = ::open(native.c_str(), O_WRONLY | flags);
    }
    ScopedFd fd(opened);
    struct stat st;
    if (fd.get() < 0 || !IsRegularFile(fd.get(), &st)) {
      SetError(error, fd.get() < 0 ? errno : EINVAL,
               "cannot open " + shown + " for writing");
      return false;
    }
    const off_t size = static_cast<off_t>(contents.size());
    if (int err = Reserve(fd.get(), st.st_size, size); err != 0) {
      SetError(error, err, "cannot write " + shown);
      return false;
    }
    // A file we may write but not read cannot be put back.
    std::string old;
    const bool readable = ReadAt(fd.get(), st.st_size, &old);
    bool ok = PWriteAll(fd.get(), contents, 0) &&
              ::ftruncate(fd.get(), size) == 0 && ::fsync(fd.get()) == 0;
    int err = errno;
    if (!ok && readable && PWriteAll(fd.get(), old, 0)) {
      ::ftruncate(fd.get(), st.st_size);
    }
    if (!fd.Close() && ok) {
      ok = false;
      err = errno;
    }
    if (!ok) SetError(error, err, "cannot write " + shown);
    return ok;
  }

  // Makes sure a file of `size` bytes fits: within the file size limit, and
  // with its blocks allocated. 0 or the errno value; the file's content
  // and length are as before either way.
  static int Reserve(int fd, off_t old_size, off_t size) {
    struct rlimit limit;
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 &&
        limit.rlim_cur != RLIM_INFINITY &&
        static_cast<rlim_t>(size) > limit.rlim_cur) {
      return EFBIG;
    }
    if (size == 0) return 0;
    // Kept beyond the end of the file, the blocks change nothing a reader
    // sees until the text is written into them.
    if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size) == 0) return 0;
    int err = errno;
    if (err != EOPNOTSUPP && err != ENOSYS) return err;
    if (size <= old_size) return 0;
    // A file system that cannot reserve: make the file longer with zeros,
    // which allocates what the text needs; undone when it fails.
    err = ::posix_fallocate(fd, old_size, size - old_size);
    if (err != 0) ::ftruncate(fd, old_size);
    return err;
  }

  // Reads the first `size` bytes of the open file into *bytes.
  static bool ReadAt(int fd, off_t size, std::string* bytes) {
    bytes->resize(static_cast<size_t>(size));
    size_t done = 0;
    while (done < bytes->size()) {
      ssize_t n = ::pread(fd, bytes->data() + done, bytes->size() - done,
                          static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  static bool PWriteAll(int fd, const std::string& bytes, off_t offset) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                           offset + static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n == 0) errno = EIO;
        return false;
      }
      done += static_cast<size_t>(n);
    }
    return true;
  }

  // Gives the replacement the replaced file's owner, group and mode. False
  // when the owner or group cannot be kept (only root may give a file
  // away).
  static bool TakeOwnerAndMode(int fd, const struct stat& old) {
    // The owner first: a change of owner clears the set-id bits, which
    // the mode then restores.
    if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0) {
      return false;
    }
    return ::fchmod(fd, old.st_mode & 07777) == 0;
  }

  // A new configuration file: readable by its owner only unless another
  // file of the same kind (extension) in its directory shows the mode
  // files there are given, and, when we run as root, owned like the
  // directory, so that the server owning the directory can read it.
  static bool SetNewFileOwnerAndMode(int fd, const std::string& target) {
    std::string dir = DirName(target);
    struct stat st;
    if (::geteuid() == 0 && ::stat(dir.c_str(), &st) == 0 &&
        ::fchown(fd, st.st_uid, st.st_gid) != 0) {
      return false;
    }
    mode_t mode = 0600;
    if (SiblingMode(dir, target.substr(target.find_last_of('/') + 1), &mode)) {
      mode &= 0666;
    }
    return ::fchmod(fd, mode) == 0;
  }

  // The permission bits of the first (by name) regular file in `dir` that
  // has the extension of `name` and is neither `name` nor a temporary file.
  static bool SiblingMode(const std::string& dir, const std::string& name,
                          mode_t* mode) {
    size_t dot = name.find_last_of('.');
    if (dot == std::string::npos) return false;
    const std::string extension = name.substr(dot);
    ScopedDir handle(::opendir(dir.c_str()));
    if (handle.get() == nullptr) return false;
    std::string best;
    while (struct dirent* entry = ::readdir(handle.get())) {
      std::string sibling = entry->d_name;
      if (sibling == name || sibling.size() <= extension.size() ||
          sibling.compare(sibling.size() - extension.size(), extension.size(),
                          extension) != 0 ||
          sibling.find(kTempInfix) != std::string::npos ||
          (!best.empty() && sibling >= best)) {
        continue;
      }
      struct stat st;
      if (::fstatat(dirfd(handle.get()), sibling.c_str(), &st,
                    AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISREG(st.st_mode)) {
        best = sibling;
        *mode = st.st_mode & 07777;
      }
    }
    return !best.empty();
  }

  // A process killed while it replaced a file leaves its temporary file
  // (target + ".vmtmp.<pid>.<n>"). Those of processes that no longer exist
  // are removed, so they neither pile up nor fill a small disk.
  static void RemoveStaleTemporaries(const std::string& target) {
    size_t slash = target.find_last_of('/');
    std::string dir = DirName(target);
    std::string prefix =
        target.substr(slash == std::string::npos ? 0 : slash + 1) + kTempInfix;
    ScopedDir handle(::opendir(dir.c_str()));
    if (handle.get() == nullptr) return;
    while (struct dirent* entry = ::readdir(handle.get())) {
      const char* name = entry->d_name;
      if (std::strncmp(name, prefix.c_str(), prefix.size()) != 0) continue;
      char* end = nullptr;
      long pid = std::strtol(name + prefix.size(), &end, 10);
      if (pid <= 0 || *end != '.' || pid == ::getpid()) continue;
      if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
        ::unlink(Join(dir, name).c_str());
      }
    }
  }

  static void SyncDirectory(const std::string& dir) {
    ScopedFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) ::fsync(fd.get());
  }

  // Maps an ANSI, backslash-separated path to the native UTF-8 path,
  // resolving each component without regard to ASCII case when the exact
  // name does not exist. A path that is not valid in the code page gives
  // the empty path, which no system call accepts: replacing its bad bytes
  // would let two different names reach the same file.
  std::string Native(const std::string& path) const {
    if (!code_page_->IsValidAnsi(path)) return "";
    std::string utf8 = code_page_->ToUtf8(path);
    for (char& c : utf8) {
      if (c == '\\') c = '/';
    }
    struct stat st;
    if (utf8.empty() || ::lstat(utf8.c_str(), &st) == 0) return utf8;

    // Most paths that do not exist name a new entry in a directory that
    // does, spelled as on disk: only the last component needs resolving
    // then, which saves a lookup of every component of a deep path for
    // each file created.
    size_t slash = utf8.find_last_of('/');
    std::string parent = slash == std::string::npos ? std::string()
                         : slash == 0               ? std::string("/")
                                                    : utf8.substr(0, slash);
    std::string last =
        slash == std::string::npos ? utf8 : utf8.substr(slash + 1);
    if (!last.empty() && last != "." && last != "..") {
      bool parent_found = false;
      std::string match = folded_names_.Find(parent, last, &parent_found);
      if (parent_found) {
        if (match.empty()) match = RawName(parent, last);
        return match.empty() ? utf8 : Join(parent, match);
      }
    }

    std::string resolved = utf8[0] == '/' ? "/" : "";
    size_t pos = 0;
    while (pos < utf8.size()) {
      size_t end = utf8.find('/', pos);
      if (end == std::string::npos) end = utf8.size();
      std::string component = utf8.substr(pos, end - pos);
      pos = end + 1;
      if (component.empty()) continue;
      std::string candidate = Join(resolved, component);
      if (component == "." || component == ".." ||
          ::lstat(candidate.c_str(), &st) == 0) {
        resolved = candidate;
        continue;
      }
      std::string match = folded_names_.Find(resolved, component);
      if (match.empty()) match = RawName(resolved, component);
      if (match.empty()) {
        // Nothing below a missing component can exist: keep the rest as
        // given.
        resolved = candidate;
        if (pos < utf8.size()) {
          resolved.push_back('/');
          resolved.append(utf8, pos, std::string::npos);
        }
        return resolved;
      }
      resolved = Join(resolved, match);
    }
    return resolved;
  }

  // `name` (UTF-8) spelled in the code page's own bytes, when an entry of
  // that spelling exists in `dir`: some archive tools unpack names so.
  std::string RawName(const std::string& dir, const std::string& name) const {
    bool ascii = true;
    for (unsigned char c : name) ascii = ascii && c < 0x80;
    if (ascii) return "";
    std::string raw = code_page_->ToAnsi(name);
    struct stat st;
    if (raw == name || ::lstat(Join(dir, raw).c_str(), &st) != 0) return "";
    return raw;
  }

  // As root, what is created takes the owner of its directory, so that the
  // server owning the store can use it; a directory of our own needs no
  // change.
  bool OwnedByOther(const struct stat& dir) const {
    return running_as_root_ && (dir.st_uid != uid_ || dir.st_gid != gid_);
  }

  std::unique_ptr<CodePage> code_page_;
  const NameOps name_ops_;
  mutable FoldedNameCache folded_names_;
  const uid_t uid_ = ::geteuid();
  const gid_t gid_ = ::getegid();
  const bool running_as_root_ = uid_ == 0;
  // Unnamed files can be given a name through /proc (absent in some
  // chroots).
  const bool proc_fd_ = ::access("/proc/self/fd", X_OK) == 0;
};

}  // namespace

std::unique_ptr<FileSystem> NewDiskFileSystem() {
  return NewDiskFileSystem("GBK");
}

std::unique_ptr<FileSystem> NewDiskFileSystem(
    const std::string& code_page_name) {
  std::unique_ptr<CodePage> code_page = OpenCodePage(code_page_name);
  if (code_page == nullptr) return nullptr;
  return std::make_unique<PosixFileSystem>(std::move(code_page));
}

}  // namespace vm
