#include "platform/atomic_replace_posix.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "platform/posix_io.h"

namespace vm {
namespace {

// Makes sure a file of `size` bytes fits: within the file size limit, and
// with its blocks allocated. 0 or the errno value; the file's content
// and length are as before either way.
int Reserve(int fd, off_t old_size, off_t size) {
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
bool ReadAt(int fd, off_t size, std::string* bytes) {
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

bool PWriteAll(int fd, const std::string& bytes, off_t offset) {
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

// Rewrites an existing file through its own inode, so that it keeps its
// owner, mode and links; the file is cut to the new length only after
// every byte is written, and every step is checked. No byte is
// overwritten before the file is sure to hold the whole text: room for
// it is reserved first, so a full volume or the file size limit fails
// the save and leaves the file as it was. Should a write fail even so,
// the old bytes are put back.
bool WriteInPlace(int dir, const std::string& name, const std::string& shown,
                  const std::string& contents, std::string* error) {
  const int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
  int opened = ::openat(dir, name.c_str(), O_RDWR | flags);
  if (opened < 0 && errno == EACCES) {
    opened = ::openat(dir, name.c_str(), O_WRONLY | flags);
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

// Gives the replacement the replaced file's owner, group and mode. False
// when the owner or group cannot be kept (only root may give a file
// away).
bool TakeOwnerAndMode(int fd, const struct stat& old) {
  // The owner first: a change of owner clears the set-id bits, which
  // the mode then restores.
  if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
      ::fchown(fd, old.st_uid, old.st_gid) != 0) {
    return false;
  }
  return ::fchmod(fd, old.st_mode & 07777) == 0;
}

// The directory `dir` opened for reading its entries; null when it cannot
// be.
DIR* OpenEntries(int dir) {
  const int fd = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* entries = fd < 0 ? nullptr : ::fdopendir(fd);
  if (fd >= 0 && entries == nullptr) ::close(fd);
  return entries;
}

// The permission bits of the first (by name) regular file in `dir` that
// has the extension of `name` and is neither `name` nor a temporary file.
bool SiblingMode(int dir, const std::string& name, mode_t* mode) {
  size_t dot = name.find_last_of('.');
  if (dot == std::string::npos) return false;
  const std::string extension = name.substr(dot);
  ScopedDir handle(OpenEntries(dir));
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

// A new configuration file: readable by its owner only unless another
// file of the same kind (extension) in its directory shows the mode
// files there are given, and, when we run as root, owned like the
// directory, so that the server owning the directory can read it.
bool SetNewFileOwnerAndMode(int fd, int dir, const std::string& name) {
  struct stat st;
  if (::geteuid() == 0 && ::fstat(dir, &st) == 0 &&
      ::fchown(fd, st.st_uid, st.st_gid) != 0) {
    return false;
  }
  mode_t mode = 0600;
  if (SiblingMode(dir, name, &mode)) mode &= 0666;
  return ::fchmod(fd, mode) == 0;
}

// A process killed while it replaced a file leaves its temporary file
// (target + ".vmtmp.<pid>.<n>"). Those of processes that no longer exist
// are removed, so they neither pile up nor fill a small disk.
void RemoveStaleTemporaries(int dir, const std::string& name) {
  const std::string prefix = name + kTempInfix;
  ScopedDir handle(OpenEntries(dir));
  if (handle.get() == nullptr) return;
  while (struct dirent* entry = ::readdir(handle.get())) {
    const char* entry_name = entry->d_name;
    if (std::strncmp(entry_name, prefix.c_str(), prefix.size()) != 0) {
      continue;
    }
    char* end = nullptr;
    long pid = std::strtol(entry_name + prefix.size(), &end, 10);
    if (pid <= 0 || *end != '.' || pid == ::getpid()) continue;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      ::unlinkat(dir, entry_name, 0);
    }
  }
}

void SyncDirectory(int dir) {
  ScopedFd fd(::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0) ::fsync(fd.get());
}

// The rewrite in place, for the text `produce` hands over, collected.
bool InPlace(int dir, const std::string& name, const std::string& shown,
             const ContentsProducer& produce, std::string* error) {
  std::string contents;
  if (!produce([&contents](std::string_view piece) {
        contents.append(piece);
        return true;
      })) {
    SetError(error, EIO, "cannot write " + shown);
    return false;
  }
  return WriteInPlace(dir, name, shown, contents, error);
}

// Looks at the file `name` in `dir` that a replace is to take the place
// of: *exists tells whether it is a regular file (*old its status). False,
// with the reason, for a link (never replaced) or a file this process may
// not write, which stays as it is, as it would with an in-place write (a
// rename would replace it regardless).
bool CheckReplaced(int dir, const std::string& name, const std::string& shown,
                   struct stat* old, bool* exists, std::string* error) {
  if (::fstatat(dir, name.c_str(), old, AT_SYMLINK_NOFOLLOW) != 0) return true;
  if (S_ISLNK(old->st_mode)) {
    SetError(error, FileErrorKind::kIsLink, ELOOP, "cannot replace " + shown);
    return false;
  }
  if (::faccessat(dir, name.c_str(), W_OK, 0) != 0) {
    SetError(error, errno, "cannot write " + shown);
    return false;
  }
  *exists = S_ISREG(old->st_mode);
  return true;
}

// Gives the temporary file `temp` the name `name`. A file that was not
// there is never put in place of what appeared there meanwhile (a link
// planted in between stays as it is, and the replace fails).
bool RenameIntoPlace(int dir, const std::string& temp, const std::string& name,
                     bool exists) {
  if (!exists) {
    const int rc =
        ::renameat2(dir, temp.c_str(), dir, name.c_str(), RENAME_NOREPLACE);
    if (rc == 0 || errno != EINVAL) return rc == 0;
  }
  return ::renameat(dir, temp.c_str(), dir, name.c_str()) == 0;
}

}  // namespace

bool ReplaceFileContents(const std::string& native, const std::string& shown,
                         const std::string& contents, std::string* written,
                         std::string* error) {
  return ReplaceFileContentsBy(
      native, shown,
      [&contents](const PieceWriter& put) { return put(contents); }, written,
      error);
}

bool ReplaceFileContentsBy(const std::string& native, const std::string& shown,
                           const ContentsProducer& produce,
                           std::string* written, std::string* error) {
  // Replace what a symbolic link points to, not the link itself.
  std::string target = native;
  char resolved[PATH_MAX];
  if (::realpath(target.c_str(), resolved) != nullptr) target = resolved;
  const std::string dir_path = DirName(target);
  ScopedFd dir(::open(dir_path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) {
    SetError(error, errno, "cannot create a temporary file beside " + shown);
    return false;
  }
  const std::string name = target.substr(target.find_last_of('/') + 1);
  if (!ReplaceFileContentsAt(dir.get(), name, shown, produce, error)) {
    return false;
  }
  *written = Join(dir_path, name);
  return true;
}

bool ReplaceFileContentsAt(int dir, const std::string& name,
                           const std::string& shown,
                           const ContentsProducer& produce,
                           std::string* error) {
  struct stat old;
  bool exists = false;
  if (!CheckReplaced(dir, name, shown, &old, &exists, error)) return false;
  RemoveStaleTemporaries(dir, name);
  static std::atomic<unsigned> counter{0};
  const std::string temp = name + kTempInfix + std::to_string(::getpid()) +
                           "." + std::to_string(counter++);
  // Created readable by its owner only: a configuration file holds
  // password digests, and its final mode is set before anything is
  // written.
  ScopedFd fd(::openat(dir, temp.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (fd.get() < 0) {
    int err = errno;
    // A directory we may not write, holding a file we may: the file can
    // still be rewritten where it is.
    if (exists && (err == EACCES || err == EPERM)) {
      return InPlace(dir, name, shown, produce, error);
    }
    SetError(error, err, "cannot create a temporary file beside " + shown);
    return false;
  }
  if (!(exists ? TakeOwnerAndMode(fd.get(), old)
               : SetNewFileOwnerAndMode(fd.get(), dir, name))) {
    // The new file would belong to us instead of the file's owner, who
    // might then no longer read it: rewrite the file where it is.
    fd.Close();
    ::unlinkat(dir, temp.c_str(), 0);
    return InPlace(dir, name, shown, produce, error);
  }
  const int out = fd.get();
  bool ok = produce([out](std::string_view piece) {
              return WriteAll(out, piece.data(), piece.size());
            }) &&
            ::fsync(out) == 0;
  int err = errno;
  if (!fd.Close() && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlinkat(dir, temp.c_str(), 0);
    SetError(error, err, "cannot write " + shown);
    return false;
  }
  if (!RenameIntoPlace(dir, temp, name, exists)) {
    err = errno;
    ::unlinkat(dir, temp.c_str(), 0);
    // Only a refused replace falls back to rewriting in place.
    if (exists &&
        (err == EBUSY || err == EPERM || err == EACCES || err == ETXTBSY)) {
      return InPlace(dir, name, shown, produce, error);
    }
    SetError(error, err, "cannot replace " + shown);
    return false;
  }
  SyncDirectory(dir);
  return true;
}

}  // namespace vm
