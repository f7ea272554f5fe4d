#include "platform/confined_roots_posix.h"

#include <errno.h>
#include <fcntl.h>

#include <algorithm>
#include <utility>

#include "platform/code_page.h"
#include "platform/path_resolution_posix.h"
#include "util/ascii.h"

namespace vm {
namespace {

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

}  // namespace

HandlePtr Hold(int fd) {
  return fd < 0 ? nullptr : std::make_shared<const Handle>(fd);
}

bool ConfinedRoots::Open(const std::vector<std::string>& roots,
                         std::string* error) {
  for (const std::string& ansi : roots) {
    const std::string spelled = parts_.paths->Spelled(ansi);
    if (spelled.empty()) {
      SetError(error, EILSEQ, "cannot open " + parts_.disk->DisplayPath(ansi));
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
bool ConfinedRoots::OpenRoot(size_t i, std::string* error) {
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
  int err = 0;
  if (root.outer >= 0) {
    const Place place{root.outer, root.below_outer, false};
    fd = OpenFolder(place, place.parts.size(), O_PATH, &root.native);
    err = errno;
    if (fd < 0 && err == ENOENT) {
      root.native = roots_[static_cast<size_t>(root.outer)].native +
                    Joined(root.below_outer, root.below_outer.size());
    }
  } else {
    root.native = parts_.paths->Native(root.ansi);
    fd = ::open(root.native.c_str(),
                O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    err = errno;
    struct stat st;
    if (fd < 0 && err == ENOTDIR && ::lstat(root.native.c_str(), &st) == 0 &&
        S_ISLNK(st.st_mode)) {
      err = ELOOP;
    }
  }
  if (fd < 0 && err != ENOENT) {
    SetError(error, err, "cannot open " + parts_.disk->DisplayPath(root.ansi));
    return false;
  }
  SetRootHandle(static_cast<int>(i), Hold(fd));
  return true;
}

void ConfinedRoots::SetRootHandle(int root, HandlePtr handle) {
  MutexLock lock(&mutex_);
  handles_[static_cast<size_t>(root)] = std::move(handle);
  folders_.clear();
}

ConfinedRoots::Place ConfinedRoots::Where(const std::string& path) const {
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
bool ConfinedRoots::OpenEntry(const Place& place, bool look,
                              Entry* entry) const {
  if (place.climbs) {
    errno = EXDEV;
    return false;
  }
  if (place.parts.empty()) return OpenRootEntry(place.root, entry);
  if (place.parts.size() == 1) {
    // An entry of the root itself (a mailbox, its staging folder): the
    // root's own handle is the folder, with no second open of it.
    entry->dir = RootHandle(place.root);
    entry->dir_path = roots_[static_cast<size_t>(place.root)].native;
    if (entry->dir == nullptr) errno = ENOENT;
  } else {
    entry->dir = Hold(
        OpenFolder(place, place.parts.size() - 1, O_PATH, &entry->dir_path));
  }
  if (entry->dir == nullptr) return false;
  entry->name = place.parts.back();
  if (look) {
    entry->name = beneath_.NameIn(entry->dir->fd(), entry->dir_path,
                                  entry->name, &entry->found, &entry->status);
  }
  return true;
}

// The entry of a root itself: in its outer root, or in its parent folder
// opened as named.
bool ConfinedRoots::OpenRootEntry(int root, Entry* entry) const {
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
int ConfinedRoots::OpenFolder(const Place& place, size_t count, int flags,
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
int ConfinedRoots::OpenFile(const Place& place, int flags) const {
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
bool ConfinedRoots::Status(const Place& place, struct stat* st) const {
  Entry entry;
  if (!OpenEntry(place, true, &entry) || !entry.found) return false;
  // The look that found it took its status (a name found otherwise spelled
  // is taken now).
  if (entry.status.has_value()) {
    *st = *entry.status;
    return true;
  }
  return ::fstatat(entry.dir->fd(), entry.name.c_str(), st,
                   AT_SYMLINK_NOFOLLOW) == 0;
}

// The chain of a path beneath a root: what of it exists, found beneath the
// root's handle without following a link, then the root and the folders
// above it.
bool ConfinedRoots::Locate(const Place& place, FileLocation* where) const {
  where->exists = false;
  where->chain.clear();
  const Root& root = roots_[static_cast<size_t>(place.root)];
  const HandlePtr handle = RootHandle(place.root);
  if (place.climbs) return false;
  if (handle == nullptr) return LocateNative(root.native, where);
  std::vector<FileId> below;
  HandlePtr dir = handle;
  std::string dir_path = root.native;
  // The root itself is there: its handle is held.
  where->exists = place.parts.empty();
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
HandlePtr ConfinedRoots::CopyFolder(const Place& place, bool fresh,
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

}  // namespace vm
