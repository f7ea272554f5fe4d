#ifndef VM_PLATFORM_HELPERS_FILE_SYSTEM_WRAPPER_H_
#define VM_PLATFORM_HELPERS_FILE_SYSTEM_WRAPPER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace vm {

// A FileSystem that passes every call to another one, so that a file system
// that changes one behaviour (a dry run, an injected fault, a guard)
// overrides only that method and wraps any other, the real disk included.
// The wrapped file system is not owned and must outlive the wrapper.
class FileSystemWrapper : public FileSystem {
 public:
  explicit FileSystemWrapper(FileSystem* base) : base_(base) {}
  FileSystemWrapper(const FileSystemWrapper&) = delete;
  FileSystemWrapper& operator=(const FileSystemWrapper&) = delete;

  FileSystem* base() const { return base_; }

  bool Exists(const std::string& path) override { return base_->Exists(path); }
  bool ModifiedTime(const std::string& path, int64_t* seconds) override {
    return base_->ModifiedTime(path, seconds);
  }
  bool ReadFile(const std::string& path, std::string* contents,
                std::string* error) override {
    return base_->ReadFile(path, contents, error);
  }
  bool WriteFile(const std::string& path, const std::string& contents,
                 std::string* error) override {
    return base_->WriteFile(path, contents, error);
  }
  bool ReplaceContents(const std::string& path, const std::string& contents,
                       std::string* error) override {
    return base_->ReplaceContents(path, contents, error);
  }
  bool AppendFile(const std::string& path, const std::string& contents,
                  std::string* error) override {
    return base_->AppendFile(path, contents, error);
  }
  DirMade MakeDir(const std::string& path, std::string* error) override {
    return base_->MakeDir(path, error);
  }
  CopyResult CopyNew(const std::string& from, const std::string& to,
                     std::string* error) override {
    return base_->CopyNew(from, to, error);
  }
  bool StampOf(const std::string& path, FileStamp* stamp) override {
    return base_->StampOf(path, stamp);
  }
  bool StatusOf(const std::string& path, EntryStatus* status) override {
    return base_->StatusOf(path, status);
  }
  void StatusesIn(const std::string& dir, const std::vector<std::string>& names,
                  std::vector<std::optional<EntryStatus>>* statuses) override {
    base_->StatusesIn(dir, names, statuses);
  }
  // CopyNewRecorded and CopyStaged are not passed on: their defaults copy
  // through CopyNew, so a wrapper that changes CopyNew sees those copies
  // too.
  PublishResult PublishDir(const std::string& from, const std::string& to,
                           std::string* error) override {
    return base_->PublishDir(from, to, error);
  }
  bool PublishesDirs() override { return base_->PublishesDirs(); }
  PublishResult RenameNew(const std::string& from, const std::string& to,
                          std::string* error) override {
    return base_->RenameNew(from, to, error);
  }
  bool List(const std::string& pattern,
            std::vector<DirEntry>* entries) override {
    return base_->List(pattern, entries);
  }
  bool ListNames(const std::string& pattern,
                 std::vector<DirEntry>* entries) override {
    return base_->ListNames(pattern, entries);
  }
  void Prefetch(const std::string& path) override { base_->Prefetch(path); }
  bool CopiesShareBlocks(const std::string& from,
                         const std::string& to) override {
    return base_->CopiesShareBlocks(from, to);
  }
  bool SyncVolume(const std::string& path, std::string* error) override {
    return base_->SyncVolume(path, error);
  }
  bool RemoveFile(const std::string& path, std::string* error) override {
    return base_->RemoveFile(path, error);
  }
  bool RemoveEmptyDir(const std::string& path, std::string* error) override {
    return base_->RemoveEmptyDir(path, error);
  }
  bool CanRead(const std::string& path) override {
    return base_->CanRead(path);
  }
  bool CanWrite(const std::string& path) override {
    return base_->CanWrite(path);
  }
  std::string DisplayPath(const std::string& path) const override {
    return base_->DisplayPath(path);
  }
  std::string AbsolutePath(const std::string& path) const override {
    return base_->AbsolutePath(path);
  }
  bool Locate(const std::string& path, FileLocation* where) override {
    return base_->Locate(path, where);
  }

 private:
  FileSystem* const base_;
};

}  // namespace vm

#endif  // VM_PLATFORM_HELPERS_FILE_SYSTEM_WRAPPER_H_
