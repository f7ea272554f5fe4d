#ifndef VM_TESTING_MEM_FILE_SYSTEM_H_
#define VM_TESTING_MEM_FILE_SYSTEM_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace vm {

// A FileSystem held in memory, for tests. It behaves like a Windows volume:
// names compare without ASCII case and keep the case they were created
// with, both "\" and "/" separate components, and the first component of a
// path (a drive such as "C:", or nothing before a leading "\") always exists
// as a directory. A file can only be created in an existing directory.
//
// Faults can be injected: writes that stop after a number of bytes, paths
// that cannot be opened, a refused rename. Every file written gets the
// modification time set by SetNow. Thread-safe.
class MemFileSystem : public FileSystem {
 public:
  MemFileSystem() = default;
  MemFileSystem(const MemFileSystem&) = delete;
  MemFileSystem& operator=(const MemFileSystem&) = delete;

  bool Exists(const std::string& path) override;
  bool ModifiedTime(const std::string& path, int64_t* seconds) override;
  bool ReadFile(const std::string& path, std::string* contents,
                std::string* error) override;
  bool WriteFile(const std::string& path, const std::string& contents,
                 std::string* error) override;
  bool ReplaceContents(const std::string& path, const std::string& contents,
                       std::string* error) override;
  bool CreateDir(const std::string& path) override;
  CopyResult CopyNew(const std::string& from, const std::string& to,
                     std::string* error) override;
  bool List(const std::string& pattern,
            std::vector<DirEntry>* entries) override;
  bool RemoveFile(const std::string& path) override;
  bool SyncVolume(const std::string& path, std::string* error) override;
  // A failing path can be neither read nor written.
  bool CanRead(const std::string& path) override;
  bool CanWrite(const std::string& path) override;

  // No links: a path's identity is its folded spelling.
  bool Locate(const std::string& path, FileLocation* where) override;

  // The modification time of files written from now on (initially 1).
  void SetNow(int64_t seconds);
  // Sets the modification time of an existing file or directory.
  bool SetModifiedTime(const std::string& path, int64_t seconds);

  // After `bytes` more bytes have been written (to any file), every write
  // stops short and fails: an in-place write leaves the bytes written so
  // far, a replace or a copy leaves no trace. Negative: never (the default).
  void FailWritesAfter(int64_t bytes);
  // Every open of `path` (to read, write, copy from or to, or create it as
  // a directory) fails. Exists and ModifiedTime still see it.
  void FailPath(const std::string& path);
  // While set, ReplaceContents finds its rename refused and falls back to
  // writing in place (which needs room for the text a second time, and
  // fails with the file unchanged when it has none).
  void RefuseRename(bool refuse);

  // How many times the file's contents were read, and written (whole-file
  // writes, replaces and copies onto it).
  int ReadCount(const std::string& path) const;
  int WriteCount(const std::string& path) const;
  // How many times SyncVolume was called.
  int SyncCount() const;

 private:
  struct Node {
    std::string name;  // the last component, as created
    bool is_directory = false;
    std::string data;
    int64_t mtime = 0;
  };

  static std::vector<std::string> Split(const std::string& path);
  static std::string Key(const std::vector<std::string>& parts, size_t count);
  static std::string Key(const std::string& path);
  bool ParentIsDirectory(const std::string& path) const;
  const Node* Find(const std::string& key) const;
  bool Failing(const std::string& key) const;
  // Takes `size` bytes from the write budget; returns how many may be
  // written (all of them unless a failure was injected).
  size_t TakeBudget(size_t size);
  bool WriteLocked(const std::string& path, const std::string& contents,
                   std::string* error);

  mutable std::mutex mutex_;
  std::map<std::string, Node> nodes_;  // by lower-cased key
  std::set<std::string> failing_;
  std::map<std::string, int> reads_;
  std::map<std::string, int> writes_;
  int64_t now_ = 1;
  int64_t budget_ = -1;
  bool refuse_rename_ = false;
  int syncs_ = 0;
};

}  // namespace vm

#endif  // VM_TESTING_MEM_FILE_SYSTEM_H_
