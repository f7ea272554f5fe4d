#include "migrate/mailbox_migrator.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "migrate/folder_maker.h"
#include "migrate/mailbox_in_flight.h"
#include "migrate/run_host.h"
#include "migrate/run_manifest.h"
#include "migrate/safe_name.h"
#include "migrate/source_mailbox.h"
#include "migrate/staged_mailbox.h"
#include "migrate/target_mailbox.h"
#include "migrate/texts.h"
#include "platform/file_system.h"

namespace vm {

namespace {

// Batches queued per worker, and result-list calls held back, at most.
constexpr size_t kQueuedPerJob = 16;
constexpr size_t kMaxHeldCalls = 4096;
// Mailboxes begun and not yet ended, at most: the window of accounts whose
// file work runs on the workers ahead of the one being reported. Keeps the
// memory they hold flat however many accounts the run has.
constexpr size_t kMailboxWindow = 64;
// Source mailboxes read ahead of the run, at most, and threads reading
// them: more where only their listings and indexes are read (small reads,
// one at a time per thread) than where their message files are read ahead
// too, which keeps the disk busy with fewer.
constexpr size_t kReadAheadBoxes = 32;
constexpr int kReadAheadThreads = 2;
constexpr int kListingOnlyThreads = 4;

static_assert(kStandardFolderCount ==
              sizeof(Texts::standard_done) / sizeof(Texts::standard_done[0]));

}  // namespace

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

// The failure line of a folder a worker was to make, in its place in the
// result list, once the worker has tried.
class MailboxMigrator::FolderFailure : public OrderedLog::Pending {
 public:
  FolderFailure(MailboxMigrator* migrator, Mailbox* mailbox,
                std::shared_ptr<const FolderMaker> maker, size_t index,
                std::string line)
      : migrator_(migrator),
        mailbox_(mailbox),
        maker_(std::move(maker)),
        index_(index),
        line_(std::move(line)) {}
  bool Ready() const override { return maker_->finished(); }
  void Release(RunHost* host) override {
    if (maker_->made(index_)) return;
    host->AppendLogLine(line_);
    host->SelectLastLine();
    ++migrator_->failure_lines_;
    ++mailbox_->tally.failed;
    mailbox_->tally.Failed(line_);
  }

