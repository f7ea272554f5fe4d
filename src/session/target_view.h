#ifndef VM_SESSION_TARGET_VIEW_H_
#define VM_SESSION_TARGET_VIEW_H_

#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace vm {

// The file system a session works through. Until Confine it is the disk
// as it is (the console makes its output folder before the target's lock
// is taken); from Confine on, once the lock is held, every call goes to the
// disk's view confined to the target's configuration folder and mail
// store (FileSystem::Confined), so that nothing the run creates, renames
// or removes there can be led outside by a link. Paths outside those
// folders (the source, the records) reach the disk as before. Confine is
// called before the run starts its threads; the disk outlives the view.
class TargetView : public FileSystem {
 public:
  explicit TargetView(FileSystem* disk) : disk_(disk), current_(disk) {}

  // Opens the target's folders; false, with the reason, when one cannot be
  // opened safely (a link where the folder should be): the run must not
  // start.
  bool Confine(const std::vector<std::string>& roots, std::string* error);

  bool Exists(const std::string& path) override;
  bool ModifiedTime(const std::string& path, int64_t* seconds) override;
  bool ReadFile(const std::string& path, std::string* contents,
                std::string* error) override;
  bool ReadFileBy(const std::string& path, const PieceWriter& take,
                  std::string* error) override;
  bool WriteFile(const std::string& path, const std::string& contents,
                 std::string* error) override;
  bool ReplaceContents(const std::string& path, const std::string& contents,
                       std::string* error) override;
  bool ReplaceContentsBy(const std::string& path,
                         const ContentsProducer& produce,
                         std::string* error) override;
  bool AppendFile(const std::string& path, const std::string& contents,
                  std::string* error) override;
  std::unique_ptr<AppendingFile> OpenAppending(const std::string& path,
                                               std::string* error) override;
  DirMade MakeDir(const std::string& path, std::string* error) override;
  CopyResult CopyNew(const std::string& from, const std::string& to,
                     std::string* error) override;
  CopyResult CopyNewRecorded(const std::string& from, const std::string& to,
                             std::string* error, CopiedFile* copied) override;
  bool StampOf(const std::string& path, FileStamp* stamp) override;
  bool StatusOf(const std::string& path, EntryStatus* status) override;
  void StatusesIn(const std::string& dir, const std::vector<std::string>& names,
                  std::vector<std::optional<EntryStatus>>* statuses) override;
  CopyResult CopyStaged(const std::string& from, const std::string& to,
                        std::string* error, CopiedFile* copied) override;
  PublishResult PublishDir(const std::string& from, const std::string& to,
                           std::string* error) override;
  bool PublishesDirs() override;
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
  std::string DisplayPath(const std::string& path) const override;
  std::string AbsolutePath(const std::string& path) const override;
  bool Locate(const std::string& path, FileLocation* where) override;

 private:
  FileSystem* const disk_;
  std::unique_ptr<FileSystem> confined_;
  FileSystem* current_;
};

struct AppState;

// The folders a run on the target of `state` is confined to: the folder of
// its configuration files and its mail store.
std::vector<std::string> TargetRoots(FileSystem* disk, const AppState& state);

}  // namespace vm

#endif  // VM_SESSION_TARGET_VIEW_H_
