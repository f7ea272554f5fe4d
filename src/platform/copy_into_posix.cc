#include "platform/copy_into_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/name_cache_posix.h"
#include "platform/posix_io.h"

namespace vm {
namespace {

// Copies the `size` bytes of `in` with copy_file_range where the kernel
// offers it, else by reading and writing. Sets *changed (and returns false)
// when the source holds fewer bytes than `size`, or (reading) more: another
// program cut it short or wrote to it during the copy. A source that grew
// under copy_file_range shows it in its size, which the caller checks
// after the copy (ChangedSince), so no read is spent on it here.
bool CopyContents(int in, int out, uint64_t size, bool* changed) {
  uint64_t copied = 0;
  bool use_read_write = false;
  while (copied < size) {
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
    if (n == 0) break;  // the source shrank
    copied += static_cast<uint64_t>(n);
  }
  if (!use_read_write) {
    *changed = copied != size;
    return !*changed;
  }
  char buffer[kBlockSize];
  for (;;) {
    ssize_t n = ::read(in, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    copied += static_cast<uint64_t>(n);
    if (copied > size) break;
    if (!WriteAll(out, buffer, static_cast<size_t>(n))) return false;
  }
  *changed = copied != size;
  return !*changed;
}

// Whether the source's size or modification time at the end of a copy is
// not that of `st`, its status at the start: a program that truncated or
// rewrote it meanwhile (and put its size back) is caught by what it leaves.
bool ChangedSince(int in, const struct stat& st) {
  struct stat end;
  return ::fstat(in, &end) != 0 || end.st_size != st.st_size ||
         end.st_mtim.tv_sec != st.st_mtim.tv_sec ||
         end.st_mtim.tv_nsec != st.st_mtim.tv_nsec;
}

// Like a Windows file copy, the copy keeps the source's modification time;
// like "cp -p", its permission bits (unless the file was made with them),
// so it is never more open than the source.
bool KeepTimesAndMode(int fd, const struct stat& st, bool mode_set) {
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  ::futimens(fd, times);
  return mode_set || ::fchmod(fd, st.st_mode & 0777) == 0;
}

// Gives a non-null `stamp` the stamp of the file `fd`, to be called after
// the last change to it; leaves it as it was when the status cannot be had.
void TakeStamp(int fd, FileStamp* stamp) {
  struct stat made;
  if (stamp != nullptr && ::fstat(fd, &made) == 0) {
    *stamp = StampOfStatus(made);
  }
}

// The process's umask as /proc tells it (setting it to read it would race
// with threads creating files); -1 when it cannot be told.
int ProcessUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) {
      return static_cast<int>(std::strtol(line.c_str() + 6, nullptr, 8));
    }
  }
  return -1;
}

}  // namespace

CopyWriter::CopyWriter() : umask_(ProcessUmask()) {}

// Writes a copy of `in` (whose status is `st`) into the directory `dir`
// and gives it `name` once it is complete, never in place of an existing
// entry, so that a copy cut short (the process killed, the disk full)
// never lies under that name. The copy is an unnamed file where the file
// system has them, which leaves nothing behind at all; else a temporary
// file, whose name is put in *temp for the caller to remove (a copy that
// got its name has the temporary name removed here already). On failure
// errno tells why, or *changed that the source changed during the copy.
CopyResult CopyWriter::CopyInto(int in, const struct stat& st, int dir,
                                const struct stat& dir_status,
                                const std::string& name, std::string* temp,
                                bool* changed, FileStamp* stamp) const {
  int fd = -1;
  // An unnamed file no one else can open is made with the source's
  // permission bits at once, when the umask leaves them as they are.
  const mode_t mode = st.st_mode & 0777;
  bool mode_set = false;
  if (proc_fd_) {
    mode_set = umask_ >= 0 && (mode & static_cast<mode_t>(umask_)) == 0;
    fd = ::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC,
                  mode_set ? mode : 0600);
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
    mode_set = false;
  }
  ScopedFd out(fd);
  bool ok = CopyContents(in, fd, static_cast<uint64_t>(st.st_size), changed);
  if (ok) {
    *changed = ChangedSince(in, st);
    ok = !*changed;
  }
  ok = ok && KeepTimesAndMode(fd, st, mode_set);
  if (ok && OwnedByOther(dir_status)) {
    ok = ::fchown(fd, dir_status.st_uid, dir_status.st_gid) == 0;
  }
  if (!ok) return CopyResult::kFailed;
  const int rc = LinkIntoPlace(fd, dir, name, temp);
  if (rc != 0) {
    return errno == EEXIST ? CopyResult::kTargetExists : CopyResult::kFailed;
  }
  // The temporary name goes before the stamp is taken: removing a link
  // changes the file's status change time.
  if (!temp->empty() && ::unlinkat(dir, temp->c_str(), 0) == 0) temp->clear();
  if (temp->empty()) TakeStamp(fd, stamp);
  // A failed close can be the first report of a failed write.
  if (!out.Close()) {
    const int err = errno;
    ::unlinkat(dir, name.c_str(), 0);
    errno = err;
    return CopyResult::kFailed;
  }
  return CopyResult::kCopied;
}

