#ifndef VM_MIGRATE_WRITE_AHEAD_GUARD_H_
#define VM_MIGRATE_WRITE_AHEAD_GUARD_H_

#include <string>

#include "platform/helpers/file_system_wrapper.h"

namespace vm {

class ManifestWriter;
struct TargetContext;

// The target as a writing run sees it: once the run's manifest has failed
// to reach the disk, every create, write, copy and publish is refused
// (FileErrorKind::kNotRecorded), so that nothing is made that its record
// does not name and an undo could not find. Reading and removing go on.
class WriteAheadGuard : public FileSystemWrapper {
 public:
  WriteAheadGuard(FileSystem* base, ManifestWriter* manifest)
      : FileSystemWrapper(base), manifest_(manifest) {}

  bool ReadFileBy(const std::string& path, const PieceWriter& take,
                  std::string* error) override;
  bool WriteFile(const std::string& path, const std::string& contents,
                 std::string* error) override;
  bool AppendFile(const std::string& path, const std::string& contents,
                  std::string* error) override;
  bool ReplaceContents(const std::string& path, const std::string& contents,
                       std::string* error) override;
  bool ReplaceContentsBy(const std::string& path,
                         const ContentsProducer& produce,
                         std::string* error) override;
  DirMade MakeDir(const std::string& path, std::string* error) override;
  CopyResult CopyNew(const std::string& from, const std::string& to,
                     std::string* error) override;
  CopyResult CopyNewRecorded(const std::string& from, const std::string& to,
                             std::string* error, CopiedFile* copied) override;
  CopyResult CopyStaged(const std::string& from, const std::string& to,
                        std::string* error, CopiedFile* copied) override;
  PublishResult PublishDir(const std::string& from, const std::string& to,
                           std::string* error) override;
  PublishResult RenameNew(const std::string& from, const std::string& to,
                          std::string* error) override;

 private:
  // True, with the error, when the manifest has failed.
  bool Refused(std::string* error) const;

  ManifestWriter* const manifest_;
};

// Puts a WriteAheadGuard in front of `target`'s file system for as long
// as it lives; nothing when `manifest` is null (a run that records none).
class WriteAheadScope {
 public:
  WriteAheadScope(TargetContext* target, ManifestWriter* manifest);
  ~WriteAheadScope();
  WriteAheadScope(const WriteAheadScope&) = delete;
  WriteAheadScope& operator=(const WriteAheadScope&) = delete;

 private:
  TargetContext* const target_;
  FileSystem* const unguarded_;
  WriteAheadGuard guard_;
};

}  // namespace vm

#endif  // VM_MIGRATE_WRITE_AHEAD_GUARD_H_
