#ifndef VM_TESTING_FAULT_INJECTION_FILE_SYSTEM_H_
#define VM_TESTING_FAULT_INJECTION_FILE_SYSTEM_H_

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/helpers/file_system_wrapper.h"
#include "util/name_ops.h"

namespace vm {

// Wraps any FileSystem (the in-memory one or the real disk) and injects
// faults: writes that stop after a number of bytes, paths that cannot be
// opened, a refused rename. Paths compare as the run's name operations
// fold them. Thread-safe when the wrapped file system is.
class FaultInjectionFileSystem : public FileSystemWrapper {
 public:
  explicit FaultInjectionFileSystem(FileSystem* base, NameOps names = NameOps())
      : FileSystemWrapper(base), names_(std::move(names)) {}

  // After `bytes` more bytes have been written (to any file), every write
  // stops short and fails: an in-place write leaves the bytes written so
  // far, a replace or a copy leaves no trace. Negative: never (the default).
  void FailWritesAfter(int64_t bytes);
  // Every open of `path` (to read, write, copy from or to, list or create
  // it as a directory) fails, and so does flushing its volume. Exists and
  // ModifiedTime still see it.
  void FailPath(const std::string& path);
  // While set, ReplaceContents finds its rename refused and falls back to
  // writing in place (which needs room for the text a second time, and
  // fails with the file unchanged when it has none).
  void RefuseRename(bool refuse);

  bool ReadFile(const std::string& path, std::string* contents,
                std::string* error) override;
  bool WriteFile(const std::string& path, const std::string& contents,
                 std::string* error) override;
  bool ReplaceContents(const std::string& path, const std::string& contents,
                       std::string* error) override;
  // Read and replaced through this file system, never passed on.
  bool AppendFile(const std::string& path, const std::string& contents,
                  std::string* error) override {
    return FileSystem::AppendFile(path, contents, error);
  }
  DirMade MakeDir(const std::string& path, std::string* error) override;
  CopyResult CopyNew(const std::string& from, const std::string& to,
                     std::string* error) override;
  // Fails when either path is failing, as creating `to` would.
  PublishResult PublishDir(const std::string& from, const std::string& to,
                           std::string* error) override;
  PublishResult RenameNew(const std::string& from, const std::string& to,
                          std::string* error) override;
  bool List(const std::string& pattern,
            std::vector<DirEntry>* entries) override;
  bool SyncVolume(const std::string& path, std::string* error) override;
  bool CanRead(const std::string& path) override;
  bool CanWrite(const std::string& path) override;

 private:
  std::string Key(const std::string& path) const;
  bool Failing(const std::string& path) const;
  // Takes `size` bytes from the write budget; returns how many may be
  // written (all of them unless a failure was injected).
  uint64_t TakeBudget(uint64_t size);

  const NameOps names_;
  mutable std::mutex mutex_;
  std::set<std::string> failing_;  // by Key(path)
  int64_t budget_ = -1;
  bool refuse_rename_ = false;
};

}  // namespace vm

#endif  // VM_TESTING_FAULT_INJECTION_FILE_SYSTEM_H_
