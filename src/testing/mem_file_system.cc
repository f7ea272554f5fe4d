#include "testing/mem_file_system.h"

#include <cstdint>
#include <functional>

#include "platform/wildcard.h"

namespace vm {
namespace {

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

}  // namespace

std::vector<std::string> MemFileSystem::Split(const std::string& path) const {
  // A trail byte may be a backslash: only one standing alone separates.
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 0; i < path.size(); i += names_.CharLength(path, i)) {
    const char c = path[i];
    if (c == '\\' || c == '/') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part.append(path, i, names_.CharLength(path, i));
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

std::string MemFileSystem::Key(const std::vector<std::string>& parts,
                               size_t count) const {
  std::string key;
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) key += '\\';
    key += names_.Fold(parts[i]);
  }
  return key;
}

std::string MemFileSystem::Key(const std::string& path) const {
  std::vector<std::string> parts = Split(path);
  return Key(parts, parts.size());
}

bool MemFileSystem::ParentIsDirectory(const std::string& path) const {
  std::vector<std::string> parts = Split(path);
  if (parts.size() <= 1) return false;  // a drive cannot be created
  if (parts.size() == 2) return true;   // the drive itself
  const Node* parent = Find(Key(parts, parts.size() - 1));
  return parent != nullptr && parent->is_directory;
}

const MemFileSystem::Node* MemFileSystem::Find(const std::string& key) const {
  auto it = nodes_.find(key);
  return it == nodes_.end() ? nullptr : &it->second;
}

bool MemFileSystem::Exists(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> parts = Split(path);
  return parts.size() == 1 || Find(Key(path)) != nullptr;
}

bool MemFileSystem::ModifiedTime(const std::string& path, int64_t* seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Node* node = Find(Key(path));
  if (node == nullptr) return false;
  *seconds = node->mtime;
  return true;
}

bool MemFileSystem::ReadFile(const std::string& path, std::string* contents,
                             std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  contents->clear();
  std::string key = Key(path);
  const Node* node = Find(key);
  if (node == nullptr || node->is_directory) {
    SetError(error, "cannot open " + path);
    return false;
  }
  ++reads_[key];
  *contents = node->data;
  return true;
}

bool MemFileSystem::WriteLocked(const std::string& path,
                                const std::string& contents,
                                std::string* error) {
  std::string key = Key(path);
  const Node* existing = Find(key);
  if ((existing != nullptr && existing->is_directory) ||
      !ParentIsDirectory(path)) {
    SetError(error, "cannot open " + path + " for writing");
    return false;
  }
  if (existing == nullptr) EntriesChanged(path);
  Node& node = nodes_[key];
  if (node.name.empty()) node.name = Split(path).back();
  node.data = contents;
  node.mtime = now_;
  Changed(&node, false);
  ++writes_[key];
  return true;
}

bool MemFileSystem::WriteFile(const std::string& path,
                              const std::string& contents, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  return WriteLocked(path, contents, error);
}

bool MemFileSystem::ReplaceContents(const std::string& path,
                                    const std::string& contents,
                                    std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string key = Key(path);
  const Node* existing = Find(key);
  if ((existing != nullptr && existing->is_directory) ||
      !ParentIsDirectory(path)) {
    SetError(error, "cannot replace " + path);
    return false;
  }
  // A replace puts a new file in the old one's place.
  EntriesChanged(path);
  Node& node = nodes_[key];
  if (node.name.empty()) node.name = Split(path).back();
  node.data = contents;
  node.mtime = now_;
  Changed(&node, true);
  ++writes_[key];
  return true;
}

DirMade MemFileSystem::MakeDir(const std::string& path, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> parts = Split(path);
  if (parts.size() == 1) return DirMade::kExisted;  // a drive
  std::string key = Key(path);
  const Node* existing = Find(key);
  if (existing != nullptr && existing->is_directory) return DirMade::kExisted;
  if (existing != nullptr || !ParentIsDirectory(path)) {
    SetError(error, "cannot create " + path);
    return DirMade::kFailed;
  }
  EntriesChanged(path);
  Node& node = nodes_[key];
  node.name = parts.back();
  node.is_directory = true;
  node.mtime = now_;
  Changed(&node, true);
  return DirMade::kMade;
}

