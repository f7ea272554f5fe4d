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
#include "platform/code_page.h"
#include "platform/confined_roots_posix.h"
#include "platform/confined_view_impl_posix.h"
#include "platform/copy_into_posix.h"
#include "platform/directory_listing_posix.h"
#include "platform/helpers/file_system_wrapper.h"
#include "platform/name_cache_posix.h"
#include "platform/path_resolution_posix.h"
#include "platform/posix_io.h"
#include "util/ascii.h"
#include "util/thread_annotations.h"

namespace vm {

// ---- Status and reading ----

bool ConfinedView::Exists(const std::string& path) {
  const Place place = roots_.Where(path);
  if (place.root < 0) return base()->Exists(path);
  // A link is something there: an operation on it says what it is.
  struct stat st;
  return roots_.Status(place, &st);
}

bool ConfinedView::ModifiedTime(const std::string& path, int64_t* seconds) {
  const Place place = roots_.Where(path);
  if (place.root < 0) return base()->ModifiedTime(path, seconds);
  struct stat st;
  if (!roots_.Status(place, &st) || S_ISLNK(st.st_mode)) return false;
  *seconds = static_cast<int64_t>(st.st_mtime);
  return true;
}

bool ConfinedView::StampOf(const std::string& path, FileStamp* stamp) {
  const Place place = roots_.Where(path);
  if (place.root < 0) return base()->StampOf(path, stamp);
  struct stat st;
  if (!roots_.Status(place, &st) || !S_ISREG(st.st_mode)) return false;
  *stamp = StampOfStatus(st);
  return true;
}

bool ConfinedView::StatusOf(const std::string& path, EntryStatus* status) {
  const Place place = roots_.Where(path);
  if (place.root < 0) return base()->StatusOf(path, status);
  struct stat st;
  if (!roots_.Status(place, &st) || S_ISLNK(st.st_mode)) return false;
  *status = EntryStatusOf(st);
  return true;
}

void ConfinedView::StatusesIn(
    const std::string& dir, const std::vector<std::string>& names,
    std::vector<std::optional<EntryStatus>>* statuses) {
  const Place folder = roots_.Where(dir);
  if (folder.root < 0) return base()->StatusesIn(dir, names, statuses);
  statuses->assign(names.size(), std::nullopt);
  std::string dir_path;
  const HandlePtr held =
      Hold(roots_.OpenFolder(folder, folder.parts.size(), O_PATH, &dir_path));
  if (held == nullptr) return;  // nothing in it has a status either
  for (size_t i = 0; i < names.size(); ++i) {
    // Only the name is spelled, not the whole path again: a sync asks this
    // for every folder of every mailbox.
    const std::string name = parts_.paths->Spelled(names[i]);
    if (name.empty() || name == "." || name == ".." ||
        name.find('/') != std::string::npos) {
      // A name that is more than one entry of the folder is looked up
      // from the root, as StatusOf does.
      EntryStatus status;
      if (StatusOf(dir + "\\" + names[i], &status)) (*statuses)[i] = status;
      continue;
    }
    struct stat st;
    if (::fstatat(held->fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISLNK(st.st_mode)) {
      (*statuses)[i] = EntryStatusOf(st);
    }
  }
}

bool ConfinedView::ReadFile(const std::string& path, std::string* contents,
                            std::string* error) {
  contents->clear();
  const Place place = roots_.Where(path);
  if (place.root < 0) return base()->ReadFile(path, contents, error);
  ScopedFd fd(OpenToRead(place, path, error));
  return fd.get() >= 0 && ReadWhole(fd.get(), contents, Shown(path), error);
}

bool ConfinedView::ReadFileBy(const std::string& path, const PieceWriter& take,
                              std::string* error) {
  const Place place = roots_.Where(path);
  if (place.root < 0) return base()->ReadFileBy(path, take, error);
  ScopedFd fd(OpenToRead(place, path, error));
  return fd.get() >= 0 && ReadEachBlock(fd.get(), take, Shown(path), error);
}

int ConfinedView::OpenToRead(const Place& place, const std::string& path,
                             std::string* error) {
  ScopedFd fd(roots_.OpenFile(place, O_RDONLY | O_NONBLOCK));
  if (fd.get() < 0) {
    SetError(error, errno, "cannot open " + Shown(path));
    return -1;
  }
  if (!IsRegularFile(fd.get(), nullptr)) {
    SetError(error, FileErrorKind::kNotRegular, EINVAL,
             "not a regular file: " + Shown(path));
    return -1;
  }
  return fd.Release();
}

bool ConfinedView::CanRead(const std::string& path) {
  const Place place = roots_.Where(path);
  if (place.root < 0) return base()->CanRead(path);
  ScopedFd fd(roots_.OpenFile(place, O_RDONLY | O_NONBLOCK));
  return fd.get() >= 0 && IsRegularFile(fd.get(), nullptr);
}

bool ConfinedView::CanWrite(const std::string& path) {
  const Place place = roots_.Where(path);
  if (place.root < 0) return base()->CanWrite(path);
  Entry entry;
  struct stat st;
  if (!roots_.OpenEntry(place, true, &entry) || !entry.found ||
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
  const Place place = roots_.Where(path);
  if (place.root < 0) return base()->Prefetch(path);
  ScopedFd fd(roots_.OpenFile(place, O_RDONLY | O_NONBLOCK));
  if (fd.get() >= 0 && IsRegularFile(fd.get(), nullptr)) {
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_WILLNEED);
  }
}

bool ConfinedView::List(const std::string& pattern,
                        std::vector<DirEntry>* entries) {
  return ListIn(pattern, entries, true);
}

bool ConfinedView::ListNames(const std::string& pattern,
                             std::vector<DirEntry>* entries) {
  return ListIn(pattern, entries, false);
}

bool ConfinedView::ListIn(const std::string& pattern,
                          std::vector<DirEntry>* entries, bool sizes) {
  const size_t sep = pattern.find_last_of("\\/");
  const Place place = sep == std::string::npos || sep == 0
                          ? Place()
                          : roots_.Where(pattern.substr(0, sep));
  if (place.root < 0) {
    return sizes ? base()->List(pattern, entries)
                 : base()->ListNames(pattern, entries);
  }
  entries->clear();
  std::string path;
  const int fd = roots_.OpenFolder(place, place.parts.size(), O_RDONLY, &path);
  DIR* opened = fd < 0 ? nullptr : ::fdopendir(fd);
  if (fd >= 0 && opened == nullptr) ::close(fd);
  ScopedDir handle(opened);
  if (handle.get() == nullptr) return false;
  return ListOpenDirectory(*parts_.code_page, *parts_.name_ops, handle.get(),
                           pattern.substr(0, sep) + "\\",
                           pattern.substr(sep + 1), entries, sizes);
}

bool ConfinedView::Locate(const std::string& path, FileLocation* where) {
  const Place place = roots_.Where(path);
  if (place.root < 0) return base()->Locate(path, where);
  return roots_.Locate(place, where);
}

// ---- Writing ----

bool ConfinedView::WriteFile(const std::string& path,
                             const std::string& contents, std::string* error) {
  const Place place = roots_.Where(path);
  if (place.root < 0) return base()->WriteFile(path, contents, error);
  return Write(path, place, O_TRUNC, contents, error);
}

bool ConfinedView::AppendFile(const std::string& path,
                              const std::string& contents, std::string* error) {
  const Place place = roots_.Where(path);
  if (place.root < 0) return base()->AppendFile(path, contents, error);
  return Write(path, place, O_APPEND, contents, error);
}

std::unique_ptr<AppendingFile> ConfinedView::OpenAppending(
    const std::string& path, std::string* error) {
  const Place place = roots_.Where(path);
  if (place.root < 0) return base()->OpenAppending(path, error);
  return AppendingFd(roots_.OpenFile(place, O_WRONLY | O_APPEND | O_NONBLOCK),
                     Shown(path), error);
}

// Creates or opens the regular file `place` names (never a link there: it
// fails with ELOOP) with `flags`, and writes `contents`.
bool ConfinedView::Write(const std::string& path, const Place& place, int flags,
                         const std::string& contents, std::string* error) {
  Entry entry;
  if (!roots_.OpenEntry(place, true, &entry)) {
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
  if (roots_.Where(path).root < 0) {
    return base()->ReplaceContents(path, contents, error);
  }
  return Replace(
      path, [&contents](const PieceWriter& put) { return put(contents); },
      error);
}

bool ConfinedView::ReplaceContentsBy(const std::string& path,
                                     const ContentsProducer& produce,
                                     std::string* error) {
  if (roots_.Where(path).root < 0) {
    return base()->ReplaceContentsBy(path, produce, error);
  }
  return Replace(path, produce, error);
}

bool ConfinedView::Replace(const std::string& path,
                           const ContentsProducer& produce,
                           std::string* error) {
  Entry entry;
  if (!roots_.OpenEntry(roots_.Where(path), true, &entry)) {
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
  const Place place = roots_.Where(path);
  if (place.root < 0) return base()->MakeDir(path, error);
  Entry entry;
  if (!roots_.OpenEntry(place, true, &entry)) {
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
  if (place.parts.empty() && roots_.RootHandle(place.root) == nullptr) {
    roots_.SetRootHandle(
        place.root,
        Hold(::openat(dir, entry.name.c_str(),
                      O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)));
  }
  return made;
}

bool ConfinedView::RemoveFile(const std::string& path, std::string* error) {
  if (roots_.Where(path).root < 0) return base()->RemoveFile(path, error);
  return Remove(path, 0, error);
}

bool ConfinedView::RemoveEmptyDir(const std::string& path, std::string* error) {
  if (roots_.Where(path).root < 0) return base()->RemoveEmptyDir(path, error);
  roots_.ForgetFolders();
  return Remove(path, AT_REMOVEDIR, error);
}

// Removes the entry `path` names, by its name in the folder's handle; a
// link is kept (ELOOP). Should one be swapped in between the look and the
// removal, the link itself goes, never what it leads to.
bool ConfinedView::Remove(const std::string& path, int flags,
                          std::string* error) {
  const Place place = roots_.Where(path);
  Entry entry;
  int err = 0;
  struct stat st;
  if (!roots_.OpenEntry(place, true, &entry)) {
    err = errno;
  } else if (!entry.found || ::fstatat(entry.dir->fd(), entry.name.c_str(), &st,
                                       AT_SYMLINK_NOFOLLOW) != 0) {
    err = entry.found ? errno : ENOENT;
  } else if (S_ISLNK(st.st_mode)) {
    err = ELOOP;
  } else if (::unlinkat(entry.dir->fd(), entry.name.c_str(), flags) != 0) {
    err = errno;
  } else if (place.parts.empty()) {
    roots_.SetRootHandle(place.root, nullptr);
  }
  if (err == 0 || err == ENOENT) return true;
  SetError(error, err, "cannot remove " + Shown(path));
  return false;
}

PublishResult ConfinedView::PublishDir(const std::string& from,
                                       const std::string& to,
                                       std::string* error) {
  return Rename(from, to, false, error);
}

PublishResult ConfinedView::RenameNew(const std::string& from,
                                      const std::string& to,
                                      std::string* error) {
  return Rename(from, to, true, error);
}

PublishResult ConfinedView::Rename(const std::string& from,
                                   const std::string& to, bool file_only,
                                   std::string* error) {
  const Place source = roots_.Where(from), target = roots_.Where(to);
  if (source.root < 0 && target.root < 0) {
    return file_only ? base()->RenameNew(from, to, error)
                     : base()->PublishDir(from, to, error);
  }
  roots_.ForgetFolders();
  Entry a, b;
  struct stat st;
  int err = 0;
  if (source.root < 0 || target.root < 0) {
    err = EXDEV;
  } else if (!roots_.OpenEntry(source, true, &a) ||
             !roots_.OpenEntry(target, true, &b)) {
    err = errno;
  } else if (!a.found || ::fstatat(a.dir->fd(), a.name.c_str(), &st,
                                   AT_SYMLINK_NOFOLLOW) != 0) {
    err = a.found ? errno : ENOENT;
  } else if (S_ISLNK(st.st_mode)) {
    err = ELOOP;
  } else if (file_only && !S_ISREG(st.st_mode)) {
    err = EISDIR;
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
    parts_.folded_names->Renamed(
        a.path(), b.path(),
        ::fstat(b.dir->fd(), &after) == 0 ? &after : nullptr);
    return PublishResult::kPublished;
  }
  SetError(error, err, "cannot rename " + Shown(from) + " to " + Shown(to));
  return err == EEXIST ? PublishResult::kTargetExists : PublishResult::kFailed;
}

bool ConfinedView::SyncVolume(const std::string& path, std::string* error) {
  const Place place = roots_.Where(path);
  if (place.root < 0) return base()->SyncVolume(path, error);
  std::string folder;
  int fd = roots_.OpenFolder(place, place.parts.size(), O_RDONLY, &folder);
  if (fd < 0 && errno == ENOTDIR)
    fd = roots_.OpenFile(place, O_RDONLY | O_NONBLOCK);
  ScopedFd handle(fd);
  if (fd < 0 || ::syncfs(fd) != 0) {
    SetError(error, errno, "cannot flush the writes under " + Shown(path));
    return false;
  }
  return true;
}

bool ConfinedView::CopiesShareBlocks(const std::string& from,
                                     const std::string& to) {
  const Place source = roots_.Where(from), target = roots_.Where(to);
  // Into the store: its volume, where every mailbox is made. A store not
  // made yet (a first run asks before its first mailbox) will be made on
  // the volume of the nearest folder above it, which only its status is
  // taken of: the answer is a hint, and nothing is opened or written.
  const HandlePtr root =
      target.root < 0 ? nullptr : roots_.RootHandle(target.root);
  if ((source.root < 0 && target.root < 0) ||
      (target.root >= 0 && root == nullptr)) {
    return base()->CopiesShareBlocks(from, to);
  }
  ScopedFd in(source.root < 0
                  ? parts_.paths->OnPath(from,
                                         [](const char* p) {
                                           return ::open(p, O_PATH | O_CLOEXEC);
                                         })
                  : roots_.OpenFile(source, O_PATH));
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

std::unique_ptr<FileSystem> NewConfinedView(
    const DiskParts& parts, const std::vector<std::string>& roots,
    std::string* error) {
  auto view = std::make_unique<ConfinedView>(parts);
  if (!view->Open(roots, error)) return nullptr;
  return view;
}

}  // namespace vm
