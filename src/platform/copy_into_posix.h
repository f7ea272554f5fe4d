#ifndef VM_PLATFORM_COPY_INTO_POSIX_H_
#define VM_PLATFORM_COPY_INTO_POSIX_H_

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/file_system.h"
#include "platform/posix_io.h"

namespace vm {

// The descriptor work of a copy: the new file written in its directory
// (unnamed where the file system allows it), given the source's times and
// permission bits and, as root, the directory's owner, and linked under its
// name only once complete. Safe to use from several threads.
class CopyWriter {
 public:
  CopyWriter();
  CopyWriter(const CopyWriter&) = delete;
  CopyWriter& operator=(const CopyWriter&) = delete;

  // Sets *changed when the source changed during the copy (its size or
  // modification time at the end is not that of `st`); the copy then fails.
  // A non-null `stamp` is given the new file's stamp once it has its name
  // (left as it was when it could not be taken).
  CopyResult CopyInto(int in, const struct stat& st, int dir,
                      const struct stat& dir_status, const std::string& name,
                      std::string* temp, bool* changed, FileStamp* stamp) const;
  // Writes a copy of `in` (whose status is `st`) into the new file at the
  // native path `to`, created exclusively (kTargetExists when there), for
  // a staging folder nobody else reads: no unnamed file, no link, no look
  // at the directory but, as root, its owner (once per directory). A copy
  // that fails is removed; one cut short by a kill stays under its name.
  // A non-null `stamp` is given the new file's stamp as for CopyInto.
  CopyResult CopyIntoNew(int in, const struct stat& st, const std::string& to,
                         bool* changed, FileStamp* stamp) const {
    return CopyIntoNewAt(in, st, AT_FDCWD, DirName(to), to, changed, stamp);
  }
  // The same for the new file `name` in the directory `dir` (AT_FDCWD for
  // a path), whose native path is `dir_path`; a link at `name` is refused
  // (ELOOP).
  CopyResult CopyIntoNewAt(int in, const struct stat& st, int dir,
                           const std::string& dir_path, const std::string& name,
                           bool* changed, FileStamp* stamp) const;
  bool OwnedByOther(const struct stat& dir) const;

 private:
  // The owner of the directory `dir_path`, looked up once (from `dir` when
  // it is a descriptor of it).
  bool DirOwner(int dir, const std::string& dir_path,
                std::pair<uid_t, gid_t>* owner) const;
  int LinkIntoPlace(int fd, int dir, const std::string& name,
                    std::string* temp) const;

  const uid_t uid_ = ::geteuid();
  const gid_t gid_ = ::getegid();
  const bool running_as_root_ = uid_ == 0;
  // Unnamed files can be given a name through /proc (absent in some
  // chroots).
  const bool proc_fd_ = ::access("/proc/self/fd", X_OK) == 0;
  mutable std::atomic<bool> link_by_fd_{true};
  const int umask_;
  // The owner of each staging folder copied into, as root; bounded.
  static constexpr size_t kMaxOwners = 1024;
  mutable std::mutex owners_mutex_;
  mutable std::unordered_map<std::string, std::pair<uid_t, gid_t>> owners_;
};

class FoldedNameCache;

// Copies the open message `in` (status `st`) to the new entry `name` of
// the folder `dir` (status `dir_status`, native path `dir_path`), which
// the caller found free, and records the new name in `names`. `from` and
// `to` name the files in error texts.
CopyResult CopyNamed(const CopyWriter& copier, FoldedNameCache& names, int in,
                     const struct stat& st, int dir,
                     const struct stat& dir_status, const std::string& dir_path,
                     const std::string& name, const std::string& from,
                     const std::string& to, FileStamp* stamp,
                     std::string* error);

// Opens a message to copy with `open` and takes its status into *st; -1,
// with the reason (`shown` names the file), when it cannot be opened or is
// no regular file. The source may be hostile: `open` must neither follow a
// link (O_NOFOLLOW; a link is then refused as one) nor wait on a FIFO or
// device (O_NONBLOCK).
int OpenMessage(const std::function<int(int flags)>& open,
                const std::string& shown, struct stat* st, std::string* error);
// The flags `open` is given.
inline constexpr int kMessageOpenFlags =
    O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;

// The error text of a copy that did not succeed: the source changed
// during it, the target appeared meanwhile, or the reason `err` tells. The
// paths are as the user is shown them.
// Whether copies from the native path `source` into `to` (or the nearest
// existing directory above it) clone the source's blocks: one volume of a
// kind where copy_file_range clones (XFS made with reflink, btrfs).
bool SameCopyOnWriteVolume(const std::string& source, std::string to);
// Whether a volume of the type `statfs_type` (statfs's f_type) clones the
// blocks copy_file_range copies.
bool ClonesOnCopy(long statfs_type);

// The stamp a file's status gives (see FileStamp).
FileStamp StampOfStatus(const struct stat& st);
// The EntryStatus of a file or folder from its status.
EntryStatus EntryStatusOf(const struct stat& st);

void SetCopyError(std::string* error, CopyResult result, bool changed, int err,
                  const std::string& from, const std::string& to);

}  // namespace vm

#endif  // VM_PLATFORM_COPY_INTO_POSIX_H_
