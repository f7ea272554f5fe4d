#include "app/overlay_file_system.h"

#include <mutex>
#include <set>

#include "migrate/source_lists.h"
#include "platform/wildcard.h"

namespace vm {

namespace {

std::string Key(const std::string& path) { return AsciiLower(path); }

std::string Parent(const std::string& path) {
  size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

const OverlayFileSystem::Entry* OverlayFileSystem::Find(
    const std::string& path) const {
  auto it = entries_.find(Key(path));
  return it == entries_.end() ? nullptr : &it->second;
}

void OverlayFileSystem::Put(const std::string& path, Entry entry) {
  entry.path = path;
  entries_[Key(path)] = std::move(entry);
}

bool OverlayFileSystem::Exists(const std::string& path) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const Entry* e = Find(path);
  if (e != nullptr) return e->kind != Entry::kRemoved;
  return base_->Exists(path);
}

bool OverlayFileSystem::ModifiedTime(const std::string& path,
                                     int64_t* seconds) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const Entry* e = Find(path);
  if (e == nullptr) return base_->ModifiedTime(path, seconds);
  if (e->kind == Entry::kRemoved) return false;
  // A file this run wrote keeps the time of the file it replaced, so a
  // store never takes its own save for another writer's.
  if (!base_->ModifiedTime(path, seconds)) *seconds = 0;
  return true;
}

bool OverlayFileSystem::ReadFile(const std::string& path, std::string* contents,
                                 std::string* error) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const Entry* e = Find(path);
  if (e == nullptr) return base_->ReadFile(path, contents, error);
  switch (e->kind) {
    case Entry::kFile:
      *contents = e->contents;
      return true;
    case Entry::kCopy:
      return base_->ReadFile(e->source, contents, error);
    default:
      contents->clear();
      return false;
  }
}

bool OverlayFileSystem::WriteFile(const std::string& path,
                                  const std::string& contents, std::string*) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  Entry entry;
  entry.contents = contents;
  entry.size = contents.size();
  Put(path, std::move(entry));
  return true;
}

bool OverlayFileSystem::ReplaceContents(const std::string& path,
                                        const std::string& contents,
                                        std::string* error) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return WriteFile(path, contents, error);
}

bool OverlayFileSystem::CreateDir(const std::string& path) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  const Entry* e = Find(path);
  if (e != nullptr && e->kind != Entry::kRemoved) return e->kind == Entry::kDir;
  if (e == nullptr && base_->Exists(path)) return true;
  // As on disk, a directory needs its parent.
  std::string parent = Parent(path);
  if (!parent.empty() && !Exists(parent)) return false;
  Entry entry;
  entry.kind = Entry::kDir;
  Put(path, std::move(entry));
  return true;
}

CopyResult OverlayFileSystem::CopyNew(const std::string& from,
                                      const std::string& to,
                                      std::string* error) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (Exists(to)) return CopyResult::kTargetExists;
  std::string parent = Parent(to);
  if (!parent.empty() && !Exists(parent)) {
    if (error != nullptr) *error = "no folder " + parent;
    return CopyResult::kFailed;
  }
  if (!base_->Exists(from)) {
    if (error != nullptr) *error = "cannot read " + from;
    return CopyResult::kFailed;
  }
  Entry entry;
  entry.kind = Entry::kCopy;
  entry.source = from;
  Put(to, std::move(entry));
  return CopyResult::kCopied;
}

bool OverlayFileSystem::List(const std::string& pattern,
                             std::vector<DirEntry>* entries) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  entries->clear();
  const std::string dir = Parent(pattern);
  const std::string wildcard = pattern.substr(dir.size() + 1);
  const Entry* own = Find(dir);
  if (own != nullptr && own->kind == Entry::kRemoved) return false;
  bool listed = base_->List(pattern, entries);
  if (!listed && (own == nullptr || own->kind != Entry::kDir)) return false;

  // Entries this run removed or wrote replace the disk's.
  std::set<std::string> overlaid;
  const std::string prefix = Key(dir) + "\\";
  for (auto it = entries_.lower_bound(prefix);
       it != entries_.end() && it->first.compare(0, prefix.size(), prefix) == 0;
       ++it) {
    if (it->first.find('\\', prefix.size()) == std::string::npos) {
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
    entry.name = e.path.substr(e.path.rfind('\\') + 1);
    if (!WildcardMatch(wildcard, entry.name, CharEncoding::kDoubleByte)) {
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

bool OverlayFileSystem::RemoveFile(const std::string& path) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!Exists(path)) return false;
  Entry entry;
  entry.kind = Entry::kRemoved;
  Put(path, std::move(entry));
  return true;
}

}  // namespace vm
