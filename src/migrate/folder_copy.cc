#include "migrate/folder_copy.h"

#include <algorithm>
#include <atomic>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <utility>
#include <vector>

#include "migrate/folder_maker.h"
#include "migrate/index_lookup.h"
#include "migrate/message_names.h"
#include "migrate/migration_run.h"
#include "migrate/run_host.h"
#include "migrate/run_manifest.h"
#include "migrate/safe_name.h"
#include "migrate/staged_mailbox.h"
#include "migrate/texts.h"
#include "migrate/worker_pool.h"
#include "platform/file_error.h"

namespace vm {

namespace {

// Messages of one folder handed to a worker at once, at most.
constexpr size_t kCopiesPerBatch = 8;

}  // namespace

// The lines of one folder: its done line and failure lines, written once
// its last copy has finished. Workers add failures and count down.
class FolderCopier::FolderPiece : public OrderedLog::Pending {
 public:
  FolderPiece(FolderCopier* copier, MailboxTally* mailbox, std::string name)
      : copier_(copier), mailbox_(mailbox) {
    counts.name = std::move(name);
  }

  bool Ready() const override {
    return remaining_.load(std::memory_order_acquire) == 0 &&
           (maker == nullptr || maker->finished());
  }
  void Release(RunHost* host) override { copier_->ReleaseFolder(this, host); }

  void Expect() { remaining_.fetch_add(1, std::memory_order_relaxed); }
  // The last thing a worker does with the piece.
  void Done() { remaining_.fetch_sub(1, std::memory_order_acq_rel); }
  // Counts a failed message, with its line. A failure that a later run
  // may overcome keeps the pending mark.
  void AddFailure(size_t order, std::string line, bool retry) {
    ++failed;
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.push_back({order, std::move(line), retry});
  }

  MailboxTally* mailbox() const { return mailbox_; }
  FolderCounts counts;  // messages and bytes; the rest from the atomics
  std::atomic<int64_t> copied{0}, present{0}, failed{0};
  std::atomic<uint64_t> copied_bytes{0};
  std::string done_text;
  bool with_count = false;  // the done line ends in " <count>!"
  // The line that says the target folder could not be made; when a
  // worker makes it (`maker`), dropped once that worked.
  std::string folder_failure;
  std::shared_ptr<const FolderMaker> maker;
  size_t maker_index = 0;
  std::shared_ptr<StagedMailbox> staged;  // see TargetFolder
  std::string note;  // a line after the done line that is no failure
  std::vector<std::string> mirror_notes;  // see TargetFolder::notes

  struct Failure {
    size_t order;
    std::string line;
    bool retry;
  };
  // Failures in the order of the messages they are about.
  std::vector<Failure> TakeFailures() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::sort(
        failures_.begin(), failures_.end(),
        [](const Failure& a, const Failure& b) { return a.order < b.order; });
    return std::move(failures_);
  }

 private:
  FolderCopier* copier_;
  MailboxTally* mailbox_;
  // Starts at 1, held by the calling thread until every copy is queued.
  std::atomic<size_t> remaining_{1};
  std::mutex mutex_;
  std::vector<Failure> failures_;
};

FolderCopier::FolderCopier(FileSystem* fs, const Texts& texts,
                           const NameOps& names, bool sync, OrderedLog* log,
                           WorkerPool* pool, size_t max_in_flight,
                           RunObserver* observer, MigrationStats* stats,
                           ManifestWriter* manifest)
    : fs_(fs),
      texts_(texts),
      names_(names),
      sync_(sync),
      log_(log),
      pool_(pool),
      max_in_flight_(max_in_flight),
      observer_(observer),
      manifest_(manifest),
      stats_(stats) {}

