#include "migrate/mailbox_migrator.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <utility>

#include "migrate/index_lookup.h"
#include "migrate/message_names.h"
#include "migrate/run_host.h"
#include "migrate/safe_name.h"
#include "migrate/texts.h"
#include "platform/code_page.h"
#include "platform/file_system.h"

namespace vm {

namespace {

struct StandardFolder {
  const char* pattern;
  const char* index;
  const char* target;
};

constexpr StandardFolder kStandardFolders[4] = {
    {"\\*.in", "\\__r_in.ini", "\\INBOX"},
    {"\\*.sed", "\\__r_sed.ini", "\\Sent"},
    {"\\*.out", "\\__r_out.ini", "\\Draft"},
    {"\\*.del", "\\__r_del.ini", "\\Trash"},
};

// The lines of a text file as a C runtime text stream gives them: split at
// LF, a CR before the LF dropped, no empty piece after a final line end.
std::vector<std::string> TextLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

// Flushing is batched: one flush of the volume per this many complete
// mailboxes, or bytes copied, and at the end.
constexpr size_t kFlushMailboxes = 1000;
constexpr uint64_t kFlushBytes = uint64_t{512} << 20;
// Batches queued per worker, and result-list calls held back, at most.
constexpr size_t kQueuedPerJob = 16;
// Messages of one folder handed to a worker at once, at most.
constexpr size_t kCopiesPerBatch = 8;
constexpr size_t kMaxHeldCalls = 4096;
// Source mailboxes read ahead of the run, at most, and threads reading them.
constexpr size_t kReadAheadBoxes = 32;
constexpr int kReadAheadThreads = 2;

// The text of a pending mark made for a sync.
constexpr char kSyncMark[] = "sync";

std::string DirectoryOfPattern(const std::string& pattern) {
  return pattern.substr(0, pattern.rfind('\\'));
}

}  // namespace

// One mailbox being migrated; lives until its end piece is released.
struct MailboxMigrator::Mailbox {
  std::string target_box;
  bool resume = false;
  std::function<void(int)> done;  // told the failed copies when released
  int failed_copies = 0;
  int failed = 0;      // failures a later run may overcome
  uint64_t bytes = 0;  // of the messages handed to the workers
};

// The lines of one folder: its done line and failure lines, written once
// its last copy has finished. Workers add failures and count down.
class MailboxMigrator::FolderPiece : public OrderedLog::Pending {
 public:
  FolderPiece(MailboxMigrator* migrator, Mailbox* mailbox, std::string name)
      : migrator_(migrator), mailbox_(mailbox) {
    counts.name = std::move(name);
  }

  bool Ready() const override {
    return remaining_.load(std::memory_order_acquire) == 0;
  }
  void Release(RunHost* host) override { migrator_->ReleaseFolder(this, host); }

  void Expect() { remaining_.fetch_add(1, std::memory_order_relaxed); }
  // The last thing a worker does with the piece.
  void Done() { remaining_.fetch_sub(1, std::memory_order_acq_rel); }
  // A failure that a later run may overcome keeps the pending mark.
  void AddFailure(size_t order, std::string line, bool retry) {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.push_back({order, std::move(line), retry});
  }

  Mailbox* mailbox() const { return mailbox_; }
  FolderCounts counts;  // messages and bytes; the rest from the atomics
  std::atomic<int64_t> copied{0}, present{0}, failed{0};
  std::atomic<uint64_t> copied_bytes{0};
  std::string done_text;
  bool with_count = false;   // the done line ends in " <count>!"
  std::string list_failure;  // the folder could not be (fully) listed
  std::string note;          // a line after the done line that is no failure

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
  MailboxMigrator* migrator_;
  Mailbox* mailbox_;
  // Starts at 1, held by the calling thread until every copy is queued.
  std::atomic<size_t> remaining_{1};
  std::mutex mutex_;
  std::vector<Failure> failures_;
};

// Ends a mailbox once all its folders are released.
class MailboxMigrator::MailboxEnd : public OrderedLog::Pending {
 public:
  MailboxEnd(MailboxMigrator* migrator, std::unique_ptr<Mailbox> mailbox)
      : migrator_(migrator), mailbox_(std::move(mailbox)) {}
  bool Ready() const override { return true; }
  void Release(RunHost* host) override {
    migrator_->ReleaseMailbox(mailbox_.get(), host);
  }

