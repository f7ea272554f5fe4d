#ifndef VM_TESTING_MEM_FILE_SYSTEM_H_
#define VM_TESTING_MEM_FILE_SYSTEM_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "util/name_ops.h"

namespace vm {

// A FileSystem held in memory, for tests. It behaves like a Windows volume:
// names compare without ASCII case and keep the case they were created
// with, both "\" and "/" separate components, and the first component of a
// path (a drive such as "C:", or nothing before a leading "\") always exists
// as a directory. A file can only be created in an existing directory.
//
// Every file written gets the modification time set by SetNow; reads,
// writes and flushes are counted. Faults are injected by wrapping it in a
// FaultInjectionFileSystem. Thread-safe.
class MemFileSystem : public FileSystem {
 public:
  // Names split into characters, and compare, by `names` (the run's code
  // page).
  explicit MemFileSystem(NameOps names = NameOps())
      : names_(std::move(names)) {}
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
  DirMade MakeDir(const std::string& path, std::string* error) override;
  CopyResult CopyNew(const std::string& from, const std::string& to,
                     std::string* error) override;
  bool List(const std::string& pattern,
            std::vector<DirEntry>* entries) override;
  // List, each regular file's size left untold and its number told, as a
  // listing that does not look at each file tells them.
  bool ListNames(const std::string& pattern,
                 std::vector<DirEntry>* entries) override;
  bool RemoveFile(const std::string& path, std::string* error) override;
  bool RemoveEmptyDir(const std::string& path, std::string* error) override;
  PublishResult PublishDir(const std::string& from, const std::string& to,
                           std::string* error) override;
  bool PublishesDirs() override { return true; }
  PublishResult RenameNew(const std::string& from, const std::string& to,
                          std::string* error) override;
  bool SyncVolume(const std::string& path, std::string* error) override;
  bool CanRead(const std::string& path) override;
  bool CanWrite(const std::string& path) override;
  // The file number is given when a file is made (a copy, a replace); the
  // status change time is a counter that every write, replace and
  // SetModifiedTime moves on.
  bool StampOf(const std::string& path, FileStamp* stamp) override;
  // A folder's modification time moves when an entry is made, replaced or
  // removed in it. Times are whole seconds and the status change time is
  // the modification time, as on a volume that keeps nothing finer: a
  // change within the second a status was taken leaves the same status.
  bool StatusOf(const std::string& path, EntryStatus* status) override;

  // No links: a path's identity is its folded spelling.
  bool Locate(const std::string& path, FileLocation* where) override;

  // The modification time of files written from now on (initially 1).
  void SetNow(int64_t seconds);
  // Sets the modification time of an existing file or directory.
  bool SetModifiedTime(const std::string& path, int64_t seconds);

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
    uint64_t number = 0;  // the file number, 0 until the file is made
    uint64_t change = 0;  // changes_ at its last change
  };

  std::vector<std::string> Split(const std::string& path) const;
  std::string Key(const std::vector<std::string>& parts, size_t count) const;
  std::string Key(const std::string& path) const;
  bool ParentIsDirectory(const std::string& path) const;
  const Node* Find(const std::string& key) const;
  // Moves the node's change counter on; a `new_file` gets a new number.
  void Changed(Node* node, bool new_file);
  // An entry of the folder `path` is in was made or removed.
  void EntriesChanged(const std::string& path);
  bool WriteLocked(const std::string& path, const std::string& contents,
                   std::string* error);

  const NameOps names_;
  mutable std::mutex mutex_;
  std::map<std::string, Node> nodes_;  // by lower-cased key
  std::map<std::string, int> reads_;
  std::map<std::string, int> writes_;
  int64_t now_ = 1;
  int syncs_ = 0;
  uint64_t changes_ = 0;
};

}  // namespace vm

#endif  // VM_TESTING_MEM_FILE_SYSTEM_H_