void FolderCopier::Copy(const SourceFolder& folder,
                        const std::string& in_progress,
                        const std::string& done_text, bool with_count,
                        const TargetFolder& target, const MailboxListing& box,
                        MailboxTally* mailbox) {
  log_->AppendLogLine(in_progress);
  auto piece = std::make_unique<FolderPiece>(this, mailbox, folder.target);
  piece->staged = target.staged;
  piece->counts.removed = target.removed;
  piece->counts.removed_bytes = target.removed_bytes;
  piece->mirror_notes = target.notes;
  // A mailbox that could not be (fully) listed has its line from the
  // migrator, once; what was found is still copied.
  const std::vector<DirEntry> entries = box.FilesOf(folder, names_);
  // Regular files, with names that can be used, are copied; directories are
  // not messages; everything else is a failure.
  std::vector<const DirEntry*> messages;
  std::vector<const std::string*> refusals;
  for (const DirEntry& entry : entries) {
    if (entry.is_directory) continue;
    messages.push_back(&entry);
    refusals.push_back(NameRefusal(entry));
  }
  std::vector<DirEntry> held;
  const DirMade made = PrepareTarget(target, piece.get(), &held);
  if (made == DirMade::kMade) mailbox->wrote = true;
  const TargetFolderFiles existing(names_, std::move(held));
  // The index is asked for the names of the messages the target lacks,
  // and only those (a sync finds most of them there): the n-th flag is the
  // n-th of them.
  std::vector<char> asked(messages.size(), 0);
  std::vector<std::string> names;
  for (size_t i = 0; i < messages.size(); ++i) {
    const DirEntry& entry = *messages[i];
    if (refusals[i] == nullptr &&
        existing.Copy(entry.name, entry.size) == nullptr) {
      asked[i] = 1;
      names.push_back(entry.name);
    }
  }
  const std::vector<bool> sized = SizeFlags(folder, box, names, piece.get());

  // Copies go to the workers in batches, which keeps the hand-over cost
  // (a queue entry, a wake-up) off each message. A folder just made holds
  // nothing: two messages whose names differ only in case are one file
  // to the server, and a staged copy would not find the other.
  std::vector<Message> batch;
  std::unordered_set<std::string> planned;
  size_t n = 0;
  for (size_t order = 0; order < messages.size(); ++order) {
    const DirEntry& entry = *messages[order];
    ++piece->counts.messages;
    piece->counts.bytes += entry.size;
    const bool is_sized = asked[order] != 0 && sized[n++];
    if (Refused(entry, order, refusals[order], made, piece.get())) continue;
    Message copy;
    copy.order = order;
    copy.from = entry.path;
    copy.size = entry.size;
    copy.to = target.path + "\\" +
              (is_sized ? SizedName(entry.name, entry.size) : entry.name);
    if (!NeedsCopy(entry, existing, *mailbox, piece.get(), &copy)) continue;
    if (made == DirMade::kMade &&
        !planned.insert(names_.Fold(copy.to)).second) {
      piece->AddFailure(
          order, DiffersLine(copy.from, FinalPath(*piece, copy.to)), true);
      observer_->OnMessage(entry.size, false);
      continue;
    }
    mailbox->bytes += entry.size;
    mailbox->wrote = true;
    batch.push_back(std::move(copy));
    if (batch.size() >= kCopiesPerBatch) Submit(piece.get(), &batch);
  }
  Submit(piece.get(), &batch);
  piece->done_text = done_text;
  piece->with_count = with_count;
  piece->Done();  // every copy is queued
  log_->Add(std::move(piece));
}

// One read of the index gives the flag of every message of the folder.
std::vector<bool> FolderCopier::SizeFlags(const SourceFolder& folder,
                                          const MailboxListing& box,
                                          const std::vector<std::string>& names,
                                          FolderPiece* piece) const {
  std::vector<bool> sized(names.size(), false);
  if (!names.empty() && box.Holds(fs_, folder.index, names_)) {
    std::string index;
    if (box.ReadFile(fs_, folder.index, &index)) {
      sized = SizeFlagsFromIndex(index, names);
    } else {
      // The messages are still copied, under their plain names.
      piece->note = texts_.folder_indent + texts_.index_unreadable +
                    fs_->DisplayPath(folder.index);
    }
  }
  return sized;
}

// What the target folder holds already: nothing when this run has just
// made it. A folder that cannot be made (a link is not followed) is a
// line and gets no copy: each message fails, and a later run tries
// again.
DirMade FolderCopier::PrepareTarget(const TargetFolder& target,
                                    FolderPiece* piece,
                                    std::vector<DirEntry>* held) const {
  const std::string& target_folder = target.path;
  DirMade made = target.made;
  if (made == DirMade::kFailed) {
    if (manifest_ != nullptr && piece->staged == nullptr &&
        !fs_->Exists(target_folder)) {
      manifest_->WriteAhead(ManifestEntry::Kind::kDirectory, {target_folder});
    }
    made = fs_->MakeDir(target_folder, nullptr);
    if (made == DirMade::kMade) RecordFolder(*piece, target_folder);
  }
  if (made == DirMade::kExisted && target.listed) {
    *held = target.files;
  } else if (made == DirMade::kExisted) {
    fs_->List(target_folder + "\\*", held);
  }
  if (made == DirMade::kFailed || target.maker != nullptr) {
    piece->folder_failure = NotMadeLine(FinalPath(*piece, target_folder));
    piece->maker = target.maker;
    piece->maker_index = target.maker_index;
  }
  return made;
}

bool FolderCopier::Refused(const DirEntry& entry, size_t order,
                           const std::string* refusal, DirMade made,
                           FolderPiece* piece) const {
  bool retry = false;
  if (made == DirMade::kFailed) {
    refusal = &texts_.why_folder_not_made;
    retry = true;
  }
  if (refusal == nullptr) return false;
  // Unless the folder was missing, no later run could copy it either:
  // the mark may go.
  piece->AddFailure(order, RefusalLine(entry.path, *refusal), retry);
  observer_->OnMessage(entry.size, false);
  return true;
}

