#include "session/target_view.h"

#include "migrate/undo_run.h"
#include "session/startup.h"

namespace vm {

std::vector<std::string> TargetRoots(FileSystem* disk, const AppState& state) {
  return {ManifestDataFolder(disk, state.target_dir), state.target_mail_dir};
}

bool TargetView::Confine(const std::vector<std::string>& roots,
                         std::string* error) {
  confined_ = disk_->Confined(roots, error);
  current_ = confined_ != nullptr ? confined_.get() : disk_;
  return confined_ != nullptr;
}

bool TargetView::Exists(const std::string& path) {
  return current_->Exists(path);
}
bool TargetView::ModifiedTime(const std::string& path, int64_t* seconds) {
  return current_->ModifiedTime(path, seconds);
}
bool TargetView::ReadFile(const std::string& path, std::string* contents,
                          std::string* error) {
  return current_->ReadFile(path, contents, error);
}
bool TargetView::ReadFileBy(const std::string& path, const PieceWriter& take,
                            std::string* error) {
  return current_->ReadFileBy(path, take, error);
}
bool TargetView::WriteFile(const std::string& path, const std::string& contents,
                           std::string* error) {
  return current_->WriteFile(path, contents, error);
}
bool TargetView::ReplaceContents(const std::string& path,
                                 const std::string& contents,
                                 std::string* error) {
  return current_->ReplaceContents(path, contents, error);
}
bool TargetView::ReplaceContentsBy(const std::string& path,
                                   const ContentsProducer& produce,
                                   std::string* error) {
  return current_->ReplaceContentsBy(path, produce, error);
}
bool TargetView::AppendFile(const std::string& path,
                            const std::string& contents, std::string* error) {
  return current_->AppendFile(path, contents, error);
}
std::unique_ptr<AppendingFile> TargetView::OpenAppending(
    const std::string& path, std::string* error) {
  return current_->OpenAppending(path, error);
}
DirMade TargetView::MakeDir(const std::string& path, std::string* error) {
  return current_->MakeDir(path, error);
}
CopyResult TargetView::CopyNew(const std::string& from, const std::string& to,
                               std::string* error) {
  return current_->CopyNew(from, to, error);
}
CopyResult TargetView::CopyNewRecorded(const std::string& from,
                                       const std::string& to,
                                       std::string* error, CopiedFile* copied) {
  return current_->CopyNewRecorded(from, to, error, copied);
}
bool TargetView::StampOf(const std::string& path, FileStamp* stamp) {
  return current_->StampOf(path, stamp);
}
bool TargetView::StatusOf(const std::string& path, EntryStatus* status) {
  return current_->StatusOf(path, status);
}
void TargetView::StatusesIn(const std::string& dir,
                            const std::vector<std::string>& names,
                            std::vector<std::optional<EntryStatus>>* statuses) {
  current_->StatusesIn(dir, names, statuses);
}
CopyResult TargetView::CopyStaged(const std::string& from,
                                  const std::string& to, std::string* error,
                                  CopiedFile* copied) {
  return current_->CopyStaged(from, to, error, copied);
}
PublishResult TargetView::PublishDir(const std::string& from,
                                     const std::string& to,
                                     std::string* error) {
  return current_->PublishDir(from, to, error);
}
bool TargetView::PublishesDirs() { return current_->PublishesDirs(); }
PublishResult TargetView::RenameNew(const std::string& from,
                                    const std::string& to, std::string* error) {
  return current_->RenameNew(from, to, error);
}
bool TargetView::List(const std::string& pattern,
                      std::vector<DirEntry>* entries) {
  return current_->List(pattern, entries);
}
bool TargetView::ListNames(const std::string& pattern,
                           std::vector<DirEntry>* entries) {
  return current_->ListNames(pattern, entries);
}
bool TargetView::SyncVolume(const std::string& path, std::string* error) {
  return current_->SyncVolume(path, error);
}
void TargetView::Prefetch(const std::string& path) { current_->Prefetch(path); }
bool TargetView::CopiesShareBlocks(const std::string& from,
                                   const std::string& to) {
  return current_->CopiesShareBlocks(from, to);
}
bool TargetView::RemoveFile(const std::string& path, std::string* error) {
  return current_->RemoveFile(path, error);
}
bool TargetView::RemoveEmptyDir(const std::string& path, std::string* error) {
  return current_->RemoveEmptyDir(path, error);
}
bool TargetView::CanRead(const std::string& path) {
  return current_->CanRead(path);
}
bool TargetView::CanWrite(const std::string& path) {
  return current_->CanWrite(path);
}
std::string TargetView::DisplayPath(const std::string& path) const {
  return current_->DisplayPath(path);
}
std::string TargetView::AbsolutePath(const std::string& path) const {
  return current_->AbsolutePath(path);
}
bool TargetView::Locate(const std::string& path, FileLocation* where) {
  return current_->Locate(path, where);
}

}  // namespace vm
