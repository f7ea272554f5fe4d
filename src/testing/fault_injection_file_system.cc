#include "testing/fault_injection_file_system.h"

#include "platform/file_error.h"

namespace vm {
namespace {

// A failed path is refused as a disk refuses access; a write past the
// budget finds the volume full.
void SetError(std::string* error, const std::string& text) {
  if (error == nullptr) return;
  *error = FileErrorText(
      {text.find("no space") != std::string::npos ? FileErrorKind::kNoSpace
                                                  : FileErrorKind::kPermission,
       0},
      text);
}

}  // namespace

std::string FaultInjectionFileSystem::Key(const std::string& path) const {
  // "/" separates as "\" does; a trailing separator names the same folder.
  std::string key = names_.Fold(path);
  for (size_t i = 0; i < key.size(); i += names_.CharLength(key, i)) {
    if (key[i] == '/') key[i] = '\\';
  }
  while (key.size() > 1 && key.back() == '\\') key.pop_back();
  return key;
}

bool FaultInjectionFileSystem::Failing(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failing_.count(Key(path)) != 0;
}

uint64_t FaultInjectionFileSystem::TakeBudget(uint64_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (budget_ < 0) return size;
  uint64_t allowed = static_cast<uint64_t>(budget_) < size
                         ? static_cast<uint64_t>(budget_)
                         : size;
  budget_ -= static_cast<int64_t>(allowed);
  return allowed;
}

void FaultInjectionFileSystem::FailWritesAfter(int64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  budget_ = bytes;
}

void FaultInjectionFileSystem::FailPath(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  failing_.insert(Key(path));
}

void FaultInjectionFileSystem::RefuseRename(bool refuse) {
  std::lock_guard<std::mutex> lock(mutex_);
  refuse_rename_ = refuse;
}

bool FaultInjectionFileSystem::ReadFile(const std::string& path,
                                        std::string* contents,
                                        std::string* error) {
  if (Failing(path)) {
    contents->clear();
    SetError(error, "cannot open " + path);
    return false;
  }
  return FileSystemWrapper::ReadFile(path, contents, error);
}

bool FaultInjectionFileSystem::WriteFile(const std::string& path,
                                         const std::string& contents,
                                         std::string* error) {
  if (Failing(path)) {
    SetError(error, "cannot open " + path + " for writing");
    return false;
  }
  const uint64_t allowed = TakeBudget(contents.size());
  if (allowed == contents.size()) {
    return FileSystemWrapper::WriteFile(path, contents, error);
  }
  // Cut short: what fitted stays written.
  if (!FileSystemWrapper::WriteFile(path, contents.substr(0, allowed), error)) {
    return false;
  }
  SetError(error, "cannot write " + path + ": no space left");
  return false;
}

bool FaultInjectionFileSystem::ReplaceContents(const std::string& path,
                                               const std::string& contents,
                                               std::string* error) {
  if (Failing(path)) {
    SetError(error, "cannot replace " + path);
    return false;
  }
  // The new text goes to a temporary file first; refused the rename, the
  // file is rewritten in place, in room reserved for the whole text.
  bool room = TakeBudget(contents.size()) == contents.size();
  bool refused;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    refused = refuse_rename_;
  }
  if (room && refused) room = TakeBudget(contents.size()) == contents.size();
  if (!room) {
    SetError(error, "cannot write " + path + ": no space left");
    return false;
  }
  return FileSystemWrapper::ReplaceContents(path, contents, error);
}

DirMade FaultInjectionFileSystem::MakeDir(const std::string& path,
                                          std::string* error) {
  if (Failing(path) && !Exists(path)) {
    SetError(error, "cannot create " + path);
    return DirMade::kFailed;
  }
  return FileSystemWrapper::MakeDir(path, error);
}

CopyResult FaultInjectionFileSystem::CopyNew(const std::string& from,
                                             const std::string& to,
                                             std::string* error) {
  if (Failing(from)) {
    SetError(error, "cannot open " + from);
    return CopyResult::kFailed;
  }
  if (Exists(to)) return FileSystemWrapper::CopyNew(from, to, error);
  if (Failing(to)) {
    SetError(error, "cannot create " + to);
    return CopyResult::kFailed;
  }
  // The copy's size, learnt without reading the file.
  std::vector<DirEntry> found;
  if (FileSystemWrapper::List(from, &found) && found.size() == 1 &&
      TakeBudget(found[0].size) < found[0].size) {
    SetError(error, "cannot copy " + from + " to " + to + ": no space left");
    return CopyResult::kFailed;
  }
  return FileSystemWrapper::CopyNew(from, to, error);
}

PublishResult FaultInjectionFileSystem::PublishDir(const std::string& from,
                                                   const std::string& to,
                                                   std::string* error) {
  if (Failing(from) || Failing(to)) {
    SetError(error, "cannot rename " + from + " to " + to);
    return PublishResult::kFailed;
  }
  return FileSystemWrapper::PublishDir(from, to, error);
}

PublishResult FaultInjectionFileSystem::RenameNew(const std::string& from,
                                                  const std::string& to,
                                                  std::string* error) {
  if (Failing(from) || Failing(to)) {
    SetError(error, "cannot rename " + from + " to " + to);
    return PublishResult::kFailed;
  }
  return FileSystemWrapper::RenameNew(from, to, error);
}

bool FaultInjectionFileSystem::List(const std::string& pattern,
                                    std::vector<DirEntry>* entries) {
  size_t at = std::string::npos;
  for (size_t i = names_.Find(pattern, '\\'); i != std::string::npos;
       i = names_.Find(pattern, '\\', i + 1)) {
    at = i;
  }
  if (at != std::string::npos && Failing(pattern.substr(0, at))) {
    entries->clear();
    return false;
  }
  return FileSystemWrapper::List(pattern, entries);
}

bool FaultInjectionFileSystem::SyncVolume(const std::string& path,
                                          std::string* error) {
  // The flush is still asked for, so a count of flushes sees it.
  const bool synced = FileSystemWrapper::SyncVolume(path, error);
  if (!Failing(path)) return synced;
  SetError(error, "cannot flush the writes under " + path);
  return false;
}

bool FaultInjectionFileSystem::CanRead(const std::string& path) {
  return !Failing(path) && FileSystemWrapper::CanRead(path);
}

bool FaultInjectionFileSystem::CanWrite(const std::string& path) {
  return !Failing(path) && FileSystemWrapper::CanWrite(path);
}

}  // namespace vm