 private:
  MailboxMigrator* migrator_;
  std::unique_ptr<Mailbox> mailbox_;
};

MailboxMigrator::MailboxMigrator(FileSystem* fs, RunHost* host,
                                 const Texts& texts, Options options,
                                 MigrationStats* stats)
    : fs_(fs),
      texts_(texts),
      options_(std::move(options)),
      stats_(stats),
      observer_(options_.observer != nullptr ? options_.observer
                                             : &null_observer_) {
  if (options_.log == nullptr) own_log_ = std::make_unique<OrderedLog>(host);
  log_ = options_.log != nullptr ? options_.log : own_log_.get();
  const int jobs = std::max(1, options_.jobs);
  pool_ = std::make_unique<WorkerPool>(jobs);
  max_in_flight_ = kQueuedPerJob * static_cast<size_t>(jobs);
  log_->SetWaiter([this] { pool_->WaitForOne(); }, kMaxHeldCalls);
}

MailboxMigrator::~MailboxMigrator() {
  Finish();
  log_->SetWaiter(nullptr, 0);
}

void MailboxMigrator::ReadAheadOf(const std::vector<std::string>& users) {
  std::vector<std::string> boxes;
  for (const std::string& user : users) {
    if (IsSafeDirectoryName(user, options_.names)) {
      boxes.push_back(SourceBox(user));
    }
  }
  read_ahead_.reset();
  read_ahead_ = std::make_unique<ReadAhead>(fs_, std::move(boxes),
                                            kReadAheadBoxes, kReadAheadThreads);
}

std::string MailboxMigrator::SourceBox(const std::string& user) const {
  return options_.source_dir + "\\mail\\" + user;
}

std::string MailboxMigrator::TargetBox(
    const SourceAccount& account, const std::string& primary_domain) const {
  const std::string& user = account.user_name;
  const NameOps& names = options_.names;
  std::string box_name = user.substr(0, names.Find(user, '@'));
  if (!names.EqualsIgnoringCase(account.domain, primary_domain)) {
    box_name += "@" + account.domain;
  }
  if (!IsSafeDirectoryName(user, options_.names) ||
      !IsSafeDirectoryName(box_name, options_.names)) {
    return std::string();
  }
  // A name the code page cannot hold names no directory: its mailbox would
  // be taken for one that does not exist.
  const CodePage* code_page = options_.code_page;
  if (code_page != nullptr &&
      (!code_page->IsValidAnsi(user) || !code_page->IsValidAnsi(box_name))) {
    return std::string();
  }
  return options_.target_mail_dir + "\\" + box_name;
}

std::string MailboxMigrator::SharedBoxUser(const SourceAccount& account,
                                           const std::string& primary_domain) {
  std::string target_box = TargetBox(account, primary_domain);
  if (target_box.empty()) return std::string();
  auto it = box_users_.find(options_.names.Fold(target_box));
  if (it == box_users_.end() ||
      options_.names.EqualsIgnoringCase(it->second, account.user_name) ||
      !fs_->Exists(SourceBox(account.user_name))) {
    return std::string();
  }
  return it->second;
}

void MailboxMigrator::SettleBox(const std::string& target_box) {
  if (unsettled_.count(target_box) != 0) Finish();
}

bool MailboxMigrator::MarkPending(const SourceAccount& account,
                                  const std::string& primary_domain,
                                  bool sync) {
  std::string target_box = TargetBox(account, primary_domain);
  if (target_box.empty()) return true;
  SettleBox(target_box);
  // The store itself may be a link to where the server keeps it; a
  // mailbox must be a directory of its own.
  fs_->CreateDir(options_.target_mail_dir, nullptr);
  return fs_->CreateDir(target_box, nullptr) &&
         fs_->WriteFile(target_box + "\\" + kPendingMark, sync ? kSyncMark : "",
                        nullptr);
}

bool MailboxMigrator::IsPending(const SourceAccount& account,
                                const std::string& primary_domain, bool* sync) {
  std::string target_box = TargetBox(account, primary_domain);
  if (target_box.empty()) return false;
  SettleBox(target_box);
  const std::string mark = target_box + "\\" + kPendingMark;
  if (!fs_->Exists(mark)) return false;
  if (sync != nullptr) {
    std::string text;
    *sync = fs_->ReadFile(mark, &text, nullptr) && text == kSyncMark;
  }
  return true;
}

void MailboxMigrator::ClearPending(const SourceAccount& account,
                                   const std::string& primary_domain) {
  std::string target_box = TargetBox(account, primary_domain);
  if (target_box.empty()) return;
  SettleBox(target_box);
  fs_->RemoveFile(target_box + "\\" + kPendingMark, nullptr);
}

bool MailboxMigrator::MigrateMailbox(const SourceAccount& account,
                                     const std::string& primary_domain,
                                     bool resume,
                                     std::function<void(int)> done) {
  const std::string& user = account.user_name;
  std::string target_box = TargetBox(account, primary_domain);
  if (target_box.empty()) {
    LogFailure(texts_.unsafe_mailbox_name + user);
    return false;
  }
  SettleBox(target_box);

  fs_->CreateDir(options_.target_mail_dir, nullptr);
  if (!fs_->CreateDir(target_box, nullptr)) {
    LogFailure(texts_.mailbox_dir_failed + target_box);
    return false;
  }
  box_users_[options_.names.Fold(target_box)] = user;
  for (const char* folder :
       {"\\INBOX", "\\Sent", "\\Draft", "\\Trash", "\\Spam"}) {
    fs_->CreateDir(target_box + folder, nullptr);
  }
  std::string source_box = SourceBox(user);
  if (read_ahead_ != nullptr) read_ahead_->Reached(source_box);
  if (options_.phases != nullptr) options_.phases->PhaseBegin("mail");
  auto mailbox = std::make_unique<Mailbox>();
  mailbox->target_box = target_box;
  mailbox->resume = resume;
  mailbox->done = std::move(done);
  ++unsettled_[target_box];
  MigrateFolders(source_box, target_box, mailbox.get());
  log_->Add(std::make_unique<MailboxEnd>(this, std::move(mailbox)));
  if (options_.phases != nullptr) options_.phases->PhaseEnd("mail");
  if (own_log_ != nullptr) Finish();
  return true;
}

void MailboxMigrator::MigrateFolders(const std::string& source_box,
                                     const std::string& target_box,
                                     Mailbox* mailbox) {
  for (int i = 0; i < 4; ++i) {
    const StandardFolder& folder = kStandardFolders[i];
    CopyFolder(folder.target + 1, texts_.standard_in_progress[i],
               texts_.standard_done[i], true, source_box + folder.index,
               source_box + folder.pattern, target_box + folder.target,
               mailbox);
  }
  MigrateUserFolders(source_box, target_box, mailbox);
}

void MailboxMigrator::MigrateUserFolders(const std::string& source_box,
                                         const std::string& target_box,
                                         Mailbox* mailbox) {
  std::string list_path = source_box + "\\Folders.ini";
  if (!fs_->Exists(list_path)) return;
  std::string text;
  if (!fs_->ReadFile(list_path, &text, nullptr)) {
    // The user-made folders cannot be known: say so rather than leave
    // their mail behind unmentioned.
    LogFailure(texts_.folder_indent + texts_.folder_list_unreadable +
               fs_->DisplayPath(list_path));
    ++mailbox->failed;
    return;
  }

  // Every directory is made before any folder is copied. The folder number
  // is the line number, so a refused line still uses up its number.
  std::vector<std::string> names;
  for (std::string& line : TextLines(text)) {
    std::string name = line.substr(0, line.find('\t'));
    if (IsSafeDirectoryName(name, options_.names)) {
      fs_->CreateDir(target_box + "\\" + name, nullptr);
    }
    names.push_back(std::move(name));
  }

  const std::string& indent = texts_.folder_indent;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    std::string number = std::to_string(i);
    if (!IsSafeDirectoryName(name, options_.names)) {
      if (name.empty()) {
        // A blank line names no folder; it matters only when messages
        // carry its number.
        std::vector<DirEntry> entries;
        bool listed = fs_->List(source_box + "\\*." + number, &entries);
        if (listed && std::none_of(entries.begin(), entries.end(),
                                   [](const DirEntry& entry) {
                                     return !entry.is_directory;
                                   })) {
          continue;
        }
      }
      // No later run could do better: the mark may go.
      LogFailure(indent + texts_.unsafe_folder_name + name);
      continue;
    }
    CopyFolder(name, indent + name + texts_.user_folder_in_progress,
               indent + name + texts_.user_folder_done, false,
               source_box + "\\__r_" + number + ".ini",
               source_box + "\\*." + number, target_box + "\\" + name, mailbox);
  }
}

