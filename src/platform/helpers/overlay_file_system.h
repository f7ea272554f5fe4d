#ifndef VM_PLATFORM_HELPERS_OVERLAY_FILE_SYSTEM_H_
#define VM_PLATFORM_HELPERS_OVERLAY_FILE_SYSTEM_H_

#include <map>

#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "platform/helpers/file_system_wrapper.h"
#include "util/name_ops.h"
#include "util/thread_annotations.h"

namespace vm {

// The file system of a dry run: reads go to `base`, writes stay in memory
// and are seen by later reads, existence checks and listings of the same
// run, so the run takes every decision the real one would take and writes
// nothing. A copied file is kept as a reference to its source, not read.
// Paths compare without ASCII case, as the disk resolves them, by the name
// operations of the run's code page; an existing name keeps its spelling.
// What the real run would be refused (a source it may not read, a folder
// or file it may not write) is refused here too, as `base` probes it.
class OverlayFileSystem : public FileSystemWrapper {
 public:
  OverlayFileSystem(FileSystem* base, NameOps names)
      : FileSystemWrapper(base), names_(std::move(names)) {}

  bool Exists(const std::string& path) override;
  bool ModifiedTime(const std::string& path, int64_t* seconds) override;
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
  // A dry run builds no mailbox aside: it copies in place, as CopyNew.
  bool PublishesDirs() override { return false; }
  // Never passed on: a dry run moves nothing aside (a preview counts what
  // a mirror would move instead).
  PublishResult RenameNew(const std::string& from, const std::string& to,
                          std::string* error) override {
    return FileSystem::RenameNew(from, to, error);
  }
  bool List(const std::string& pattern,
            std::vector<DirEntry>* entries) override;
  bool RemoveFile(const std::string& path, std::string* error) override;
  bool RemoveEmptyDir(const std::string& path, std::string* error) override;
  bool SyncVolume(const std::string& path, std::string* error) override;
  // A file the overlay wrote, copied or removed has no stamp (it is on no
  // disk); any other is the base's.
  bool StampOf(const std::string& path, FileStamp* stamp) override;
  bool StatusOf(const std::string& path, EntryStatus* status) override;
  // Each by StatusOf: an entry made in memory has none.
  void StatusesIn(const std::string& dir, const std::vector<std::string>& names,
                  std::vector<std::optional<EntryStatus>>* statuses) override {
    FileSystem::StatusesIn(dir, names, statuses);
  }
  // Nothing is copied: nothing is worth reading ahead.
  void Prefetch(const std::string& /*path*/) override {}
  bool CanRead(const std::string& path) override;
  bool CanWrite(const std::string& path) override;

  bool Locate(const std::string& path, FileLocation* where) override;

 private:
  struct Entry {
    enum Kind { kFile, kCopy, kDir, kRemoved } kind = kFile;
    std::string path;      // as first written
    std::string contents;  // kFile
    std::string source;    // kCopy: the file it was copied from
    uint64_t size = 0;     // kFile; kCopy of an overlay file (a disk file's
                           // size is not looked up)
  };
  std::string Key(const std::string& path) const { return names_.Fold(path); }
  // The path up to its last separator; empty when it has none.
  std::string Parent(const std::string& path) const;

  // The layer under the lock: what the public operations do once they hold
  // mutex_, and what they call on each other.
  bool ExistsLocked(const std::string& path) REQUIRES(mutex_);
  bool ListLocked(const std::string& pattern, std::vector<DirEntry>* entries)
      REQUIRES(mutex_);
  bool RemoveLocked(const std::string& path, bool allowed, std::string* error)
      REQUIRES(mutex_);
  bool ReadFileLocked(const std::string& path, std::string* contents,
                      std::string* error) REQUIRES(mutex_);
  bool WriteFileLocked(const std::string& path, const std::string& contents,
                       std::string* error) REQUIRES(mutex_);
  const Entry* Find(const std::string& path) const REQUIRES(mutex_);
  bool IsDirectory(const std::string& path) REQUIRES(mutex_);
  // Whether the real run could make entries in the directory `dir`: one
  // this run made, or one the disk lets it write.
  bool Writable(const std::string& dir) REQUIRES(mutex_);
  // Whether the real run could create or rewrite the file `path`.
  bool FileWritable(const std::string& path) REQUIRES(mutex_);
  void Put(const std::string& path, Entry entry) REQUIRES(mutex_);

  const NameOps names_;
  // The mailbox step copies from several threads at once. Held across calls
  // into the base file system, never while calling anything else.
  Mutex mutex_;
  std::map<std::string, Entry> entries_ GUARDED_BY(mutex_);  // by Key(path)
};

}  // namespace vm

#endif  // VM_PLATFORM_HELPERS_OVERLAY_FILE_SYSTEM_H_
