#include "platform/confined_view_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "platform/atomic_replace_posix.h"
#include "platform/beneath_posix.h"
#include "platform/code_page.h"
#include "platform/copy_into_posix.h"
#include "platform/directory_listing_posix.h"
#include "platform/helpers/file_system_wrapper.h"
#include "platform/name_cache_posix.h"
#include "platform/path_resolution_posix.h"
#include "platform/posix_io.h"
#include "util/ascii.h"
#include "util/thread_annotations.h"

namespace vm {
namespace {

// A descriptor shared by the calls using it, closed when the last lets go:
// a root made or removed by one thread never closes it under another.
class Handle {
 public:
  explicit Handle(int fd) : fd_(fd) {}
  ~Handle() { ::close(fd_); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  int fd() const { return fd_; }

 private:
  const int fd_;
};
using HandlePtr = std::shared_ptr<const Handle>;

HandlePtr Hold(int fd) {
  return fd < 0 ? nullptr : std::make_shared<const Handle>(fd);
}

// The components of a native path; empty ones and "." dropped, as the
// kernel drops them.
std::vector<std::string> Components(const std::string& native) {
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= native.size()) {
    size_t end = native.find('/', pos);
    if (end == std::string::npos) end = native.size();
    if (end > pos && native.compare(pos, end - pos, ".") != 0) {
      parts.push_back(native.substr(pos, end - pos));
    }
    pos = end + 1;
  }
  return parts;
}

bool SameFolded(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

std::string Joined(const std::vector<std::string>& parts, size_t count) {
  std::string joined;
  for (size_t i = 0; i < count; ++i) joined += "/" + parts[i];
  return joined;
}

class ConfinedView : public FileSystemWrapper {
 public:
  explicit ConfinedView(const DiskParts& parts)
      : FileSystemWrapper(parts.disk),
        parts_(parts),
        beneath_(parts.code_page, *parts.folded_names) {}

  bool Open(const std::vector<std::string>& roots, std::string* error);

  bool Exists(const std::string& path) override;
  bool ModifiedTime(const std::string& path, int64_t* seconds) override;
  bool ReadFile(const std::string& path, std::string* contents,
                std::string* error) override;
  bool ReadFileBy(const std::string& path, const PieceWriter& take,
                  std::string* error) override;
  bool WriteFile(const std::string& path, const std::string& contents,
                 std::string* error) override;
  bool AppendFile(const std::string& path, const std::string& contents,
                  std::string* error) override;
  bool ReplaceContents(const std::string& path, const std::string& contents,
                       std::string* error) override;
  bool ReplaceContentsBy(const std::string& path,
                         const ContentsProducer& produce,
                         std::string* error) override;
  DirMade MakeDir(const std::string& path, std::string* error) override;
  CopyResult CopyNew(const std::string& from, const std::string& to,
                     std::string* error) override;
  CopyResult CopyNewRecorded(const std::string& from, const std::string& to,
                             std::string* error, CopiedFile* copied) override;
  CopyResult CopyStaged(const std::string& from, const std::string& to,
                        std::string* error, CopiedFile* copied) override;
  bool StampOf(const std::string& path, FileStamp* stamp) override;
  PublishResult PublishDir(const std::string& from, const std::string& to,
                           std::string* error) override;
  bool List(const std::string& pattern,
            std::vector<DirEntry>* entries) override;
  bool SyncVolume(const std::string& path, std::string* error) override;
  void Prefetch(const std::string& path) override;
  bool CopiesShareBlocks(const std::string& from,
                         const std::string& to) override;
  bool RemoveFile(const std::string& path, std::string* error) override;
  bool RemoveEmptyDir(const std::string& path, std::string* error) override;
  bool CanRead(const std::string& path) override;
  bool CanWrite(const std::string& path) override;
  bool Locate(const std::string& path, FileLocation* where) override;

 private:
  struct Root {
    std::string ansi;                // as named
    std::vector<std::string> parts;  // as spelled, for matching paths
    bool absolute = false;
    int outer = -1;  // the root it lies in, or -1
    std::vector<std::string> below_outer;
    std::string native;  // where its handle was opened, for the caches
  };
  // Where a path lies: beneath `root` (-1: outside every root), by `parts`.
  struct Place {
    int root = -1;
    std::vector<std::string> parts;
    bool climbs = false;  // a ".." among them: refused
  };
  // The folder holding an entry, opened beneath a root, and its name there
  // (as found, else as spelled).
  struct Entry {
    HandlePtr dir;
    std::string dir_path;  // native, for the name cache
    std::string name;
    bool found = false;
    std::string path() const { return Join(dir_path, name); }
  };

  Place Where(const std::string& path) const;
  HandlePtr RootHandle(int root) const EXCLUDES(mutex_) {
    MutexLock lock(&mutex_);
    return handles_[static_cast<size_t>(root)];
  }
  void SetRootHandle(int root, HandlePtr handle) EXCLUDES(mutex_);
  bool OpenRoot(size_t i, std::string* error);
  bool OpenEntry(const Place& place, bool look, Entry* entry) const;
  bool OpenRootEntry(int root, Entry* entry) const;
  int OpenFolder(const Place& place, size_t count, int flags,
                 std::string* path) const;
  int OpenFile(const Place& place, int flags) const;
  bool Status(const Place& place, struct stat* st) const;
  bool Write(const std::string& path, const Place& place, int flags,
             const std::string& contents, std::string* error);
  bool Replace(const std::string& path, const ContentsProducer& produce,
               std::string* error);
  bool Remove(const std::string& path, int flags, std::string* error);
  CopyResult Copy(const std::string& from, const std::string& to,
                  std::string* error, FileStamp* stamp, bool staged);
  CopyResult CopyInto(const Place& target, int in, const struct stat& st,
                      const std::string& from, const std::string& to,
                      std::string* error, FileStamp* stamp, bool staged,
                      bool fresh);
  HandlePtr CopyFolder(const Place& place, bool fresh, std::string* path);
  void ForgetFolders() EXCLUDES(mutex_) {
    MutexLock lock(&mutex_);
    folders_.clear();
  }
  bool LocateBeneath(const Place& place, FileLocation* where) const;
  std::string Shown(const std::string& path) const { return DisplayPath(path); }

  const DiskParts parts_;
  const BeneathResolver beneath_;
  std::vector<Root> roots_;  // outer roots first; fixed once opened
  mutable Mutex mutex_;
  // Each root's handle; null while the root does not exist.
  std::vector<HandlePtr> handles_ GUARDED_BY(mutex_);
  // The folders copies went into lately, by their path as spelled (see
  // CopyFolder).
  static constexpr size_t kMaxFolders = 64;
  struct Folder {
    HandlePtr handle;
    std::string path;
  };
  std::unordered_map<std::string, Folder> folders_ GUARDED_BY(mutex_);
};

// ---- Roots and places ----

bool ConfinedView::Open(const std::vector<std::string>& roots,
                        std::string* error) {
  for (const std::string& ansi : roots) {
    const std::string spelled = parts_.paths->Spelled(ansi);
    if (spelled.empty()) {
      SetError(error, EILSEQ, "cannot open " + Shown(ansi));
      return false;
    }
    Root root{ansi, Components(spelled), spelled[0] == '/', -1, {}, spelled};
    if (Where(ansi).parts.empty() && Where(ansi).root >= 0) continue;
    roots_.push_back(std::move(root));
  }
  std::stable_sort(roots_.begin(), roots_.end(),
                   [](const Root& a, const Root& b) {
                     return a.parts.size() < b.parts.size();
                   });
  {
    MutexLock lock(&mutex_);
    handles_.resize(roots_.size());
  }
  for (size_t i = 0; i < roots_.size(); ++i) {
    if (!OpenRoot(i, error)) return false;
  }
  return true;
}

// A root is opened as it is named (links above it are the administrator's)
// but its own name may not be a link; a root in another one is opened
// beneath that one's handle.
bool ConfinedView::OpenRoot(size_t i, std::string* error) {
  Root& root = roots_[i];
  // The innermost of the roots opened before (none deeper) it lies in.
  for (size_t j = 0; j < i; ++j) {
    const Root& other = roots_[j];
    if (other.absolute == root.absolute &&
        other.parts.size() < root.parts.size() &&
        std::equal(other.parts.begin(), other.parts.end(), root.parts.begin(),
                   SameFolded)) {
      root.outer = static_cast<int>(j);
      root.below_outer.assign(
          root.parts.begin() + static_cast<ptrdiff_t>(other.parts.size()),
          root.parts.end());
    }
  }
  int fd;
  if (root.outer >= 0) {
    const Place place{root.outer, root.below_outer, false};
    fd = OpenFolder(place, place.parts.size(), O_PATH, &root.native);
    if (fd < 0 && errno == ENOENT) {
      root.native = roots_[static_cast<size_t>(root.outer)].native +
                    Joined(root.below_outer, root.below_outer.size());
    }
  } else {
    root.native = parts_.paths->Native(root.ansi);
    fd = ::open(root.native.c_str(),
                O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (fd < 0 && errno == ENOTDIR && ::lstat(root.native.c_str(), &st) == 0 &&
        S_ISLNK(st.st_mode)) {
      errno = ELOOP;
    }
  }
  if (fd < 0 && errno != ENOENT) {
    SetError(error, errno, "cannot open " + Shown(root.native));
    return false;
  }
  SetRootHandle(static_cast<int>(i), Hold(fd));
  return true;
}

void ConfinedView::SetRootHandle(int root, HandlePtr handle) {
  MutexLock lock(&mutex_);
  handles_[static_cast<size_t>(root)] = std::move(handle);
  folders_.clear();
}

ConfinedView::Place ConfinedView::Where(const std::string& path) const {
  Place place;
  const std::string spelled = parts_.paths->Spelled(path);
  if (spelled.empty()) return place;
  const bool absolute = spelled[0] == '/';
  std::vector<std::string> parts = Components(spelled);
  size_t depth = 0;
  for (size_t i = 0; i < roots_.size(); ++i) {
    const Root& root = roots_[i];
    if (root.absolute != absolute || root.parts.size() > parts.size() ||
        (place.root >= 0 && root.parts.size() <= depth) ||
        !std::equal(root.parts.begin(), root.parts.end(), parts.begin(),
                    SameFolded)) {
      continue;
    }
    place.root = static_cast<int>(i);
    depth = root.parts.size();
  }
  if (place.root < 0) return place;
  place.parts.assign(parts.begin() + static_cast<ptrdiff_t>(depth),
                     parts.end());
  for (const std::string& part : place.parts) {
    place.climbs = place.climbs || part == "..";
  }
  return place;
}

// Opens the folder that holds the entry `place` names; `look` also finds
// the entry there (else its name is taken as spelled). False with errno:
// ENOENT while the root does not exist, ELOOP for a link on the way,
// EXDEV for a path that climbs out.
bool ConfinedView::OpenEntry(const Place& place, bool look,
                             Entry* entry) const {
  if (place.climbs) {
    errno = EXDEV;
    return false;
  }
  if (place.parts.empty()) return OpenRootEntry(place.root, entry);
  entry->dir =
      Hold(OpenFolder(place, place.parts.size() - 1, O_PATH, &entry->dir_path));
  if (entry->dir == nullptr) return false;
  entry->name = place.parts.back();
  if (look) {
    entry->name = beneath_.NameIn(entry->dir->fd(), entry->dir_path,
                                  entry->name, &entry->found);
  }
  return true;
}

// The entry of a root itself: in its outer root, or in its parent folder
// opened as named.
bool ConfinedView::OpenRootEntry(int root, Entry* entry) const {
  const Root& r = roots_[static_cast<size_t>(root)];
  if (r.outer >= 0) {
    return OpenEntry({r.outer, r.below_outer, false}, true, entry);
  }
  entry->dir_path = DirName(r.native);
  entry->dir =
      Hold(::open(entry->dir_path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (entry->dir == nullptr) return false;
  entry->name = r.native.substr(r.native.find_last_of('/') + 1);
  struct stat st;
  entry->found = ::fstatat(entry->dir->fd(), entry->name.c_str(), &st,
                           AT_SYMLINK_NOFOLLOW) == 0;
  return true;
}

// The folder made of the first `count` parts of `place`, opened beneath its
// root with `flags`; -1 with errno.
int ConfinedView::OpenFolder(const Place& place, size_t count, int flags,
                             std::string* path) const {
  if (place.climbs) {
    errno = EXDEV;
    return -1;
  }
  const HandlePtr root = RootHandle(place.root);
  if (root == nullptr) {
    errno = ENOENT;
    return -1;
  }
  return beneath_.OpenDir(root->fd(),
                          roots_[static_cast<size_t>(place.root)].native,
                          place.parts, count, flags, path);
}

// Opens the file `place` names with `flags`, never through a link at any
// component nor at its own name (ELOOP).
int ConfinedView::OpenFile(const Place& place, int flags) const {
  Entry entry;
  if (!OpenEntry(place, false, &entry)) return -1;
  flags |= O_NOFOLLOW | O_CLOEXEC;
  const int dir = entry.dir->fd();
  const int fd = ::openat(dir, entry.name.c_str(), flags);
  if (fd >= 0 || errno != ENOENT) return fd;
  const std::string other =
      beneath_.OtherSpelling(dir, entry.dir_path, entry.name);
  if (other == entry.name) {
    errno = ENOENT;
    return -1;
  }
  return ::openat(dir, other.c_str(), flags);
}

// The status of the entry itself (a link is not followed).
bool ConfinedView::Status(const Place& place, struct stat* st) const {
  Entry entry;
  return OpenEntry(place, true, &entry) && entry.found &&
         ::fstatat(entry.dir->fd(), entry.name.c_str(), st,
                   AT_SYMLINK_NOFOLLOW) == 0;
}

// ---- Status and reading ----

bool ConfinedView::Exists(const std::string& path) {
  const Place place = Where(path);
  if (place.root < 0) return base()->Exists(path);
  // A link is something there: an operation on it says what it is.
  struct stat st;
  return Status(place, &st);
}

bool ConfinedView::ModifiedTime(const std::string& path, int64_t* seconds) {
  const Place place = Where(path);
  if (place.root < 0) return base()->ModifiedTime(path, seconds);
  struct stat st;
  if (!Status(place, &st) || S_ISLNK(st.st_mode)) return false;
  *seconds = static_cast<int64_t>(st.st_mtime);
  return true;
}

bool ConfinedView::StampOf(const std::string& path, FileStamp* stamp) {
  const Place place = Where(path);
  if (place.root < 0) return base()->StampOf(path, stamp);
  struct stat st;
  if (!Status(place, &st) || !S_ISREG(st.st_mode)) return false;
  *stamp = StampOfStatus(st);
  return true;
}

bool ConfinedView::ReadFile(const std::string& path, std::string* contents,
                            std::string* error) {
  contents->clear();
  const bool read = ReadFileBy(
      path,
      [contents](std::string_view piece) {
        contents->append(piece);
        return true;
      },
      error);
  if (!read) contents->clear();
  return read;
}

bool ConfinedView::ReadFileBy(const std::string& path, const PieceWriter& take,
                              std::string* error) {
  const Place place = Where(path);
  if (place.root < 0) return base()->ReadFileBy(path, take, error);
  ScopedFd fd(OpenFile(place, O_RDONLY | O_NONBLOCK));
  if (fd.get() < 0) {
    SetError(error, errno, "cannot open " + Shown(path));
    return false;
  }
  if (!IsRegularFile(fd.get(), nullptr)) {
    SetError(error, FileErrorKind::kNotRegular, EINVAL,
             "not a regular file: " + Shown(path));
    return false;
  }
  return ReadEachBlock(fd.get(), take, Shown(path), error);
}

bool ConfinedView::CanRead(const std::string& path) {
  const Place place = Where(path);
  if (place.root < 0) return base()->CanRead(path);
  ScopedFd fd(OpenFile(place, O_RDONLY | O_NONBLOCK));
  return fd.get() >= 0 && IsRegularFile(fd.get(), nullptr);
}

bool ConfinedView::CanWrite(const std::string& path) {
  const Place place = Where(path);
  if (place.root < 0) return base()->CanWrite(path);
  Entry entry;
  struct stat st;
  if (!OpenEntry(place, true, &entry) || !entry.found ||
      ::fstatat(entry.dir->fd(), entry.name.c_str(), &st,
                AT_SYMLINK_NOFOLLOW) != 0 ||
      S_ISLNK(st.st_mode)) {
    return false;
  }
  const int mode = S_ISDIR(st.st_mode) ? W_OK | X_OK : W_OK;
  return ::faccessat(entry.dir->fd(), entry.name.c_str(), mode, AT_EACCESS) ==
         0;
}

void ConfinedView::Prefetch(const std::string& path) {
  const Place place = Where(path);
  if (place.root < 0) return base()->Prefetch(path);
  ScopedFd fd(OpenFile(place, O_RDONLY | O_NONBLOCK));
  if (fd.get() >= 0 && IsRegularFile(fd.get(), nullptr)) {
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_WILLNEED);
  }
}

bool ConfinedView::List(const std::string& pattern,
                        std::vector<DirEntry>* entries) {
  const size_t sep = pattern.find_last_of("\\/");
  const Place place = sep == std::string::npos || sep == 0
                          ? Place()
                          : Where(pattern.substr(0, sep));
  if (place.root < 0) return base()->List(pattern, entries);
  entries->clear();
  std::string path;
  const int fd = OpenFolder(place, place.parts.size(), O_RDONLY, &path);
  DIR* opened = fd < 0 ? nullptr : ::fdopendir(fd);
  if (fd >= 0 && opened == nullptr) ::close(fd);
  ScopedDir handle(opened);
  if (handle.get() == nullptr) return false;
  return ListOpenDirectory(*parts_.code_page, *parts_.name_ops, handle.get(),
                           pattern.substr(0, sep) + "\\",
                           pattern.substr(sep + 1), entries);
}

bool ConfinedView::Locate(const std::string& path, FileLocation* where) {
  const Place place = Where(path);
  if (place.root < 0) return base()->Locate(path, where);
  return LocateBeneath(place, where);
}

// The chain of a path beneath a root: what of it exists, found beneath the
// root's handle without following a link, then the root and the folders
// above it.
bool ConfinedView::LocateBeneath(const Place& place,
                                 FileLocation* where) const {
  where->exists = false;
  where->chain.clear();
  const Root& root = roots_[static_cast<size_t>(place.root)];
  const HandlePtr handle = RootHandle(place.root);
  if (place.climbs) return false;
  if (handle == nullptr) return LocateNative(root.native, where);
  std::vector<FileId> below;
  HandlePtr dir = handle;
  std::string dir_path = root.native;
  for (size_t i = 0; i < place.parts.size(); ++i) {
    bool found = false;
    const std::string name =
        beneath_.NameIn(dir->fd(), dir_path, place.parts[i], &found);
    struct stat st;
    if (!found ||
        ::fstatat(dir->fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      break;
    }
    const bool last = i + 1 == place.parts.size();
    if (!last && !S_ISDIR(st.st_mode)) break;
    below.push_back(
        {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)});
    if (last) {
      where->exists = !S_ISLNK(st.st_mode);
      if (!where->exists) below.pop_back();
      break;
    }
    dir = Hold(::openat(dir->fd(), name.c_str(),
                        O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir == nullptr) break;
    dir_path = Join(dir_path, name);
  }
  FileLocation above;
  struct stat st;
  if (::fstat(handle->fd(), &st) != 0) return false;
  LocateNative(DirName(root.native), &above);
  where->chain.assign(below.rbegin(), below.rend());
  where->chain.push_back(
      {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)});
  where->chain.insert(where->chain.end(), above.chain.begin(),
                      above.chain.end());
  return true;
}

// ---- Writing ----

bool ConfinedView::WriteFile(const std::string& path,
                             const std::string& contents, std::string* error) {
  const Place place = Where(path);
  if (place.root < 0) return base()->WriteFile(path, contents, error);
  return Write(path, place, O_TRUNC, contents, error);
}

bool ConfinedView::AppendFile(const std::string& path,
                              const std::string& contents, std::string* error) {
  const Place place = Where(path);
  if (place.root < 0) return base()->AppendFile(path, contents, error);
  return Write(path, place, O_APPEND, contents, error);
}

// Creates or opens the regular file `place` names (never a link there: it
// fails with ELOOP) with `flags`, and writes `contents`.
bool ConfinedView::Write(const std::string& path, const Place& place, int flags,
                         const std::string& contents, std::string* error) {
  Entry entry;
  if (!OpenEntry(place, true, &entry)) {
    SetError(error, errno, "cannot open " + Shown(path) + " for writing");
    return false;
  }
  const int dir = entry.dir->fd();
  parts_.folded_names->Creating(entry.path());
  ScopedFd fd(::openat(
      dir, entry.name.c_str(),
      flags | O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
  if (fd.get() < 0) {
    const int err = errno;
    parts_.folded_names->Abandoned(entry.path());
    SetError(error, err, "cannot open " + Shown(path) + " for writing");
    return false;
  }
  struct stat after;
  parts_.folded_names->CreatedIn(entry.path(),
                                 ::fstat(dir, &after) == 0 ? &after : nullptr);
  if (!IsRegularFile(fd.get(), nullptr)) {
    SetError(error, FileErrorKind::kNotRegular, EINVAL,
             "not a regular file: " + Shown(path));
    return false;
  }
  if (!WriteAll(fd.get(), contents.data(), contents.size()) || !fd.Close()) {
    SetError(error, errno, "cannot write " + Shown(path));
    return false;
  }
  return true;
}

bool ConfinedView::ReplaceContents(const std::string& path,
                                   const std::string& contents,
                                   std::string* error) {
  if (Where(path).root < 0) {
    return base()->ReplaceContents(path, contents, error);
  }
  return Replace(
      path, [&contents](const PieceWriter& put) { return put(contents); },
      error);
}

bool ConfinedView::ReplaceContentsBy(const std::string& path,
                                     const ContentsProducer& produce,
                                     std::string* error) {
  if (Where(path).root < 0) {
    return base()->ReplaceContentsBy(path, produce, error);
  }
  return Replace(path, produce, error);
}

bool ConfinedView::Replace(const std::string& path,
                           const ContentsProducer& produce,
                           std::string* error) {
  Entry entry;
  if (!OpenEntry(Where(path), true, &entry)) {
    SetError(error, errno, "cannot replace " + Shown(path));
    return false;
  }
  if (!ReplaceFileContentsAt(entry.dir->fd(), entry.name, Shown(path), produce,
                             error)) {
    return false;
  }
  struct stat after;
  parts_.folded_names->CreatedIn(
      entry.path(), ::fstat(entry.dir->fd(), &after) == 0 ? &after : nullptr);
  return true;
}

DirMade ConfinedView::MakeDir(const std::string& path, std::string* error) {
  const Place place = Where(path);
  if (place.root < 0) return base()->MakeDir(path, error);
  Entry entry;
  if (!OpenEntry(place, true, &entry)) {
    SetError(error, errno, "cannot create " + Shown(path));
    return DirMade::kFailed;
  }
  const int dir = entry.dir->fd();
  FoldedNameCache& names = *parts_.folded_names;
  names.Creating(entry.path());
  DirMade made = DirMade::kMade;
  if (::mkdirat(dir, entry.name.c_str(), 0777) != 0) {
    int err = errno;
    names.Abandoned(entry.path());
    struct stat st;
    if (err == EEXIST &&
        ::fstatat(dir, entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      err = S_ISDIR(st.st_mode) ? 0 : S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR;
    }
    if (err != 0) {
      SetError(error, err, "cannot create " + Shown(path));
      return DirMade::kFailed;
    }
    made = DirMade::kExisted;
  } else {
    names.MadeEmpty(entry.path());
    struct stat parent;
    const bool known = ::fstat(dir, &parent) == 0;
    names.CreatedIn(entry.path(), known ? &parent : nullptr);
    if (known && parts_.copier->OwnedByOther(parent) &&
        ::fchownat(dir, entry.name.c_str(), parent.st_uid, parent.st_gid,
                   AT_SYMLINK_NOFOLLOW) != 0) {
      // The directory stays root's; copies into it still work.
    }
  }
  if (place.parts.empty() && RootHandle(place.root) == nullptr) {
    SetRootHandle(place.root, Hold(::openat(dir, entry.name.c_str(),
                                            O_PATH | O_DIRECTORY | O_NOFOLLOW |
                                                O_CLOEXEC)));
  }
  return made;
}

bool ConfinedView::RemoveFile(const std::string& path, std::string* error) {
  if (Where(path).root < 0) return base()->RemoveFile(path, error);
  return Remove(path, 0, error);
}

bool ConfinedView::RemoveEmptyDir(const std::string& path, std::string* error) {
  if (Where(path).root < 0) return base()->RemoveEmptyDir(path, error);
  ForgetFolders();
  return Remove(path, AT_REMOVEDIR, error);
}

// Removes the entry `path` names, by its name in the folder's handle; a
// link is kept (ELOOP). Should one be swapped in between the look and the
// removal, the link itself goes, never what it leads to.
bool ConfinedView::Remove(const std::string& path, int flags,
                          std::string* error) {
  const Place place = Where(path);
  Entry entry;
  int err = 0;
  struct stat st;
  if (!OpenEntry(place, true, &entry)) {
    err = errno;
  } else if (!entry.found || ::fstatat(entry.dir->fd(), entry.name.c_str(), &st,
                                       AT_SYMLINK_NOFOLLOW) != 0) {
    err = entry.found ? errno : ENOENT;
  } else if (S_ISLNK(st.st_mode)) {
    err = ELOOP;
  } else if (::unlinkat(entry.dir->fd(), entry.name.c_str(), flags) != 0) {
    err = errno;
  } else if (place.parts.empty()) {
    SetRootHandle(place.root, nullptr);
  }
  if (err == 0 || err == ENOENT) return true;
  SetError(error, err, "cannot remove " + Shown(path));
  return false;
}

PublishResult ConfinedView::PublishDir(const std::string& from,
                                       const std::string& to,
                                       std::string* error) {
  const Place source = Where(from), target = Where(to);
  if (source.root < 0 && target.root < 0) {
    return base()->PublishDir(from, to, error);
  }
  ForgetFolders();
  Entry a, b;
  struct stat st;
  int err = 0;
  if (source.root < 0 || target.root < 0) {
    err = EXDEV;
  } else if (!OpenEntry(source, true, &a) || !OpenEntry(target, true, &b)) {
    err = errno;
  } else if (!a.found || ::fstatat(a.dir->fd(), a.name.c_str(), &st,
                                   AT_SYMLINK_NOFOLLOW) != 0) {
    err = a.found ? errno : ENOENT;
  } else if (S_ISLNK(st.st_mode)) {
    err = ELOOP;
  } else if (::renameat2(a.dir->fd(), a.name.c_str(), b.dir->fd(),
                         b.name.c_str(), RENAME_NOREPLACE) != 0) {
    err = errno;
    if (err == EEXIST &&
        ::fstatat(b.dir->fd(), b.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode)) {
      err = ELOOP;
    }
  } else {
    struct stat after;
    parts_.folded_names->CreatedIn(
        b.path(), ::fstat(b.dir->fd(), &after) == 0 ? &after : nullptr);
    return PublishResult::kPublished;
  }
  SetError(error, err, "cannot rename " + Shown(from) + " to " + Shown(to));
  return err == EEXIST ? PublishResult::kTargetExists : PublishResult::kFailed;
}

bool ConfinedView::SyncVolume(const std::string& path, std::string* error) {
  const Place place = Where(path);
  if (place.root < 0) return base()->SyncVolume(path, error);
  std::string folder;
  int fd = OpenFolder(place, place.parts.size(), O_RDONLY, &folder);
  if (fd < 0 && errno == ENOTDIR) fd = OpenFile(place, O_RDONLY | O_NONBLOCK);
  ScopedFd handle(fd);
  if (fd < 0 || ::syncfs(fd) != 0) {
    SetError(error, errno, "cannot flush the writes under " + Shown(path));
    return false;
  }
  return true;
}

bool ConfinedView::CopiesShareBlocks(const std::string& from,
                                     const std::string& to) {
  const Place source = Where(from), target = Where(to);
  if (source.root < 0 && target.root < 0) {
    return base()->CopiesShareBlocks(from, to);
  }
  ScopedFd in(source.root < 0
                  ? parts_.paths->OnPath(from,
                                         [](const char* p) {
                                           return ::open(p, O_PATH | O_CLOEXEC);
                                         })
                  : OpenFile(source, O_PATH));
  // Into the store: its volume, where every mailbox is made.
  const HandlePtr root = target.root < 0 ? nullptr : RootHandle(target.root);
  ScopedFd out(
      target.root < 0
          ? parts_.paths->OnPath(
                to, [](const char* p) { return ::open(p, O_PATH | O_CLOEXEC); })
          : -1);
  const int out_fd = root != nullptr ? root->fd() : out.get();
  struct stat from_status, to_status;
  struct statfs volume;
  return in.get() >= 0 && out_fd >= 0 && ::fstat(in.get(), &from_status) == 0 &&
         ::fstatfs(in.get(), &volume) == 0 && ClonesOnCopy(volume.f_type) &&
         ::fstat(out_fd, &to_status) == 0 &&
         from_status.st_dev == to_status.st_dev;
}

// ---- Copies ----

CopyResult ConfinedView::CopyNew(const std::string& from, const std::string& to,
                                 std::string* error) {
  return Copy(from, to, error, nullptr, false);
}

CopyResult ConfinedView::CopyNewRecorded(const std::string& from,
                                         const std::string& to,
                                         std::string* error,
                                         CopiedFile* copied) {
  if (Where(from).root < 0 && Where(to).root < 0) {
    return base()->CopyNewRecorded(from, to, error, copied);
  }
  FileStamp stamp;
  const CopyResult result = Copy(from, to, error, &stamp, false);
  *copied = CopiedFile{};
  if (result == CopyResult::kCopied && stamp.file != 0) {
    *copied = {stamp.size, {}, stamp};
  }
  return result;
}

CopyResult ConfinedView::CopyStaged(const std::string& from,
                                    const std::string& to, std::string* error,
                                    CopiedFile* copied) {
  if (Where(from).root < 0 && Where(to).root < 0) {
    return base()->CopyStaged(from, to, error, copied);
  }
  FileStamp stamp;
  const CopyResult result =
      Copy(from, to, error, copied != nullptr ? &stamp : nullptr, true);
  if (copied != nullptr) {
    *copied = CopiedFile{};
    if (result == CopyResult::kCopied && stamp.file != 0) {
      *copied = {stamp.size, {}, stamp};
    }
  }
  return result;
}

CopyResult ConfinedView::Copy(const std::string& from, const std::string& to,
                              std::string* error, FileStamp* stamp,
                              bool staged) {
  const Place source = Where(from), target = Where(to);
  if (source.root < 0 && target.root < 0)
    return base()->CopyNew(from, to, error);
  if (target.root < 0 || target.parts.empty() || target.climbs) {
    SetError(error, target.root < 0 || target.climbs ? EXDEV : EEXIST,
             "cannot copy to " + Shown(to));
    return target.root >= 0 && !target.climbs ? CopyResult::kTargetExists
                                              : CopyResult::kFailed;
  }
  struct stat st;
  ScopedFd in(OpenMessage(
      [&](int flags) {
        return source.root >= 0
                   ? OpenFile(source, flags)
                   : parts_.paths->OnPath(from, [flags](const char* p) {
                       return ::open(p, flags);
                     });
      },
      Shown(from), &st, error));
  if (in.get() < 0) return CopyResult::kFailed;
  CopyResult result =
      CopyInto(target, in.get(), st, from, to, error, stamp, staged, false);
  // A folder held from an earlier copy that is gone by now (removed, by
  // another program too) is looked up once more.
  if (result == CopyResult::kFailed && errno == ENOENT &&
      ::lseek(in.get(), 0, SEEK_SET) == 0) {
    result =
        CopyInto(target, in.get(), st, from, to, error, stamp, staged, true);
  }
  return result;
}

// Copies into the folder of `target`, held (see CopyFolder) unless `fresh`.
CopyResult ConfinedView::CopyInto(const Place& target, int in,
                                  const struct stat& st,
                                  const std::string& from,
                                  const std::string& to, std::string* error,
                                  FileStamp* stamp, bool staged, bool fresh) {
  std::string dir_path;
  const HandlePtr dir = CopyFolder(target, fresh, &dir_path);
  struct stat dir_status;
  if (dir == nullptr || (!staged && ::fstat(dir->fd(), &dir_status) != 0)) {
    SetError(error, errno, "cannot create " + Shown(to));
    return CopyResult::kFailed;
  }
  const std::string& name = target.parts.back();
  struct stat existing;
  int err = 0;
  CopyResult result = CopyResult::kFailed;
  if (staged) {
    bool changed = false;
    result = parts_.copier->CopyIntoNewAt(in, st, dir->fd(), dir_path, name,
                                          &changed, stamp);
    err = errno;
    if (result != CopyResult::kCopied) {
      SetCopyError(error, result, changed, err, Shown(from), Shown(to));
    }
  } else if (::fstatat(dir->fd(), name.c_str(), &existing,
                       AT_SYMLINK_NOFOLLOW) == 0 ||
             beneath_.OtherSpelling(dir->fd(), dir_path, name, &dir_status) !=
                 name) {
    // A name that differs only in case is the same file to the server.
    result = CopyResult::kTargetExists;
    SetError(error, EEXIST, "cannot copy to " + Shown(to));
  } else {
    result = CopyNamed(*parts_.copier, *parts_.folded_names, in, st, dir->fd(),
                       dir_status, dir_path, name, Shown(from), Shown(to),
                       stamp, error);
    err = errno;
  }
  // A link where the copy was to go is no file to keep: it is refused as a
  // link (and left as it is).
  if (result == CopyResult::kTargetExists &&
      ::fstatat(dir->fd(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(existing.st_mode)) {
    SetError(error, ELOOP, "cannot copy to " + Shown(to));
    return CopyResult::kFailed;
  }
  errno = err;
  return result;
}

// The folder a copy goes into. Copies come folder by folder, so the handle
// of the folder is held for the next copy into it, by the folder's path as
// spelled: the look-up beneath the root, a system call or one per
// component, would otherwise be spent on every message. This is as safe as
// looking the folder up anew: a handle stays the folder it was opened for
// wherever that folder is renamed, and it can only be moved out of the
// target by a rename that needs write permission on the folder itself and
// on its new parent, i.e. by someone who could make and remove entries in
// it anyway; a link put in its place meanwhile is never followed, as the
// handle is never looked up again by name. The held handles are let go
// whenever this view removes or renames a folder or makes a root, and a
// copy into a folder that is gone looks it up anew (Copy).
HandlePtr ConfinedView::CopyFolder(const Place& place, bool fresh,
                                   std::string* path) {
  const std::string key =
      std::to_string(place.root) + Joined(place.parts, place.parts.size() - 1);
  if (!fresh) {
    MutexLock lock(&mutex_);
    auto it = folders_.find(key);
    if (it != folders_.end()) {
      *path = it->second.path;
      return it->second.handle;
    }
  }
  HandlePtr handle =
      Hold(OpenFolder(place, place.parts.size() - 1, O_PATH, path));
  if (handle != nullptr) {
    MutexLock lock(&mutex_);
    if (folders_.size() >= kMaxFolders) folders_.clear();
    folders_[key] = {handle, *path};
  }
  return handle;
}

}  // namespace

std::unique_ptr<FileSystem> NewConfinedView(
    const DiskParts& parts, const std::vector<std::string>& roots,
    std::string* error) {
  auto view = std::make_unique<ConfinedView>(parts);
  if (!view->Open(roots, error)) return nullptr;
  return view;
}

}  // namespace vm