void MailboxMigrator::CopyFolder(const std::string& name,
                                 const std::string& in_progress,
                                 const std::string& done_text, bool with_count,
                                 const std::string& index_path,
                                 const std::string& pattern,
                                 const std::string& target_folder,
                                 Mailbox* mailbox) {
  log_->AppendLogLine(in_progress);
  auto piece = std::make_unique<FolderPiece>(this, mailbox, name);
  const std::string& indent = texts_.folder_indent;

  std::vector<DirEntry> entries;
  if (!fs_->List(pattern, &entries)) {
    // A folder that does not exist is empty; one that exists and cannot be
    // listed (or whose listing broke off) is not: what was found is still
    // copied.
    std::string dir = DirectoryOfPattern(pattern);
    if (fs_->Exists(dir)) {
      piece->list_failure =
          indent + texts_.folder_unlistable + fs_->DisplayPath(dir);
    }
  }
  // Regular files, with names that can be used, are copied; directories are
  // not messages; everything else is a failure.
  std::vector<const DirEntry*> messages;
  std::vector<std::string> names;
  for (const DirEntry& entry : entries) {
    if (entry.is_directory) continue;
    messages.push_back(&entry);
    if (!entry.is_special && !entry.unconvertible_name) {
      names.push_back(entry.name);
    }
  }

  // One read of the index gives the flag of every message of the folder.
  std::vector<bool> sized(names.size(), false);
  if (!names.empty() && fs_->Exists(index_path)) {
    std::string index;
    if (fs_->ReadFile(index_path, &index, nullptr)) {
      sized = SizeFlagsFromIndex(index, names);
    } else {
      // The messages are still copied, under their plain names.
      piece->note =
          indent + texts_.index_unreadable + fs_->DisplayPath(index_path);
    }
  }

  // What the target folder holds already. A folder that could not be made
  // (a link is not followed) gets no copy: each fails and says why.
  std::vector<DirEntry> held;
  if (fs_->CreateDir(target_folder, nullptr))
    fs_->List(target_folder + "\\*", &held);
  const TargetFolderFiles existing(options_.names, std::move(held));

  // Copies go to the workers in batches, which keeps the hand-over cost
  // (a queue entry, a wake-up) off each message.
  std::vector<Copy> batch;
  auto submit = [&] {
    if (batch.empty()) return;
    if (pool_->busy() >= max_in_flight_) {
      // Let the queue run down to half before refilling it, rather than
      // waking for every finished batch.
      while (pool_->busy() > max_in_flight_ / 2) WaitForWorkers();
    }
    piece->Expect();
    pool_->Submit([this, raw = piece.get(), copies = std::move(batch)] {
      for (const Copy& copy : copies) RunCopy(copy, raw);
      raw->Done();
    });
    batch.clear();
  };
  size_t n = 0;
  for (size_t order = 0; order < messages.size(); ++order) {
    const DirEntry& entry = *messages[order];
    ++piece->counts.messages;
    piece->counts.bytes += entry.size;
    const char* refusal = nullptr;
    if (entry.unconvertible_name) {
      refusal = "name not in the code page";
    } else if (entry.is_special) {
      refusal = "not a regular file";
    } else if (!IsSafeDirectoryName(entry.name, options_.names)) {
      refusal = "unsafe file name";
    }
    if (refusal != nullptr) {
      // No later run could copy it either: the mark may go.
      piece->AddFailure(order,
                        indent + texts_.copy_failed +
                            fs_->DisplayPath(entry.path) + " (" + refusal + ")",
                        false);
      ++piece->failed;
      observer_->OnMessage(entry.size, false);
      continue;
    }
    Copy copy;
    copy.order = order;
    copy.from = entry.path;
    copy.size = entry.size;
    copy.to = target_folder + "\\" +
              (sized[n++] ? SizedName(entry.name, entry.size) : entry.name);
    // A message has one file in the target, whichever its name.
    if (existing.Copy(entry.name, entry.size) != nullptr) {
      ++piece->present;
      observer_->OnMessage(entry.size, false);
      continue;
    }
    const std::vector<const DirEntry*> others = existing.Find(entry.name);
    if (!others.empty()) {
      const DirEntry* other = others.front();
      // Only a file under the very name it gets, shorter than the message,
      // can be a copy cut short.
      copy.resume = mailbox->resume && others.size() == 1 &&
                    options_.names.EqualsIgnoringCase(other->path, copy.to) &&
                    !other->is_special && other->size < entry.size;
      if (!copy.resume) {
        // Changed since it was copied, or another's: kept, and no later run
        // does better.
        piece->AddFailure(order, DiffersLine(entry.path, other->path), false);
        ++piece->failed;
        observer_->OnMessage(entry.size, false);
        continue;
      }
    }
    mailbox->bytes += entry.size;
    batch.push_back(std::move(copy));
    if (batch.size() >= kCopiesPerBatch) submit();
  }
  submit();
  piece->done_text = done_text;
  piece->with_count = with_count;
  piece->Done();  // every copy is queued
  log_->Add(std::move(piece));
}