bool FolderCopier::NeedsCopy(const DirEntry& entry,
                             const TargetFolderFiles& existing,
                             const MailboxTally& mailbox, FolderPiece* piece,
                             Message* copy) const {
  // A message has one file in the target, whichever its name.
  if (existing.Copy(entry.name, entry.size) != nullptr) {
    ++piece->present;
    observer_->OnMessage(entry.size, false);
    return false;
  }
  const std::vector<const DirEntry*> others = existing.Find(entry.name);
  if (others.empty()) return true;
  const DirEntry* other = others.front();
  // Only a file under the very name it gets, shorter than the message,
  // can be a copy cut short.
  copy->resume = mailbox.resume && others.size() == 1 &&
                 names_.EqualsIgnoringCase(other->path, copy->to) &&
                 !other->is_special && other->size < entry.size;
  if (copy->resume) return true;
  // Changed since it was copied, or another's: kept, and no later run
  // does better.
  piece->AddFailure(copy->order, DiffersLine(entry.path, other->path), false);
  observer_->OnMessage(entry.size, false);
  return false;
}

void FolderCopier::Submit(FolderPiece* piece, std::vector<Message>* batch) {
  if (batch->empty()) return;
  if (pool_->busy() >= max_in_flight_) {
    // Let the queue run down to half before refilling it, rather than
    // waking for every finished batch.
    while (pool_->busy() > max_in_flight_ / 2) WaitForWorkers();
  }
  if (manifest_ != nullptr && piece->staged == nullptr) {
    // Copies into a folder the server sees are recorded before they are
    // made, a batch at a time; each file's proof follows its copy.
    std::vector<std::string> paths;
    for (const Message& copy : *batch) paths.push_back(copy.to);
    manifest_->WriteAhead(ManifestEntry::Kind::kMessageFile, paths);
  }
  piece->Expect();
  pool_->Submit([this, piece, copies = std::move(*batch)] {
    bool folder_made = true;
    if (piece->maker != nullptr) {
      piece->maker->Wait();
      folder_made = piece->maker->made(piece->maker_index);
    }
    for (const Message& copy : copies) {
      if (folder_made) {
        RunCopy(copy, piece);
        continue;
      }
      piece->AddFailure(
          copy.order, RefusalLine(copy.from, texts_.why_folder_not_made), true);
      observer_->OnMessage(copy.size, false);
    }
    piece->Done();
  });
  batch->clear();
}

void FolderCopier::RunCopy(const Message& copy, FolderPiece* piece) const {
  std::string error;
  // The undo's record of the file: its stamp or digest, taken as it is
  // copied.
  CopiedFile copied;
  CopyResult result = Copy(copy, piece->staged != nullptr, &error, &copied);
  if (result == CopyResult::kTargetExists && copy.resume) {
    result = ReplacePartialCopy(copy, &error, &copied);
  }
  if (result == CopyResult::kCopied) {
    // A file the copy told nothing of is left out: an undo then keeps it.
    ManifestEntry entry;
    if (manifest_ != nullptr && piece->staged != nullptr) {
      piece->staged->MadeFile(copy.to, copied);
    } else if (manifest_ != nullptr &&
               CopiedFileEntry(copy.to, copied, &entry)) {
      manifest_->Add(entry);
    }
    ++piece->copied;
    piece->copied_bytes += copy.size;
  } else if (result == CopyResult::kTargetExists) {
    // Not there when the folder was listed: something else wrote it since.
    // A later run compares it.
    piece->AddFailure(copy.order,
                      DiffersLine(copy.from, FinalPath(*piece, copy.to)),
                      !copy.resume);
  } else {
    piece->AddFailure(copy.order,
                      RefusalLine(copy.from, FileErrorWords(texts_, error)),
                      true);
  }
  observer_->OnMessage(copy.size, result == CopyResult::kCopied);
}

std::string FolderCopier::FinalPath(const FolderPiece& piece,
                                    const std::string& path) const {
  return piece.staged != nullptr ? piece.staged->Final(path) : path;
}

void FolderCopier::RecordFolder(const FolderPiece& piece,
                                const std::string& dir) const {
  if (manifest_ == nullptr) return;
  if (piece.staged != nullptr) {
    piece.staged->MadeDirectory(dir);
  } else {
    manifest_->Add(DirectoryEntry(dir));
  }
}