CopyResult CopyWriter::CopyIntoNewAt(int in, const struct stat& st, int dir,
                                     const std::string& dir_path,
                                     const std::string& name, bool* changed,
                                     FileStamp* stamp) const {
  const mode_t mode = st.st_mode & 0777;
  const bool mode_set =
      umask_ >= 0 && (mode & static_cast<mode_t>(umask_)) == 0;
  ScopedFd out(::openat(dir, name.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        mode_set ? mode : 0600));
  if (out.get() < 0) {
    return errno == EEXIST ? CopyResult::kTargetExists : CopyResult::kFailed;
  }
  bool ok =
      CopyContents(in, out.get(), static_cast<uint64_t>(st.st_size), changed);
  if (ok) {
    *changed = ChangedSince(in, st);
    ok = !*changed;
  }
  ok = ok && KeepTimesAndMode(out.get(), st, mode_set);
  if (ok && running_as_root_) {
    std::pair<uid_t, gid_t> owner;
    ok = DirOwner(dir, dir_path, &owner);
    if (ok && (owner.first != uid_ || owner.second != gid_)) {
      ok = ::fchown(out.get(), owner.first, owner.second) == 0;
    }
  }
  // Taken after the last change; a rename of the staging folder later
  // changes nothing of it.
  if (ok) TakeStamp(out.get(), stamp);
  // A failed close can be the first report of a failed write.
  if (ok && out.Close()) return CopyResult::kCopied;
  const int err = errno;
  ::unlinkat(dir, name.c_str(), 0);
  errno = err;
  return CopyResult::kFailed;
}

bool CopyWriter::DirOwner(int dir, const std::string& dir_path,
                          std::pair<uid_t, gid_t>* owner) const {
  std::lock_guard<std::mutex> lock(owners_mutex_);
  auto it = owners_.find(dir_path);
  if (it != owners_.end()) {
    *owner = it->second;
    return true;
  }
  struct stat st;
  if ((dir == AT_FDCWD ? ::stat(dir_path.c_str(), &st) : ::fstat(dir, &st)) !=
      0) {
    return false;
  }
  *owner = {st.st_uid, st.st_gid};
  if (owners_.size() >= kMaxOwners) owners_.clear();
  owners_[dir_path] = *owner;
  return true;
}

// Gives the complete copy in `fd` its `name` in `dir`, never in place of
// an existing entry: the unnamed file linked, or the temporary *temp linked
// (or, without hard links, renamed; *temp is then cleared). 0, or -1 with
// errno.
int CopyWriter::LinkIntoPlace(int fd, int dir, const std::string& name,
                              std::string* temp) const {
  int rc;
  if (temp->empty()) {
    // Linked by its descriptor where the kernel allows it (it asks for a
    // capability root has), else through /proc.
    rc = -1;
    errno = ENOENT;
    if (link_by_fd_.load(std::memory_order_relaxed)) {
      rc = ::linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH);
      if (rc != 0 && (errno == ENOENT || errno == EPERM)) {
        link_by_fd_.store(false, std::memory_order_relaxed);
      }
    }
    if (rc != 0 && (errno == ENOENT || errno == EPERM)) {
      const std::string self = "/proc/self/fd/" + std::to_string(fd);
      rc = ::linkat(AT_FDCWD, self.c_str(), dir, name.c_str(),
                    AT_SYMLINK_FOLLOW);
    }
  } else {
    rc = ::linkat(dir, temp->c_str(), dir, name.c_str(), 0);
    if (rc != 0 && errno != EEXIST) {
      // A file system without hard links.
      rc = ::renameat2(dir, temp->c_str(), dir, name.c_str(), RENAME_NOREPLACE);
      if (rc == 0) temp->clear();
    }
  }
  return rc;
}

