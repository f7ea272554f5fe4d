#ifndef VM_SESSION_SYNC_RECORD_FILE_H_
#define VM_SESSION_SYNC_RECORD_FILE_H_

#include <memory>
#include <string>
#include <thread>

#include "migrate/sync_record.h"

namespace vm {

class Clock;
class FileSystem;

// The record of what the runs on a target saw of its mailboxes (see
// SyncRecord), one file per target, beside the run records in the target's
// data folder: `<data folder>\velquor-migrate-runs\sync-record`. Deleting
// it is safe: the next sync lists every mailbox.
class SyncRecordFile {
 public:
  static constexpr const char* kFileName = "sync-record";

  // Reads the record of the target `target_dir` through `fs`. A record
  // that is missing, unreadable, damaged or of another target (its data
  // folder's identity) gives an empty one; null when the data folder
  // cannot be located, so that nothing is skipped and nothing written.
  // The file is read and parsed on a thread of its own while the run
  // loads the rest (a large target's record is tens of megabytes):
  // nothing may ask the record before Wait, which record() and Save call.
  static std::unique_ptr<SyncRecordFile> Load(FileSystem* fs,
                                              const std::string& target_dir,
                                              const std::string& mail_dir);
  ~SyncRecordFile() { Wait(); }
  // Removes the record of `target_dir`, for an undo: what it puts back
  // or takes away may lie in folders the record lets a sync leave
  // unlooked at. False (with the reason) when a record is still there.
  // *path is the record's path.
  static bool Forget(FileSystem* fs, const std::string& target_dir,
                     std::string* path, std::string* error);
  SyncRecordFile(const SyncRecordFile&) = delete;
  SyncRecordFile& operator=(const SyncRecordFile&) = delete;

  // Whether there was a record file when the run began (it may yet prove
  // not whole, or another target's, and then hold nothing).
  bool found() const { return found_; }
  // Returns once the record is read.
  void Wait() {
    if (reading_.joinable()) reading_.join();
  }
  SyncRecord* record() {
    Wait();
    return &record_;
  }
  // What the head of the record file says of the user list
  // (SyncRecord::users()), read now, apart from the reading of the whole.
  std::optional<EntryStatus> UsersInHead();
  // The record as it will be once read, for a run that calls Wait before
  // it first asks it.
  SyncRecord* record_to_come() { return &record_; }

  // Takes the statuses of the folders the run finished with and replaces
  // the file whole (a temporary, renamed over it). When that fails the old
  // file is removed, since it no longer tells what the run left; false
  // with the reason. A record whose entries are those of the file it was
  // read from (or that had none and has none) is not written again.
  // `patience_micros` is how long it may wait for the statuses it takes to
  // settle, and `tell` the sizes of files it knows (SyncRecord::Settle).
  bool Save(const Clock& clock, int64_t patience_micros, std::string* error,
            const SizeTeller& tell = nullptr);

 private:
  SyncRecordFile(FileSystem* fs, std::string path, std::string mail_dir,
                 FileId data_folder)
      : fs_(fs),
        path_(std::move(path)),
        mail_dir_(std::move(mail_dir)),
        record_(data_folder) {}

  // Reads and parses the file.
  void Read();

  FileSystem* fs_;
  std::string path_;
  std::string mail_dir_;
  SyncRecord record_;
  bool found_ = false;
  std::thread reading_;
};

}  // namespace vm

#endif  // VM_SESSION_SYNC_RECORD_FILE_H_