 private:
  MailboxMigrator* migrator_;
  Mailbox* mailbox_;
  std::shared_ptr<const FolderMaker> maker_;
  size_t index_;
  std::string line_;
};

MailboxMigrator::MailboxMigrator(FileSystem* fs, RunHost* host,
                                 const Texts& texts, Options options,
                                 MigrationStats* stats)
    : fs_(fs),
      texts_(texts),
      options_(std::move(options)),
      stats_(stats),
      observer_(options_.observer != nullptr ? options_.observer
                                             : &null_observer_),
      marks_(fs, options_.target_mail_dir) {
  if (options_.log == nullptr) own_log_ = std::make_unique<OrderedLog>(host);
  log_ = options_.log != nullptr ? options_.log : own_log_.get();
  const int jobs = std::max(1, options_.jobs);
  pool_ = std::make_unique<WorkerPool>(jobs);
  copier_ = std::make_unique<FolderCopier>(
      fs, texts, options_.names, options_.sync, log_, pool_.get(),
      kQueuedPerJob * static_cast<size_t>(jobs), observer_, stats_,
      options_.manifest);
  log_->SetWaiter([this] { pool_->WaitForOne(); }, kMaxHeldCalls);
}

MailboxMigrator::~MailboxMigrator() {
  Finish();
  log_->SetWaiter(nullptr, 0);
}

void MailboxMigrator::ReadAheadOf(
    const std::vector<const SourceAccount*>& accounts,
    const std::string& primary_domain) {
  read_ahead_.reset();
  // A sync that leaves every mailbox unlisted has nothing to read ahead,
  // nor a store of many mailboxes to list for it.
  if (accounts.empty()) return;
  // Cold message files are read many at once instead of one per copy,
  // unless copies clone them unread (the manifest records them by their
  // stamps, without reading them). Not those of mailboxes the target
  // has: a sync copies few of them, a run without sync none. A mirror
  // lists every folder of those, which is read ahead instead.
  ReadAhead::Options ahead;
  ahead.window = kReadAheadBoxes;
  ahead.messages = !fs_->CopiesShareBlocks(SourceMailDir(options_.source_dir),
                                           options_.target_mail_dir);
  ahead.threads = ahead.messages && !options_.mirror ? kReadAheadThreads
                                                     : kListingOnlyThreads;
  ahead.clock = options_.record != nullptr ? options_.clock : nullptr;
  ahead.list_targets = options_.mirror;
  const std::unordered_set<std::string> stored =
      ahead.messages || ahead.list_targets ? StoredBoxes()
                                           : std::unordered_set<std::string>();
  std::vector<std::string> names;
  names.reserve(accounts.size());
  for (const SourceAccount* account : accounts) {
    if (!IsSafeDirectoryName(account->user_name, options_.names)) continue;
    names.push_back(account->user_name);
    std::string target;
    if (!stored.empty()) target = TargetBox(*account, primary_domain);
    if (!target.empty() && stored.count(options_.names.Fold(
                               target.substr(target.rfind('\\') + 1))) != 0) {
      ahead.targets.emplace(names.size() - 1, std::move(target));
    }
  }
  read_ahead_ =
      std::make_unique<ReadAhead>(fs_, SourceMailDir(options_.source_dir),
                                  std::move(names), std::move(ahead));
}

std::unordered_set<std::string> MailboxMigrator::StoredBoxes() const {
  std::unordered_set<std::string> names;
  std::vector<DirEntry> boxes;
  if (!fs_->List(options_.target_mail_dir + "\\*", &boxes)) return names;
  for (const DirEntry& box : boxes) {
    if (box.is_directory && !box.is_special && !box.unconvertible_name) {
      names.insert(options_.names.Fold(box.name));
    }
  }
  return names;
}

std::string MailboxMigrator::SourceBox(const std::string& user) const {
  return SourceMailbox(options_.source_dir, user);
}

std::string MailboxMigrator::TargetBox(
    const SourceAccount& account, const std::string& primary_domain) const {
  return TargetMailbox(options_.target_mail_dir, account, primary_domain,
                       options_.names, options_.code_page);
}

std::string MailboxMigrator::SharedBoxUser(const SourceAccount& account,
                                           const std::string& target_box) {
  if (target_box.empty()) return std::string();
  auto it = box_users_.find(RecordKey(target_box));
  if (it == box_users_.end() ||
      options_.names.EqualsIgnoringCase(it->second, account.user_name) ||
      !fs_->Exists(SourceBox(account.user_name))) {
    return std::string();
  }
  return it->second;
}

bool MailboxMigrator::MigrateMailbox(const SourceAccount& account,
                                     const std::string& primary_domain,
                                     bool resume, MailboxDone done) {
  const std::string& user = account.user_name;
  std::string target_box = TargetBox(account, primary_domain);
  if (target_box.empty()) {
    LogFailure(texts_.unsafe_mailbox_name + user);
    return false;
  }
  SettleBox(target_box);
  while (in_flight_ >= kMailboxWindow) {
    pool_->WaitForOne();
    log_->Pump();
  }

  // A staging folder an interrupted run left is built anew; the mailbox
  // its mark was just made in needs no second making.
  marks_.MakeStore();
  if (resume && !marks_.TakeOverStaging(target_box)) {
    LogFailure(texts_.mailbox_dir_failed + fs_->DisplayPath(target_box));
    return false;
  }
  bool fresh = marks_.JustCreated(target_box);
  if (!marks_.JustMade(target_box)) {
    const DirMade made = fs_->MakeDir(target_box, nullptr);
    if (made == DirMade::kFailed) {
      LogFailure(texts_.mailbox_dir_failed + fs_->DisplayPath(target_box));
      return false;
    }
    fresh = made == DirMade::kMade;
  }
  auto mailbox = std::make_unique<Mailbox>();
  std::string build_box = target_box;
  if (marks_.JustStaged(target_box)) {
    mailbox->staged = std::make_shared<StagedMailbox>(
        marks_.StagingOf(target_box), target_box);
    build_box = mailbox->staged->staging();
    if (marks_.MarkLeft(target_box)) {
      mailbox->mark = build_box + "\\" + kPendingMark;
    }
  } else if (fresh) {
    Made(target_box, nullptr);
  }
  // A resumed mailbox may hold copies a killed run left unfinished.
  if (resume && !fresh) marks_.RemoveLeftCopies(target_box, options_.names);
  box_users_[RecordKey(target_box)] = user;
  std::string source_box = SourceBox(user);
  if (read_ahead_ != nullptr) read_ahead_->Reached(source_box);
  if (options_.phases != nullptr) options_.phases->PhaseBegin("mail");
  StartEntry(account, target_box, fresh, mailbox.get());
  mailbox->mirror =
      options_.mirror_pass != nullptr && !fresh && mailbox->staged == nullptr;
  mailbox->tally.target_box = target_box;
  mailbox->tally.resume = resume;
  mailbox->tally.wrote = fresh || resume;
  mailbox->done = std::move(done);
  ++unsettled_[target_box];
  ++in_flight_;
  const std::vector<TargetFolder> targets =
      MakeFolders(build_box, fresh, mailbox.get());
  MigrateFolders(source_box, targets, build_box, mailbox.get());
  log_->Add(std::make_unique<MailboxEnd>(this, std::move(mailbox)));
  if (options_.phases != nullptr) options_.phases->PhaseEnd("mail");
  if (own_log_ != nullptr) Finish();
  return true;
}

void MailboxMigrator::Made(const std::string& dir, Mailbox* mailbox) {
  if (mailbox != nullptr) mailbox->tally.wrote = true;
  if (options_.manifest == nullptr) return;
  if (mailbox != nullptr && mailbox->staged != nullptr) {
    mailbox->staged->MadeDirectory(dir);
  } else {
    options_.manifest->Add(DirectoryEntry(dir));
  }
}

std::vector<TargetFolder> MailboxMigrator::MakeFolders(
    const std::string& target_box, bool fresh, Mailbox* mailbox) {
  // A standard folder that cannot be made is tried again, and a failure
  // reported, where it is copied; Spam (no source folder fills it) here.
  std::vector<TargetFolder> targets;
  for (const SourceFolder& folder : StandardFolders(std::string())) {
    TargetFolder target;
    target.path = target_box + "\\" + folder.target;
    target.staged = mailbox->staged;
    targets.push_back(std::move(target));
  }
  const std::string spam = target_box + "\\Spam";
  const std::string spam_failure = copier_->NotMadeLine(
      mailbox->staged != nullptr ? mailbox->staged->Final(spam) : spam);
  if (fresh) {
    // A new mailbox's folders are made by a worker while this thread goes
    // on: making directories is most of what a mailbox of few messages
    // costs this thread.
    std::vector<std::string> dirs;
    for (const TargetFolder& target : targets) dirs.push_back(target.path);
    dirs.push_back(spam);
    if (mailbox->staged == nullptr) MakingAhead(dirs);
    auto maker = std::make_shared<FolderMaker>(
        fs_, std::move(dirs), options_.manifest,
        options_.manifest != nullptr ? mailbox->staged : nullptr,
        mailbox->mark);
    if (!mailbox->mark.empty()) mailbox->marker = maker;
    pool_->Submit([maker] { maker->Make(); });
    for (size_t i = 0; i < targets.size(); ++i) {
      targets[i].made = DirMade::kMade;
      targets[i].maker = maker;
      targets[i].maker_index = i;
    }
    log_->Add(std::make_unique<FolderFailure>(this, mailbox, maker,
                                              targets.size(), spam_failure));
    return targets;
  }
  if (mailbox->staged == nullptr) {
    std::vector<std::string> dirs;
    for (const TargetFolder& target : targets) dirs.push_back(target.path);
    dirs.push_back(spam);
    MakingAhead(dirs);
  }
  if (!mailbox->mark.empty()) {
    // Made here, with no worker to leave it to.
    auto marker = std::make_shared<FolderMaker>(
        fs_, std::vector<std::string>(), nullptr, nullptr, mailbox->mark);
    marker->Make();
    mailbox->marker = marker;
  }
  for (TargetFolder& target : targets) {
    target.made = fs_->MakeDir(target.path, nullptr);
    if (target.made == DirMade::kMade) Made(target.path, mailbox);
  }
  const DirMade spam_made = fs_->MakeDir(spam, nullptr);
  if (spam_made == DirMade::kMade) Made(spam, mailbox);
  if (spam_made == DirMade::kFailed) BoxFailure(mailbox, spam_failure, true);
  return targets;
}

void MailboxMigrator::MigrateFolders(const std::string& source_box,
                                     const std::vector<TargetFolder>& targets,
                                     const std::string& target_box,
                                     Mailbox* mailbox) {
  // Listed ahead of the run, as a rule; else here.
  MailboxListing box;
  const Clock* clock = options_.record != nullptr ? options_.clock : nullptr;
  if (read_ahead_ == nullptr || !read_ahead_->Take(source_box, &box)) {
    box = MailboxListing(fs_, source_box, clock);
  }
  // A mailbox that does not exist is empty. One that exists and could not
  // be (fully) listed may have met a passing error: it is listed once more,
  // and only then is it a line, one for the mailbox; what was found is
  // still copied.
  if (!box.listed && fs_->Exists(source_box)) {
    box = MailboxListing(fs_, source_box, clock);
    if (!box.listed) {
      BoxFailure(mailbox,
                 texts_.folder_indent + texts_.folder_unlistable +
                     fs_->DisplayPath(source_box),
                 true);
    }
  }
  // A mailbox that does not exist has nothing to record: it is listed
  // until it does.
  mailbox->listed = box.listed;
  mailbox->seen = box.seen;
  mailbox->entry.entries = box.entries.size();
  if (!mailbox->record_key.empty()) {
    mailbox->entry.source_listing = ListingDigest(box.entries);
  }
  if (mailbox->mirror) Mirror(source_box, target_box, box, mailbox);
  const std::vector<SourceFolder> folders = StandardFolders(source_box);
  for (size_t i = 0; i < folders.size(); ++i) {
    TargetFolder target = targets[i];
    Mirrored(folders[i].target, texts_.standard_done[i], mailbox, &target);
    copier_->Copy(folders[i], texts_.standard_in_progress[i],
                  texts_.standard_done[i], true, target, box, &mailbox->tally);
  }
  MigrateUserFolders(source_box, target_box, box, mailbox);
  MirrorGoneFolders(mailbox);
}

void MailboxMigrator::MigrateUserFolders(const std::string& source_box,
                                         const std::string& target_box,
                                         const MailboxListing& box,
                                         Mailbox* mailbox) {
  std::string list_path = FolderListPath(source_box);
  if (!box.Holds(fs_, list_path, options_.names)) return;
  std::string text;
  if (!box.ReadFile(fs_, list_path, &text)) {
    // The user-made folders cannot be known: say so rather than leave
    // their mail behind unmentioned.
    BoxFailure(mailbox,
               texts_.folder_indent + texts_.folder_list_unreadable +
                   fs_->DisplayPath(list_path),
               true);
    return;
  }

  // Every directory is made before any folder is copied (a failure is
  // reported where the folder is copied, which makes it again). The folder
  // number is the line number, so a refused line still uses up its number.
  const std::vector<std::string> names = FolderListNames(text);
  std::vector<DirMade> made(names.size(), DirMade::kFailed);
  if (mailbox->staged == nullptr) {
    std::vector<std::string> dirs;
    for (const std::string& name : names) {
      if (IsSafeDirectoryName(name, options_.names)) {
        dirs.push_back(target_box + "\\" + name);
      }
    }
    MakingAhead(dirs);
  }
  for (size_t i = 0; i < names.size(); ++i) {
    if (IsSafeDirectoryName(names[i], options_.names)) {
      made[i] = fs_->MakeDir(target_box + "\\" + names[i], nullptr);
      if (made[i] == DirMade::kMade) {
        Made(target_box + "\\" + names[i], mailbox);
      }
    }
  }

  const std::string& indent = texts_.folder_indent;
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    const SourceFolder folder = UserFolder(source_box, i, name);
    if (!IsSafeDirectoryName(name, options_.names)) {
      RefuseFolder(folder, box, mailbox);
      continue;
    }
    if (!mailbox->record_key.empty()) {
      mailbox->entry.targets.push_back({name, {}, false, {}, 0});
    }
    TargetFolder target;
    target.path = target_box + "\\" + name;
    target.made = made[i];
    target.staged = mailbox->staged;
    Mirrored(name, indent + name + texts_.user_folder_done, mailbox, &target);
    copier_->Copy(folder, indent + name + texts_.user_folder_in_progress,
                  indent + name + texts_.user_folder_done, false, target, box,
                  &mailbox->tally);
  }
}

void MailboxMigrator::RefuseFolder(const SourceFolder& folder,
                                   const MailboxListing& box,
                                   Mailbox* mailbox) {
  // Its messages are counted, each as a failed copy, so that the folder
  // and its mail are in the reports like any other.
  FolderCounts counts;
  counts.name = folder.target;
  for (const DirEntry& entry : box.FilesOf(folder, options_.names)) {
    if (entry.is_directory) continue;
    ++counts.messages;
    counts.bytes += entry.size;
  }
  counts.failed = counts.messages;
  // A blank line names no folder; it matters only when messages carry its
  // number.
  if (folder.target.empty() && box.listed && counts.messages == 0) return;
  // No later run could do better: the mark may go.
  BoxFailure(mailbox,
             texts_.folder_indent + texts_.unsafe_folder_name + folder.target,
             false);
  log_->Then([this, counts, mailbox] {
    observer_->OnFolder(counts);
    stats_->failed_copies += static_cast<int32_t>(counts.failed);
    mailbox->tally.failed_copies += static_cast<int>(counts.failed);
  });
}

}  // namespace vm