CopyResult MemFileSystem::CopyNew(const std::string& from,
                                  const std::string& to, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string from_key = Key(from);
  const Node* source = Find(from_key);
  if (source == nullptr || source->is_directory) {
    SetError(error, "cannot open " + from);
    return CopyResult::kFailed;
  }
  std::string to_key = Key(to);
  if (Find(to_key) != nullptr) {
    SetError(error, "cannot copy to " + to + ": file exists");
    return CopyResult::kTargetExists;
  }
  if (!ParentIsDirectory(to)) {
    SetError(error, "cannot create " + to);
    return CopyResult::kFailed;
  }
  Node copy = *source;
  copy.name = Split(to).back();
  Changed(&copy, true);
  EntriesChanged(to);
  nodes_[to_key] = copy;
  ++reads_[from_key];
  ++writes_[to_key];
  return CopyResult::kCopied;
}

bool MemFileSystem::List(const std::string& pattern,
                         std::vector<DirEntry>* entries) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries->clear();
  size_t sep = std::string::npos;
  for (size_t i = 0; i < pattern.size(); i += names_.CharLength(pattern, i)) {
    if (pattern[i] == '\\' || pattern[i] == '/') sep = i;
  }
  std::string dir = sep == std::string::npos ? "" : pattern.substr(0, sep);
  std::string wildcard =
      sep == std::string::npos ? pattern : pattern.substr(sep + 1);
  std::vector<std::string> dir_parts = Split(dir);
  std::string dir_key = Key(dir);
  if (dir_parts.size() > 1) {
    const Node* node = Find(dir_key);
    if (node == nullptr || !node->is_directory) {
      return false;
    }
  }
  std::string prefix = dir_key.empty() ? "" : dir_key + "\\";
  for (auto it = nodes_.lower_bound(prefix); it != nodes_.end(); ++it) {
    const std::string& key = it->first;
    if (key.compare(0, prefix.size(), prefix) != 0) break;
    if (names_.Find(key, '\\', prefix.size()) != std::string::npos) continue;
    const Node& node = it->second;
    if (!WildcardMatch(wildcard, node.name, names_)) {
      continue;
    }
    DirEntry entry;
    entry.name = node.name;
    entry.path = sep == std::string::npos ? node.name : dir + "\\" + node.name;
    entry.size = node.is_directory ? 0 : node.data.size();
    entry.is_directory = node.is_directory;
    entries->push_back(std::move(entry));
  }
  return true;
}

bool MemFileSystem::ListNames(const std::string& pattern,
                              std::vector<DirEntry>* entries) {
  if (!List(pattern, entries)) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  for (DirEntry& entry : *entries) {
    const Node* node = Find(Key(entry.path));
    if (entry.is_directory || entry.is_special || node == nullptr) continue;
    entry.sized = false;
    entry.size = 0;
    entry.file = node->number;
  }
  return true;
}

bool MemFileSystem::RemoveFile(const std::string& path, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = nodes_.find(Key(path));
  if (it == nodes_.end()) return true;
  if (it->second.is_directory) {
    SetError(error, "cannot remove " + path + ": a directory");
    return false;
  }
  nodes_.erase(it);
  EntriesChanged(path);
  return true;
}

PublishResult MemFileSystem::PublishDir(const std::string& from,
                                        const std::string& to,
                                        std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string from_key = Key(from);
  const std::string to_key = Key(to);
  const Node* source = Find(from_key);
  if (Find(to_key) != nullptr) {
    SetError(error, "cannot rename to " + to + ": file exists");
    return PublishResult::kTargetExists;
  }
  if (source == nullptr || !source->is_directory || !ParentIsDirectory(to)) {
    SetError(error, "cannot rename " + from);
    return PublishResult::kFailed;
  }
  // The directory and everything under it, moved at once.
  std::map<std::string, Node> moved;
  const std::string children = from_key + '\\';
  for (auto it = nodes_.begin(); it != nodes_.end();) {
    if (it->first != from_key &&
        it->first.compare(0, children.size(), children) != 0) {
      ++it;
      continue;
    }
    moved[to_key + it->first.substr(from_key.size())] = std::move(it->second);
    it = nodes_.erase(it);
  }
  moved[to_key].name = Split(to).back();
  nodes_.merge(moved);
  EntriesChanged(from);
  EntriesChanged(to);
  return PublishResult::kPublished;
}