CopyResult FolderCopier::Copy(const Message& copy, bool staged,
                              std::string* error, CopiedFile* copied) const {
  if (staged) {
    return fs_->CopyStaged(copy.from, copy.to, error,
                           manifest_ != nullptr ? copied : nullptr);
  }
  if (manifest_ == nullptr) return fs_->CopyNew(copy.from, copy.to, error);
  return fs_->CopyNewRecorded(copy.from, copy.to, error, copied);
}

CopyResult FolderCopier::ReplacePartialCopy(const Message& copy,
                                            std::string* error,
                                            CopiedFile* copied) const {
  // An interrupted copy leaves the start of its source under the target
  // name; a message that arrived there by other means is kept.
  std::string source, partial;
  if (!fs_->ReadFile(copy.from, &source, error)) return CopyResult::kFailed;
  if (!fs_->ReadFile(copy.to, &partial, nullptr) ||
      partial.size() >= source.size() ||
      source.compare(0, partial.size(), partial) != 0) {
    return CopyResult::kTargetExists;
  }
  if (!fs_->RemoveFile(copy.to, nullptr)) {
    if (error != nullptr) {
      *error = FileErrorText(
          {FileErrorKind::kPermission, 0},
          "cannot replace the partial copy " + fs_->DisplayPath(copy.to));
    }
    return CopyResult::kFailed;
  }
  return Copy(copy, false, error, copied);
}

const std::string* FolderCopier::NameRefusal(const DirEntry& entry) const {
  if (entry.unconvertible_name) return &texts_.why_name_not_in_code_page;
  if (entry.is_special) {
    return &texts_.why_kind[static_cast<int>(FileErrorKind::kNotRegular)];
  }
  if (!IsSafeDirectoryName(entry.name, names_)) return &texts_.why_unsafe_name;
  if (IsCopyTemporaryName(entry.name, names_)) {
    return &texts_.why_copy_temporary_name;
  }
  return nullptr;
}

std::string FolderCopier::NotMadeLine(const std::string& folder) const {
  return texts_.folder_indent + texts_.mailbox_dir_failed +
         fs_->DisplayPath(folder);
}

std::string FolderCopier::RefusalLine(const std::string& from,
                                      const std::string& why) const {
  return texts_.folder_indent + texts_.copy_failed + fs_->DisplayPath(from) +
         texts_.why_open + why + texts_.why_close;
}

std::string FolderCopier::FolderEndLine(const FolderPiece& piece,
                                        const FolderCounts& counts) const {
  // A folder with a failed copy is not called a success.
  if (counts.failed > 0) {
    return piece.done_text + texts_.folder_copied +
           std::to_string(counts.copied) + texts_.folder_failed +
           std::to_string(counts.failed) + texts_.folder_messages;
  }
  return piece.done_text + texts_.folder_done +
         (piece.with_count ? " " + std::to_string(counts.copied) : "") + "!";
}

std::string FolderCopier::DiffersLine(const std::string& from,
                                      const std::string& to) const {
  return texts_.folder_indent + texts_.target_differs + fs_->DisplayPath(from) +
         " -> " + fs_->DisplayPath(to);
}

void FolderCopier::ReleaseFolder(FolderPiece* piece, RunHost* host) {
  FolderCounts counts = piece->counts;
  counts.copied = piece->copied;
  counts.copied_bytes = piece->copied_bytes;
  counts.present = piece->present;
  counts.failed = piece->failed;
  // Only what this run copied counts; what the target held already is
  // counted apart.
  stats_->mail_count += static_cast<int32_t>(counts.copied);
  stats_->already_present += static_cast<int32_t>(counts.present);
  host->RemoveLastLine();
  host->AppendLogLine(FolderEndLine(*piece, counts));
  // Told while its done line is the last one (a changes-only list drops
  // the line of a folder where nothing happened); the mirror's lines follow.
  observer_->OnFolder(counts);
  for (const std::string& line : piece->mirror_notes) host->AppendLogLine(line);
  MailboxTally* mailbox = piece->mailbox();
  mailbox->copied += static_cast<int>(counts.copied);
  if (piece->maker != nullptr && piece->maker->made(piece->maker_index)) {
    piece->folder_failure.clear();
  }
  if (!piece->folder_failure.empty()) {
    host->AppendLogLine(piece->folder_failure);
    host->SelectLastLine();
    ++failure_lines_;
    ++mailbox->failed;
    mailbox->Failed(piece->folder_failure);
  }
  for (const FolderPiece::Failure& failure : piece->TakeFailures()) {
    host->AppendLogLine(failure.line);
    host->SelectLastLine();
    ++stats_->failed_copies;
    ++mailbox->failed_copies;
    ++failure_lines_;
    if (failure.retry) ++mailbox->failed;
  }
  if (!piece->note.empty()) host->AppendLogLine(piece->note);
  host->SelectLastLine();
}

void FolderCopier::WaitForWorkers() {
  pool_->WaitForOne();
  log_->Pump();
}

}  // namespace vm
