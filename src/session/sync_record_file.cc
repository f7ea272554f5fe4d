#include "session/sync_record_file.h"

#include <system_error>
#include <utility>

#include "migrate/undo_choices.h"
#include "migrate/undo_run.h"
#include "migrate/user_list_vouch.h"
#include "platform/file_system.h"

namespace vm {

std::unique_ptr<SyncRecordFile> SyncRecordFile::Load(
    FileSystem* fs, const std::string& target_dir,
    const std::string& mail_dir) {
  FileLocation where;
  if (!fs->Locate(ManifestDataFolder(fs, target_dir), &where) ||
      !where.exists || where.chain.empty()) {
    return nullptr;
  }
  const std::string path =
      RunRecordsFolder(fs, target_dir) + "\\" + std::string(kFileName);
  std::unique_ptr<SyncRecordFile> file(
      new SyncRecordFile(fs, path, mail_dir, where.chain.front()));
  file->found_ = fs->Exists(path);
  if (!file->found_) return file;
  try {
    file->reading_ = std::thread([raw = file.get()] { raw->Read(); });
  } catch (const std::system_error&) {
    file->Read();
  }
  return file;
}

void SyncRecordFile::Read() {
  std::string text;
  // A record that is not whole and ours is as good as none.
  if (fs_->ReadFile(path_, &text, nullptr)) record_.Parse(text);
}

std::optional<EntryStatus> SyncRecordFile::UsersInHead() {
  if (!found_) return std::nullopt;
  // The head lines are in the file's first piece.
  std::string head;
  fs_->ReadFileBy(
      path_,
      [&head](std::string_view piece) {
        head.append(piece.substr(0, 4096 - head.size()));
        return head.size() < 4096;
      },
      nullptr);
  return record_.UsersInHead(head);
}

bool SyncRecordFile::Forget(FileSystem* fs, const std::string& target_dir,
                            std::string* path, std::string* error) {
  *path = RunRecordsFolder(fs, target_dir) + "\\" + std::string(kFileName);
  return fs->RemoveFile(*path, error) || !fs->Exists(*path);
}

bool SyncRecordFile::Save(const Clock& clock, int64_t patience_micros,
                          std::string* error, const SizeTeller& tell) {
  Wait();
  record_.Settle(fs_, mail_dir_, clock, patience_micros, tell);
  SettleUsers(fs_, clock, patience_micros, &record_);
  // A pass that put and dropped nothing leaves the file as it found it.
  if (!record_.changed()) return true;
  const std::string folder = path_.substr(0, path_.find_last_of('\\'));
  auto write = [this, error] {
    return fs_->ReplaceContentsBy(
        path_, [this](const PieceWriter& put) { return record_.Write(put); },
        error);
  };
  bool saved = fs_->CreateDir(folder, error) && write();
  // The new file's time is the file system's clock: a status that is not
  // settled by it either is left out, and the file written again.
  EntryStatus written;
  if (saved && fs_->StatusOf(path_, &written) &&
      record_.DropUnsettledAt(written.modified)) {
    saved = write();
  }
  if (!saved) {
    fs_->RemoveFile(path_, nullptr);
    return false;
  }
  record_.Written();
  return true;
}

}  // namespace vm
