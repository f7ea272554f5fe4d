#ifndef VM_MIGRATE_FOLDER_COPY_H_
#define VM_MIGRATE_FOLDER_COPY_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "migrate/ordered_log.h"
#include "migrate/run_observer.h"
#include "migrate/source_mailbox.h"
#include "platform/file_system.h"
#include "util/name_ops.h"

namespace vm {

class ManifestWriter;

class FolderMaker;
class StagedMailbox;
class TargetFolderFiles;
class WorkerPool;
struct MigrationStats;
struct Texts;

// What the folders of one mailbox add up to once their lines are written.
struct MailboxTally {
  std::string target_box;
  bool resume = false;  // a file may be a copy an earlier run cut short
  int failed_copies = 0;
  int copied = 0;      // messages its folders copied (into staging, if so)
  int failed = 0;      // failures a later run may overcome
  uint64_t bytes = 0;  // of the messages handed to the workers
  // The run made a directory in the mailbox, handed it a message to copy
  // or cleared leftovers from it: what it wrote must be flushed before its
  // pending mark goes. A mailbox found complete needs no flush.
  bool wrote = false;
  // The first failure line, in result-list order, that is no failed copy
  // (a folder not listed, refused or not made); the account's reason.
  std::string failure;
  void Failed(const std::string& line) {
    if (failure.empty()) failure = line;
  }
};

// Where a folder's messages go, and what this run's making of it gave: a
// folder it failed to make is tried again, one it has just made holds
// nothing yet. A folder whose making `maker` has in hand (as directory
// `maker_index`) counts as just made, if the maker succeeds; its copies
// wait for the maker. A folder of a mailbox built under its staging name
// (`staged`) gets plain copies (FileSystem::CopyStaged), recorded there for
// the manifest.
struct TargetFolder {
  std::string path;
  DirMade made = DirMade::kFailed;
  std::shared_ptr<const FolderMaker> maker;
  size_t maker_index = 0;
  std::shared_ptr<StagedMailbox> staged;
  // What a mirror took out of the folder before its copies, and the lines
  // saying so, written after its done line.
  int64_t removed = 0;
  uint64_t removed_bytes = 0;
  std::vector<std::string> notes;
  // The mirror's listing of the folder as it left it (when `listed`):
  // the folder is not listed a second time.
  bool listed = false;
  std::vector<DirEntry> files;
};

// Copies the messages of one source folder into its target folder: lists
// the folder on the calling thread, reads its index once, decides what each
// message needs (a copy under its plain or sized name, nothing because its
// file is there, or a failure line) and hands the copies to the workers in
// batches. The folder's lines (its done line, then its failure lines in
// listing order) go into the OrderedLog as one piece, released once its
// last copy has finished; releasing it counts the folder in `stats` and
// in its mailbox's tally.
class FolderCopier {
 public:
  FolderCopier(FileSystem* fs, const Texts& texts, const NameOps& names,
               bool sync, OrderedLog* log, WorkerPool* pool,
               size_t max_in_flight, RunObserver* observer,
               MigrationStats* stats, ManifestWriter* manifest = nullptr);
  FolderCopier(const FolderCopier&) = delete;
  FolderCopier& operator=(const FolderCopier&) = delete;

  // Logs the in-progress line, takes the files of `folder` from `box` (the
  // listing of its mailbox) and hands their copies into `target_folder` to
  // the workers. Its done line is `done_text`, with
  // " <count>!" appended when `with_count`. `mailbox` must outlive the
  // folder's piece.
  void Copy(const SourceFolder& folder, const std::string& in_progress,
            const std::string& done_text, bool with_count,
            const TargetFolder& target, const MailboxListing& box,
            MailboxTally* mailbox);

  // The line that says the target folder `folder` could not be made.
  std::string NotMadeLine(const std::string& folder) const;

  // Failure lines the released folders wrote.
  int failure_lines() const { return failure_lines_; }

 private:
  class FolderPiece;
  // One message to copy, in the order of its folder's listing.
  struct Message {
    size_t order = 0;
    std::string from, to;
    uint64_t size = 0;
    // A file under `to` may be a copy an earlier run left cut short.
    bool resume = false;
  };

  // The steps of Copy: the size flag of each usable name from the index,
  // the target folder made and its files in *held, a message refused (for
  // `refusal`, its NameRefusal, or a target folder not made) with its
  // failure line, a message whose target file is there already (counted,
  // or a failure line), a batch handed to the workers (emptied).
  std::vector<bool> SizeFlags(const SourceFolder& folder,
                              const MailboxListing& box,
                              const std::vector<std::string>& names,
                              FolderPiece* piece) const;
  DirMade PrepareTarget(const TargetFolder& target, FolderPiece* piece,
                        std::vector<DirEntry>* held) const;
  bool Refused(const DirEntry& entry, size_t order, const std::string* refusal,
               DirMade made, FolderPiece* piece) const;
  bool NeedsCopy(const DirEntry& entry, const TargetFolderFiles& existing,
                 const MailboxTally& mailbox, FolderPiece* piece,
                 Message* copy) const;
  void Submit(FolderPiece* piece, std::vector<Message>* batch);
  // Copies one message on a worker and counts it in its folder's piece.
  void RunCopy(const Message& copy, FolderPiece* piece) const;
  // CopyNew (CopyStaged into a staging folder), digesting the bytes when
  // the run keeps a manifest.
  CopyResult Copy(const Message& copy, bool staged, std::string* error,
                  CopiedFile* copied) const;
  // Puts a folder or file this run made into the manifest, or with the
  // staged mailbox's entries.
  void RecordFolder(const FolderPiece& piece, const std::string& dir) const;
  // `path` as the server will see it: in a staged mailbox, once published.
  std::string FinalPath(const FolderPiece& piece,
                        const std::string& path) const;
  // Replaces the file under copy.to when it is the start of the message,
  // left by a copy cut short; else kTargetExists.
  CopyResult ReplacePartialCopy(const Message& copy, std::string* error,
                                CopiedFile* copied) const;
  // The failure line of a message whose target file is another.
  std::string DiffersLine(const std::string& from, const std::string& to) const;
  // Why the source message `entry` is not copied for what it is or its
  // name; null when it is copied.
  const std::string* NameRefusal(const DirEntry& entry) const;
  // "收件箱转移成功 3!", or with failed copies "收件箱复制 1 封，失败 2 封".
  std::string FolderEndLine(const FolderPiece& piece,
                            const FolderCounts& counts) const;
  // The failure line of a message refused for `why`.
  std::string RefusalLine(const std::string& from,
                          const std::string& why) const;
  void ReleaseFolder(FolderPiece* piece, RunHost* host);
  // Waits until a worker finishes something, then passes on what is ready.
  void WaitForWorkers();

  FileSystem* fs_;
  const Texts& texts_;
  NameOps names_;
  bool sync_;
  OrderedLog* log_;
  WorkerPool* pool_;
  size_t max_in_flight_;
  RunObserver* observer_;
  // Told each folder made and each message file created; may be null.
  ManifestWriter* manifest_;
  MigrationStats* stats_;
  int failure_lines_ = 0;
};

}  // namespace vm

#endif  // VM_MIGRATE_FOLDER_COPY_H_