// As root, what is created takes the owner of its directory, so that the
// server owning the store can use it; a directory of our own needs no
// change.
bool CopyWriter::OwnedByOther(const struct stat& dir) const {
  return running_as_root_ && (dir.st_uid != uid_ || dir.st_gid != gid_);
}

FileStamp StampOfStatus(const struct stat& st) {
  FileStamp stamp;
  stamp.file = static_cast<uint64_t>(st.st_ino);
  stamp.size = static_cast<uint64_t>(st.st_size);
  stamp.modified = {static_cast<int64_t>(st.st_mtim.tv_sec),
                    static_cast<uint32_t>(st.st_mtim.tv_nsec)};
  stamp.changed = {static_cast<int64_t>(st.st_ctim.tv_sec),
                   static_cast<uint32_t>(st.st_ctim.tv_nsec)};
  return stamp;
}

EntryStatus EntryStatusOf(const struct stat& st) {
  const FileStamp stamp = StampOfStatus(st);
  EntryStatus status;
  status.id = {static_cast<uint64_t>(st.st_dev), stamp.file};
  status.is_directory = S_ISDIR(st.st_mode);
  status.size = stamp.size;
  status.modified = stamp.modified;
  status.changed = stamp.changed;
  return status;
}

CopyResult CopyNamed(const CopyWriter& copier, FoldedNameCache& names, int in,
                     const struct stat& st, int dir,
                     const struct stat& dir_status, const std::string& dir_path,
                     const std::string& name, const std::string& from,
                     const std::string& to, FileStamp* stamp,
                     std::string* error) {
  const std::string target = Join(dir_path, name);
  names.Creating(target);
  std::string temp;
  bool changed = false;
  const CopyResult result =
      copier.CopyInto(in, st, dir, dir_status, name, &temp, &changed, stamp);
  const int err = errno;
  if (!temp.empty()) ::unlinkat(dir, temp.c_str(), 0);
  if (result != CopyResult::kCopied) {
    names.Abandoned(target);
    SetCopyError(error, result, changed, err, from, to);
    errno = err;
    return result;
  }
  struct stat after;
  names.CreatedIn(target, ::fstat(dir, &after) == 0 ? &after : nullptr);
  return CopyResult::kCopied;
}

int OpenMessage(const std::function<int(int flags)>& open,
                const std::string& shown, struct stat* st, std::string* error) {
  ScopedFd in(open(kMessageOpenFlags));
  if (in.get() < 0) {
    if (errno == ELOOP) {
      SetError(error, errno, "not copied, a symbolic link: " + shown);
    } else {
      SetError(error, errno, "cannot open " + shown);
    }
    return -1;
  }
  if (!IsRegularFile(in.get(), st)) {
    SetError(error, FileErrorKind::kNotRegular, EINVAL,
             "not copied, not a regular file: " + shown);
    return -1;
  }
  return in.Release();
}

void SetCopyError(std::string* error, CopyResult result, bool changed, int err,
                  const std::string& from, const std::string& to) {
  if (changed) {
    if (error != nullptr) {
      *error = FileErrorText({FileErrorKind::kSourceChanged, 0},
                             "the source changed during the copy: " + from);
    }
  } else if (result == CopyResult::kTargetExists) {
    SetError(error, EEXIST, "cannot copy to " + to);
  } else {
    SetError(error, err, "cannot copy " + from + " to " + to);
  }
}

bool ClonesOnCopy(long statfs_type) {
  constexpr long kXfsMagic = 0x58465342;
  constexpr long kBtrfsMagic = 0x9123683E;
  return statfs_type == kXfsMagic || statfs_type == kBtrfsMagic;
}

bool SameCopyOnWriteVolume(const std::string& source, std::string to) {
  struct stat from_status, to_status;
  struct statfs volume;
  if (::stat(source.c_str(), &from_status) != 0 ||
      ::statfs(source.c_str(), &volume) != 0 || !ClonesOnCopy(volume.f_type)) {
    return false;
  }
  while (::stat(to.c_str(), &to_status) != 0) {
    const std::string parent = DirName(to);
    if (parent == to) return false;
    to = parent;
  }
  return from_status.st_dev == to_status.st_dev;
}

}  // namespace vm
