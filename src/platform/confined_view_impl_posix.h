#ifndef VM_PLATFORM_CONFINED_VIEW_IMPL_POSIX_H_
#define VM_PLATFORM_CONFINED_VIEW_IMPL_POSIX_H_

// The POSIX confined view's class, shared by its two implementation files:
// confined_view_posix.cc (status, reading, writing, removal) and
// confined_copy_posix.cc (copies into the view).

#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/confined_roots_posix.h"
#include "platform/confined_view_posix.h"
#include "platform/helpers/file_system_wrapper.h"
#include "platform/path_resolution_posix.h"

namespace vm {

class ConfinedView : public FileSystemWrapper {
 public:
  explicit ConfinedView(const DiskParts& parts)
      : FileSystemWrapper(parts.disk), parts_(parts), roots_(parts) {}

  bool Open(const std::vector<std::string>& roots, std::string* error) {
    return roots_.Open(roots, error);
  }

  bool Exists(const std::string& path) override;
  bool ModifiedTime(const std::string& path, int64_t* seconds) override;
  bool ReadFile(const std::string& path, std::string* contents,
                std::string* error) override;
  bool ReadFileBy(const std::string& path, const PieceWriter& take,
                  std::string* error) override;
  bool WriteFile(const std::string& path, const std::string& contents,
                 std::string* error) override;
  bool AppendFile(const std::string& path, const std::string& contents,
                  std::string* error) override;
  std::unique_ptr<AppendingFile> OpenAppending(const std::string& path,
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
  bool StampOf(const std::string& path, FileStamp* stamp) override;
  bool StatusOf(const std::string& path, EntryStatus* status) override;
  // Opens the folder once beneath its root and looks for each entry in it
  // as spelled (see FileSystem::StatusesIn); a name that is more than one
  // entry is looked for as StatusOf does.
  void StatusesIn(const std::string& dir, const std::vector<std::string>& names,
                  std::vector<std::optional<EntryStatus>>* statuses) override;
  PublishResult PublishDir(const std::string& from, const std::string& to,
                           std::string* error) override;
  PublishResult RenameNew(const std::string& from, const std::string& to,
                          std::string* error) override;
  bool List(const std::string& pattern,
            std::vector<DirEntry>* entries) override;
  bool ListNames(const std::string& pattern,
                 std::vector<DirEntry>* entries) override;
  bool SyncVolume(const std::string& path, std::string* error) override;
  void Prefetch(const std::string& path) override;
  bool CopiesShareBlocks(const std::string& from,
                         const std::string& to) override;
  bool RemoveFile(const std::string& path, std::string* error) override;
  bool RemoveEmptyDir(const std::string& path, std::string* error) override;
  bool CanRead(const std::string& path) override;
  bool CanWrite(const std::string& path) override;
  bool Locate(const std::string& path, FileLocation* where) override;

 private:
  // List or ListNames (without `sizes`).
  bool ListIn(const std::string& pattern, std::vector<DirEntry>* entries,
              bool sizes);
  using Place = ConfinedRoots::Place;
  using Entry = ConfinedRoots::Entry;

  // PublishDir and RenameNew: one rename beneath the roots that never
  // replaces; with `file_only`, of a regular file only.
  PublishResult Rename(const std::string& from, const std::string& to,
                       bool file_only, std::string* error);

  bool Write(const std::string& path, const Place& place, int flags,
             const std::string& contents, std::string* error);
  bool Replace(const std::string& path, const ContentsProducer& produce,
               std::string* error);
  bool Remove(const std::string& path, int flags, std::string* error);
  enum class CopyKind { kNew, kRecorded, kStaged };
  CopyResult Copy(const std::string& from, const std::string& to,
                  std::string* error, CopiedFile* copied, CopyKind kind);
  CopyResult CopyBeneath(const std::string& from, const Place& source,
                         const std::string& to, const Place& target,
                         std::string* error, FileStamp* stamp, bool staged);
  CopyResult CopyInto(const Place& target, int in, const struct stat& st,
                      const std::string& from, const std::string& to,
                      std::string* error, FileStamp* stamp, bool staged,
                      bool fresh);
  // The regular file at `place` (`path`) opened for reading; -1 with the
  // reason in *error otherwise.
  int OpenToRead(const Place& place, const std::string& path,
                 std::string* error);
  std::string Shown(const std::string& path) const { return DisplayPath(path); }

  const DiskParts parts_;
  ConfinedRoots roots_;
};

}  // namespace vm

#endif  // VM_PLATFORM_CONFINED_VIEW_IMPL_POSIX_H_