void MailboxMigrator::RunCopy(const Copy& copy, FolderPiece* piece) const {
  std::string error;
  CopyResult result = fs_->CopyNew(copy.from, copy.to, &error);
  if (result == CopyResult::kTargetExists && copy.resume) {
    result = ReplacePartialCopy(copy, &error);
  }
  if (result == CopyResult::kCopied) {
    ++piece->copied;
    piece->copied_bytes += copy.size;
  } else if (result == CopyResult::kTargetExists) {
    // Not there when the folder was listed: something else wrote it since.
    // A later run compares it.
    piece->AddFailure(copy.order, DiffersLine(copy.from, copy.to),
                      !copy.resume);
    ++piece->failed;
  } else {
    piece->AddFailure(
        copy.order,
        texts_.folder_indent + texts_.copy_failed +
            (error.empty() ? fs_->DisplayPath(copy.from)
                           : fs_->DisplayPath(copy.from) + " (" + error + ")"),
        true);
    ++piece->failed;
  }
  observer_->OnMessage(copy.size, result == CopyResult::kCopied);
}

CopyResult MailboxMigrator::ReplacePartialCopy(const Copy& copy,
                                               std::string* error) const {
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
    if (error != nullptr)
      *error = "cannot replace the partial copy " + fs_->DisplayPath(copy.to);
    return CopyResult::kFailed;
  }
  return fs_->CopyNew(copy.from, copy.to, error);
}

