#include "platform/helpers/overlay_file_system.h"

#include <functional>
#include <mutex>
#include <set>

#include "platform/wildcard.h"
#include "util/name_ops.h"

namespace vm {

std::string OverlayFileSystem::Parent(const std::string& path) const {
  // A trail byte may be a backslash: only one standing alone separates.
  // A path given on a command line may use "/", which every platform takes
  // for a separator and no trail byte is.
  size_t slash = std::string::npos;
  for (size_t at = names_.Find(path, '\\'); at != std::string::npos;
       at = names_.Find(path, '\\', at + 1)) {
    slash = at;
  }
  const size_t forward = path.rfind('/');
  if (forward != std::string::npos &&
      (slash == std::string::npos || forward > slash)) {
    slash = forward;
  }
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool OverlayFileSystem::Writable(const std::string& dir) {
  const Entry* e = Find(dir);
  if (e != nullptr) return e->kind == Entry::kDir;
  return base()->CanWrite(dir);
}

bool OverlayFileSystem::FileWritable(const std::string& path) {
  const Entry* e = Find(path);
  if (e != nullptr) {
    if (e->kind == Entry::kDir) return false;
    if (e->kind != Entry::kRemoved) return true;
  } else if (base()->Exists(path)) {
    return base()->CanWrite(path);
  }
  return IsDirectory(Parent(path)) && Writable(Parent(path));
}

const OverlayFileSystem::Entry* OverlayFileSystem::Find(
    const std::string& path) const {
  auto it = entries_.find(Key(path));
  return it == entries_.end() ? nullptr : &it->second;
}

void OverlayFileSystem::Put(const std::string& path, Entry entry) {
  // An existing name keeps its spelling, as on disk.
  entry.path = path;
  const Entry* old = Find(path);
  if (old != nullptr) {
    entry.path = old->path;
  } else if (base()->Exists(path)) {
    std::vector<DirEntry> found;
    base()->List(Parent(path) + "\\*", &found);
    for (const DirEntry& f : found) {
      if (Key(f.path) == Key(path)) entry.path = f.path;
    }
  }
  entries_[Key(path)] = std::move(entry);
}

bool OverlayFileSystem::IsDirectory(const std::string& path) {
  if (path.empty()) return true;
  const Entry* e = Find(path);
  if (e != nullptr) return e->kind == Entry::kDir;
  std::vector<DirEntry> entries;
  return base()->List(path + "\\*", &entries);
}

bool OverlayFileSystem::Exists(const std::string& path) {
  MutexLock lock(&mutex_);
  return ExistsLocked(path);
}

bool OverlayFileSystem::ExistsLocked(const std::string& path) {
  const Entry* e = Find(path);
  if (e != nullptr) return e->kind != Entry::kRemoved;
  return base()->Exists(path);
}

bool OverlayFileSystem::ModifiedTime(const std::string& path,
                                     int64_t* seconds) {
  MutexLock lock(&mutex_);
  const Entry* e = Find(path);
  if (e == nullptr) return base()->ModifiedTime(path, seconds);
  if (e->kind == Entry::kRemoved) return false;
  // A file this run wrote keeps the time of the file it replaced (or a
  // fixed one), so a store never takes its own save for another writer's.
  if (!base()->ModifiedTime(path, seconds)) *seconds = 1;
  return true;
}

bool OverlayFileSystem::StampOf(const std::string& path, FileStamp* stamp) {
  MutexLock lock(&mutex_);
  return Find(path) == nullptr && base()->StampOf(path, stamp);
}

bool OverlayFileSystem::StatusOf(const std::string& path, EntryStatus* status) {
  MutexLock lock(&mutex_);
  return Find(path) == nullptr && base()->StatusOf(path, status);
}

bool OverlayFileSystem::ReadFile(const std::string& path, std::string* contents,
                                 std::string* error) {
  MutexLock lock(&mutex_);
  return ReadFileLocked(path, contents, error);
}

bool OverlayFileSystem::ReadFileLocked(const std::string& path,
                                       std::string* contents,
                                       std::string* error) {
  const Entry* e = Find(path);
  if (e == nullptr) return base()->ReadFile(path, contents, error);
  switch (e->kind) {
    case Entry::kFile:
      *contents = e->contents;
      return true;
    case Entry::kCopy:
      return ReadFileLocked(e->source, contents, error);
    default:
      contents->clear();
      if (error != nullptr) *error = "no file " + path;
      return false;
  }
}

bool OverlayFileSystem::WriteFile(const std::string& path,
                                  const std::string& contents,
                                  std::string* error) {
  MutexLock lock(&mutex_);
  return WriteFileLocked(path, contents, error);
}

bool OverlayFileSystem::WriteFileLocked(const std::string& path,
                                        const std::string& contents,
                                        std::string* error) {
  const Entry* e = Find(path);
  const bool is_dir = e != nullptr ? e->kind == Entry::kDir : IsDirectory(path);
  // As on disk: the folder must exist, a folder is not a file, and what the
  // run may not write it cannot write.
  if (is_dir || !FileWritable(path)) {
    if (error != nullptr) *error = "cannot write " + DisplayPath(path);
    return false;
  }
  Entry entry;
  entry.contents = contents;
  entry.size = contents.size();
  Put(path, std::move(entry));
  return true;
}

bool OverlayFileSystem::ReplaceContents(const std::string& path,
                                        const std::string& contents,
                                        std::string* error) {
  MutexLock lock(&mutex_);
  return WriteFileLocked(path, contents, error);
}

DirMade OverlayFileSystem::MakeDir(const std::string& path,
                                   std::string* error) {
  MutexLock lock(&mutex_);
  const Entry* e = Find(path);
  if (e == nullptr && base()->Exists(path)) return DirMade::kExisted;
  // As on disk, a directory needs its parent, one the run may write.
  const bool made = e != nullptr && e->kind != Entry::kRemoved;
  if (made ? e->kind != Entry::kDir
           : !IsDirectory(Parent(path)) || !Writable(Parent(path))) {
    if (error != nullptr) *error = "cannot create " + DisplayPath(path);
    return DirMade::kFailed;
  }
  if (made) return DirMade::kExisted;
  Entry entry;
  entry.kind = Entry::kDir;
  Put(path, std::move(entry));
  return DirMade::kMade;
}

CopyResult OverlayFileSystem::CopyNew(const std::string& from,
                                      const std::string& to,
                                      std::string* error) {
  MutexLock lock(&mutex_);
  if (ExistsLocked(to)) return CopyResult::kTargetExists;
  const Entry* source = Find(from);
  // The source is opened, not read, to learn whether the run could read it.
  const bool readable = source != nullptr ? source->kind == Entry::kFile ||
                                                source->kind == Entry::kCopy
                                          : base()->CanRead(from);
  if (!readable || !IsDirectory(Parent(to)) || !Writable(Parent(to))) {
    if (error != nullptr) {
      *error = "cannot copy " + DisplayPath(from) + " to " + DisplayPath(to);
    }
    return CopyResult::kFailed;
  }
  Entry entry;
  entry.kind = Entry::kCopy;
  entry.source = from;
  if (source != nullptr) entry.size = source->size;
  Put(to, std::move(entry));
  return CopyResult::kCopied;
}

bool OverlayFileSystem::List(const std::string& pattern,
                             std::vector<DirEntry>* entries) {
  MutexLock lock(&mutex_);
  return ListLocked(pattern, entries);
}

bool OverlayFileSystem::ListLocked(const std::string& pattern,
                                   std::vector<DirEntry>* entries) {
  entries->clear();
  const std::string dir = Parent(pattern);
  const std::string wildcard = pattern.substr(dir.size() + 1);
  const Entry* own = Find(dir);
  if (own != nullptr && own->kind == Entry::kRemoved) return false;
  bool listed = base()->List(pattern, entries);
  if (!listed && (own == nullptr || own->kind != Entry::kDir)) return false;

  // Entries this run removed or wrote replace the disk's.
  std::set<std::string> overlaid;
  const std::string prefix = Key(dir) + "\\";
  for (auto it = entries_.lower_bound(prefix);
       it != entries_.end() && it->first.compare(0, prefix.size(), prefix) == 0;
       ++it) {
    if (names_.Find(it->first, '\\', prefix.size()) == std::string::npos) {
      overlaid.insert(it->first);
    }
  }
  std::vector<DirEntry> merged;
  for (DirEntry& entry : *entries) {
    if (overlaid.count(Key(entry.path)) == 0)
      merged.push_back(std::move(entry));
  }
  for (const std::string& key : overlaid) {
    const Entry& e = entries_.at(key);
    if (e.kind == Entry::kRemoved) continue;
    DirEntry entry;
    entry.path = e.path;
    entry.name = e.path.substr(Parent(e.path).size() + 1);
    if (!WildcardMatch(wildcard, entry.name, names_)) {
      continue;
    }
    entry.size = e.size;
    entry.is_directory = e.kind == Entry::kDir;
    merged.push_back(std::move(entry));
  }
  *entries = std::move(merged);
  return true;
}

bool OverlayFileSystem::SyncVolume(const std::string&, std::string*) {
  return true;  // nothing is written
}

bool OverlayFileSystem::RemoveFile(const std::string& path,
                                   std::string* error) {
  MutexLock lock(&mutex_);
  if (!ExistsLocked(path)) return true;
  return RemoveLocked(path, true, error);
}

bool OverlayFileSystem::RemoveEmptyDir(const std::string& path,
                                       std::string* error) {
  MutexLock lock(&mutex_);
  if (!ExistsLocked(path)) return true;
  std::vector<DirEntry> held;
  const bool empty =
      IsDirectory(path) && ListLocked(path + "\\*", &held) && held.empty();
  return RemoveLocked(path, empty, error);
}

// Marks `path` removed when `allowed` and the disk would let it go (an
// entry of this run's own always may).
bool OverlayFileSystem::RemoveLocked(const std::string& path, bool allowed,
                                     std::string* error) {
  if (!allowed || (Find(path) == nullptr && !base()->CanWrite(Parent(path)))) {
    if (error != nullptr) *error = "cannot remove " + DisplayPath(path);
    return false;
  }
  Entry entry;
  entry.kind = Entry::kRemoved;
  Put(path, std::move(entry));
  return true;
}

bool OverlayFileSystem::CanRead(const std::string& path) {
  MutexLock lock(&mutex_);
  const Entry* e = Find(path);
  if (e == nullptr) return base()->CanRead(path);
  return e->kind == Entry::kFile || e->kind == Entry::kCopy;
}

bool OverlayFileSystem::CanWrite(const std::string& path) {
  MutexLock lock(&mutex_);
  const Entry* e = Find(path);
  return e != nullptr ? e->kind != Entry::kRemoved : base()->CanWrite(path);
}

bool OverlayFileSystem::Locate(const std::string& path, FileLocation* where) {
  MutexLock lock(&mutex_);
  // What this run made exists only here, with an identity of its own; from
  // the first folder on disk up, the disk's identities.
  std::vector<FileId> made;
  bool exists = false;
  std::string rest = path;
  while (rest.size() > 1 && rest.back() == '\\') rest.pop_back();
  for (bool itself = true; !rest.empty(); itself = false) {
    const Entry* e = Find(rest);
    if (e != nullptr && e->kind != Entry::kRemoved) {
      made.push_back({~uint64_t{0}, std::hash<std::string>()(Key(rest))});
      exists = exists || itself;
    } else if (e == nullptr && base()->Exists(rest)) {
      exists = exists || itself;
      break;
    }
    rest = Parent(rest);
  }
  FileLocation disk;
  if (!rest.empty()) base()->Locate(rest, &disk);
  where->exists = exists;
  where->chain = std::move(made);
  where->chain.insert(where->chain.end(), disk.chain.begin(), disk.chain.end());
  return !where->chain.empty();
}

}  // namespace vm