PublishResult MemFileSystem::RenameNew(const std::string& from,
                                       const std::string& to,
                                       std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string from_key = Key(from);
  const std::string to_key = Key(to);
  auto source = nodes_.find(from_key);
  if (Find(to_key) != nullptr) {
    SetError(error, "cannot rename to " + to + ": file exists");
    return PublishResult::kTargetExists;
  }
  if (source == nodes_.end() || source->second.is_directory ||
      !ParentIsDirectory(to)) {
    SetError(error, "cannot rename " + from);
    return PublishResult::kFailed;
  }
  Node node = std::move(source->second);
  nodes_.erase(source);
  node.name = Split(to).back();
  // A rename moves a file's status change time on, as on disk.
  Changed(&node, false);
  nodes_.emplace(to_key, std::move(node));
  EntriesChanged(from);
  EntriesChanged(to);
  return PublishResult::kPublished;
}

bool MemFileSystem::RemoveEmptyDir(const std::string& path,
                                   std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string key = Key(path);
  auto it = nodes_.find(key);
  if (it == nodes_.end()) return true;
  if (!it->second.is_directory) {
    SetError(error, "cannot remove " + path + ": not a directory");
    return false;
  }
  const std::string children = key + '\\';
  auto next = nodes_.lower_bound(children);
  if (next != nodes_.end() &&
      next->first.compare(0, children.size(), children) == 0) {
    SetError(error, "cannot remove " + path + ": not empty");
    return false;
  }
  nodes_.erase(it);
  EntriesChanged(path);
  return true;
}

bool MemFileSystem::CanRead(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string key = Key(path);
  const Node* node = Find(key);
  return node != nullptr && !node->is_directory;
}

bool MemFileSystem::CanWrite(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string key = Key(path);
  return (Split(path).size() == 1 || Find(key) != nullptr);
}

bool MemFileSystem::SyncVolume(const std::string&, std::string*) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++syncs_;
  return true;
}

bool MemFileSystem::Locate(const std::string& path, FileLocation* where) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> parts = Split(path);
  where->exists = !parts.empty() && (parts.size() == 1 || Find(Key(path)));
  where->chain.clear();
  for (size_t count = parts.size(); count > 0; --count) {
    std::string key = Key(parts, count);
    if (count == 1 || Find(key) != nullptr) {
      // Each in-memory file system is a volume of its own.
      where->chain.push_back(
          {reinterpret_cast<uintptr_t>(this), std::hash<std::string>()(key)});
    }
  }
  return !where->chain.empty();
}

int MemFileSystem::SyncCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return syncs_;
}

void MemFileSystem::SetNow(int64_t seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  now_ = seconds;
}

bool MemFileSystem::SetModifiedTime(const std::string& path, int64_t seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = nodes_.find(Key(path));
  if (it == nodes_.end()) return false;
  it->second.mtime = seconds;
  Changed(&it->second, false);
  return true;
}

bool MemFileSystem::StampOf(const std::string& path, FileStamp* stamp) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Node* node = Find(Key(path));
  if (node == nullptr || node->is_directory) return false;
  *stamp = {node->number,
            node->data.size(),
            {node->mtime, 0},
            {static_cast<int64_t>(node->change), 0}};
  return true;
}

bool MemFileSystem::StatusOf(const std::string& path, EntryStatus* status) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Node* node = Find(Key(path));
  if (node == nullptr) return false;
  status->id = {reinterpret_cast<uintptr_t>(this), node->number};
  status->is_directory = node->is_directory;
  status->size = node->data.size();
  status->modified = {node->mtime, 0};
  status->changed = status->modified;
  return true;
}

void MemFileSystem::EntriesChanged(const std::string& path) {
  const std::vector<std::string> parts = Split(path);
  if (parts.size() < 2) return;
  auto it = nodes_.find(Key(parts, parts.size() - 1));
  if (it == nodes_.end()) return;
  it->second.mtime = now_;
  Changed(&it->second, false);
}

void MemFileSystem::Changed(Node* node, bool new_file) {
  if (new_file || node->number == 0) node->number = ++changes_;
  node->change = ++changes_;
}

int MemFileSystem::ReadCount(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = reads_.find(Key(path));
  return it == reads_.end() ? 0 : it->second;
}

int MemFileSystem::WriteCount(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = writes_.find(Key(path));
  return it == writes_.end() ? 0 : it->second;
}

}  // namespace vm