std::string MailboxMigrator::DiffersLine(const std::string& from,
                                         const std::string& to) const {
  return texts_.folder_indent + texts_.target_differs + fs_->DisplayPath(from) +
         " -> " + fs_->DisplayPath(to);
}

void MailboxMigrator::ReleaseFolder(FolderPiece* piece, RunHost* host) {
  FolderCounts counts = piece->counts;
  counts.copied = piece->copied;
  counts.copied_bytes = piece->copied_bytes;
  counts.present = piece->present;
  counts.failed = piece->failed;
  // Only what arrived counts: not a failed copy, nor under sync a message
  // the mailbox held already.
  const int64_t count = counts.messages - counts.failed -
                        (options_.sync ? counts.present : int64_t{0});
  stats_->mail_count += static_cast<int32_t>(count);
  host->RemoveLastLine();
  host->AppendLogLine(piece->with_count
                          ? piece->done_text + " " + std::to_string(count) + "!"
                          : piece->done_text);
  observer_->OnFolder(counts);
  Mailbox* mailbox = piece->mailbox();
  if (!piece->list_failure.empty()) {
    host->AppendLogLine(piece->list_failure);
    host->SelectLastLine();
    ++failure_lines_;
    ++mailbox->failed;
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

void MailboxMigrator::ReleaseMailbox(Mailbox* mailbox, RunHost* host) {
  if (mailbox->done) mailbox->done(mailbox->failed_copies);
  // With a failure the mark stays, so a later run tries again.
  if (mailbox->failed == 0) {
    unflushed_.push_back(mailbox->target_box);
    unflushed_bytes_ += mailbox->bytes;
  } else if (--unsettled_[mailbox->target_box] == 0) {
    unsettled_.erase(mailbox->target_box);
  }
  if (unflushed_.size() >= kFlushMailboxes || unflushed_bytes_ >= kFlushBytes) {
    FlushFinished(host);
  }
}

void MailboxMigrator::FlushFinished(RunHost* host) {
  // One flush at a time: the one running is waited for (and its outcome
  // written) before the next starts, so a failure line lands at the same
  // place of the result list however long a flush takes.
  CollectFlush(host);
  if (unflushed_.empty()) return;
  auto flush = std::make_unique<Flush>();
  flush->boxes = std::move(unflushed_);
  unflushed_.clear();
  unflushed_bytes_ = 0;
  // A message counts as copied only once it would survive a power cut:
  // the marks go after the flush. The run goes on meanwhile.
  flush->thread = std::thread([this, raw = flush.get()] {
    raw->ok = fs_->SyncVolume(options_.target_mail_dir, &raw->error);
    if (!raw->ok) return;
    for (const std::string& box : raw->boxes) {
      fs_->RemoveFile(box + "\\" + kPendingMark, nullptr);
    }
  });
  flushing_ = std::move(flush);
}

void MailboxMigrator::CollectFlush(RunHost* host) {
  if (flushing_ == nullptr) return;
  if (options_.phases != nullptr) options_.phases->PhaseBegin("flush");
  flushing_->thread.join();
  if (options_.phases != nullptr) options_.phases->PhaseEnd("flush");
  for (const std::string& box : flushing_->boxes) {
    if (--unsettled_[box] == 0) unsettled_.erase(box);
  }
  if (!flushing_->ok) {
    host->AppendLogLine(texts_.folder_indent + texts_.copy_failed +
                        flushing_->error);
    host->SelectLastLine();
    ++failure_lines_;
  }
  flushing_.reset();
}

void MailboxMigrator::WaitForWorkers() {
  pool_->WaitForOne();
  log_->Pump();
}

void MailboxMigrator::Finish() {
  log_->Drain();
  // Nothing is held now, so lines go straight to the host.
  FlushFinished(log_);
  CollectFlush(log_);
}

void MailboxMigrator::LogFailure(const std::string& line) {
  log_->AppendLogLine(line);
  log_->SelectLastLine();
  ++failure_lines_;
}

}  // namespace vm
