#ifndef VM_MIGRATE_MAILBOX_MIGRATOR_H_
#define VM_MIGRATE_MAILBOX_MIGRATOR_H_

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "migrate/folder_copy.h"
#include "migrate/migration_run.h"
#include "migrate/ordered_log.h"
#include "migrate/pending_marks.h"
#include "migrate/read_ahead.h"
#include "migrate/run_observer.h"
#include "migrate/source_lists.h"
#include "migrate/sync_record.h"
#include "migrate/worker_pool.h"
#include "platform/file_system.h"
#include "util/name_ops.h"

namespace vm {

class ManifestWriter;
class MirrorPass;

class Clock;
class CodePage;
class FileSystem;
class RunHost;
struct Texts;

// Copies one account's mail from the source mail store into a new target
// mailbox: the four standard folders, then the user-made folders listed in
// Folders.ini, each message file under its target name (sized when the
// folder's index sets its size flag). Reports each folder in the result list
// and counts every message it migrated in stats->mail_count: not a failed
// copy, nor with sync one its mailbox held already.
//
// Unlike a plain copy loop it never lets a name from the source leave the
// target mail store (such a folder, user or message is refused with a
// result-list line), copies only regular files, never writes through a
// symbolic link in the target mailbox, and a copy that fails for any reason
// other than an existing target file is named in the result list and
// counted in stats->failed_copies.
//
// Each message has one file in the target, under its plain or a sized name
// (see TargetFolderFiles). A message whose file is there with its size is
// left as it is; one whose file is there with another size (it changed, or
// another source put a message of that name there) is not overwritten and
// is a failure line, unless the mailbox is resumed and the file is the start
// of the message: a copy an earlier run left cut short, which is replaced.
//
// Messages are copied by a pool of worker threads. Folders are listed and
// their indexes read on the calling thread, which goes on with the next
// folders (and, given a shared OrderedLog, the next accounts) while copies
// are running; the result list still receives exactly the lines of a run
// that copied one message at a time, in the same order, each folder's done
// line once its last copy has finished.
//
// Its parts: the source layout is source_mailbox.h, the target names
// message_names.h, one folder's copies folder_copy.h, the pending marks and
// the flush that lets them go pending_marks.h.
class MailboxMigrator {
 public:
  // Told how a mailbox ended: its failed copies, and its first failure line
  // that is no failed copy (without its indent; empty when none).
  using MailboxDone =
      std::function<void(int failed_copies, const std::string& failure)>;

  struct Options {
    std::string source_dir;           // source installation, mail under "\mail"
    std::string target_mail_dir;      // target mail store
    NameOps names;                    // the run's code page
    PhaseObserver* phases = nullptr;  // told of each mailbox as "mail"
    RunObserver* observer = nullptr;  // told each folder's counts
    // The run's code page; a user name it cannot hold is refused like an
    // unsafe one (its mailbox could not be found). May be null.
    const CodePage* code_page = nullptr;
    // The account step also visits existing accounts, whose mailboxes get
    // the messages they lack; mail_count counts only those.
    bool sync = false;
    // With sync: also take out of existing mailboxes what the source no
    // longer has (deleted or moved), through `mirror_pass`.
    bool mirror = false;
    MirrorPass* mirror_pass = nullptr;
    int jobs = 4;  // message copies in flight at once
    // The log the account step writes through as well; the migrator then
    // returns from MigrateMailbox before the mailbox's copies have finished
    // and the caller calls Finish at the end of the step. Without one, each
    // MigrateMailbox finishes its mailbox before it returns.
    OrderedLog* log = nullptr;
    // Told each directory the migrator makes and each message file it
    // creates (for an undo of the run); may be null.
    ManifestWriter* manifest = nullptr;
    // Told what each mailbox looked like on both sides when the migrator
    // listed it and finished with it without a failure, and asked by
    // Unchanged; the clock times the source's statuses. Null: no record.
    SyncRecord* record = nullptr;
    const Clock* clock = nullptr;
    // With a record: the source mailbox folders (folded names) where a
    // watch's notices told changes since its last pass. A mailbox not among
    // them is as the record has it, when the record holds it with the
    // account's line of the lists: Unchanged then looks at nothing on disk.
    // Null: every mailbox is looked at.
    const std::set<std::string>* named_boxes = nullptr;
  };

  MailboxMigrator(FileSystem* fs, RunHost* host, const Texts& texts,
                  Options options, MigrationStats* stats);
  ~MailboxMigrator();
  MailboxMigrator(const MailboxMigrator&) = delete;
  MailboxMigrator& operator=(const MailboxMigrator&) = delete;

  // Migrates the mailbox of `account`. Its target directory is the part of
  // the user name before any "@", followed by "@" + its domain unless the
  // domain is `primary_domain` ignoring case, as the user store decides
  // that the account is one of the primary domain. Returns false when the
  // account was refused for an unsafe name or its mailbox directory cannot
  // be made (a symbolic link is none): the failure is logged.
  //
  // With `resume` the mailbox is one an interrupted run left unfinished: a
  // message file already in the target that differs from its source (a
  // copy cut short) is copied again. The pending mark is removed once every
  // message has been copied (or was there already) and flushed to disk.
  //
  // `done`, when given, is told how the mailbox ended once its lines have
  // been written, at the point of the result list (and of the run) where a
  // run one message at a time would be.
  bool MigrateMailbox(const SourceAccount& account,
                      const std::string& primary_domain, bool resume = false,
                      MailboxDone done = nullptr);

  // Starts reading the source mailboxes of `accounts` a few accounts ahead
  // of the run; they are the accounts MigrateMailbox will be called for, in
  // that order (an account left out or skipped costs nothing but a read).
  void ReadAheadOf(const std::vector<const SourceAccount*>& accounts,
                   const std::string& primary_domain);

  // Waits for every copy, writes every line still held back, flushes what
  // was copied and removes the pending marks of the mailboxes that are
  // complete. Counters and failure_lines() are final after it.
  void Finish();

  // The pending mark: an empty file kPendingMark in the account's target
  // mailbox, made before the account is added to the user list and removed
  // when its mail has been copied. An account that is in the user list
  // and still has the mark was interrupted and is resumed by the next run.
  // MarkPending returns false when the mark could not be written; for a
  // name MigrateMailbox refuses there is nothing to mark and it returns
  // true. For a mailbox whose copies are still running, these first wait
  // for them, so they see what a run one account at a time would see. A
  // mark made for a sync of an existing account says so, and IsPending
  // tells it in *sync (when non-null).
  bool MarkPending(const SourceAccount& account,
                   const std::string& primary_domain, bool sync = false);
  // MarkPending for an account about to be added: its mailbox, when it
  // does not exist, is first recorded in the manifest as about to be made
  // (it, or its staging folder, appears at once).
  bool MarkNew(const SourceAccount& account, const std::string& primary_domain);
  bool IsPending(const SourceAccount& account,
                 const std::string& primary_domain, bool* sync = nullptr);
  void ClearPending(const SourceAccount& account,
                    const std::string& primary_domain);

  static constexpr const char* kPendingMark = PendingMarks::kFileName;

  // Failure lines written so far (refused names and failed copies).
  int failure_lines() const {
    return failure_lines_ + copier_->failure_lines();
  }

  bool sync() const { return options_.sync; }

  // Whether a sync may leave the mailbox of the existing `account` unlisted:
  // the record shows both its sides, and its line of the lists, as they are
  // now, and it is not pending (see vm::Unchanged; IsPending's staging
  // folder is looked for in one listing of the store for all mailboxes).
  // `judgement` is told what it found. False without a record. For the
  // decisions taken before the mailboxes are begun; several threads may
  // ask at once.
  bool Unchanged(const SourceAccount& account,
                 const std::string& primary_domain, Judgement* judgement);
  // A mailbox a sync left unlisted (Unchanged) is the one `account`'s mail
  // went into, as MigrateMailbox would note: SharedBoxUser then keeps
  // another account's mail out of it. `confirmed` (when not null) is its
  // entry with the doubtful folders Unchanged found as recorded trusted.
  // `target_box` is its TargetBox.
  void LeftUnchanged(const SourceAccount& account,
                     const std::string& target_box,
                     std::unique_ptr<SyncEntry> confirmed);

  // The target mailbox directory of `account`; empty when a name is unsafe
  // or not one of the code page.
  std::string TargetBox(const SourceAccount& account,
                        const std::string& primary_domain) const;

  // The user whose mail this run migrated into the target mailbox of
  // `account` when that is another source account (its source mailbox is
  // another), and `account` has a source mailbox of its own, whose mail
  // would be mixed into it; else empty. `target_box` is its TargetBox.
  std::string SharedBoxUser(const SourceAccount& account,
                            const std::string& target_box);

  // The key of a target mailbox (under the store) in the sync record and
  // in box_users_.
  std::string RecordKey(const std::string& target_box) const;

 private:
  struct Mailbox;
  class MailboxEnd;
  class FolderFailure;

  std::string SourceBox(const std::string& user) const;
  // The folded names of the mailboxes the target's store holds.
  std::unordered_set<std::string> StoredBoxes() const;
  // Whether a watch's notices named no folder of the mailbox of `user` since
  // the last pass (options named_boxes): the notices then stand for the
  // look, and the mailbox is left as the record has it. A folder of the
  // mailbox is a part deeper, so a user name with a separator is named.
  bool NamedByNoNotice(const std::string& user) const;
  // Starts the record entry of a mailbox about to be listed (its entry
  // goes until the run has finished with it): its names, its lists digest
  // (a mirror's when the run made the mailbox, `fresh` or staged), and its
  // standard folders and Spam. Nothing without a record.
  void StartEntry(const SourceAccount& account, const std::string& target_box,
                  bool fresh, Mailbox* mailbox);
  // Puts a directory this run made into the manifest, when there is one,
  // and tells `mailbox` (when non-null) that it was written to.
  void Made(const std::string& dir, Mailbox* mailbox);
  // Records in the manifest, ahead, the folders of `dirs` that do not
  // exist: they are about to be made where the server sees them.
  void MakingAhead(const std::vector<std::string>& dirs);
  // Records in the manifest, ahead, the pending mark about to be made in
  // `target_box` when the mailbox exists.
  void MarkAhead(const std::string& target_box);
  // Makes the target folders of a mailbox: the standard ones and Spam, on
  // a worker when the mailbox is `fresh` (just made). Spam that cannot be
  // made is a failure line. Returns the standard folders.
  std::vector<TargetFolder> MakeFolders(const std::string& target_box,
                                        bool fresh, Mailbox* mailbox);
  void MigrateFolders(const std::string& source_box,
                      const std::vector<TargetFolder>& targets,
                      const std::string& target_box, Mailbox* mailbox);
  void MigrateUserFolders(const std::string& source_box,
                          const std::string& target_box,
                          const MailboxListing& box, Mailbox* mailbox);
  // The mirror of an existing mailbox (mirror_pass.h): takes out what
  // its source no longer has, before its folders are copied; each folder's
  // lines go with its done line (Mirrored), those of folders gone from the
  // source after the mailbox's folders (MirrorGoneFolders).
  void Mirror(const std::string& source_box, const std::string& target_box,
              const MailboxListing& box, Mailbox* mailbox);
  void Mirrored(const std::string& name, const std::string& display,
                Mailbox* mailbox, TargetFolder* target);
  void MirrorGoneFolders(Mailbox* mailbox);
  // A user folder whose name is refused: its line, and its messages
  // counted as not migrated.
  void RefuseFolder(const SourceFolder& folder, const MailboxListing& box,
                    Mailbox* mailbox);
  // A failure line of the mailbox that is no failed copy: it becomes the
  // mailbox's failure, and with `retry` keeps its pending mark.
  void BoxFailure(Mailbox* mailbox, const std::string& line, bool retry);
  void ReleaseMailbox(Mailbox* mailbox, RunHost* host);
  // Publishes a mailbox built under its staging name, once its mark is
  // written, or merges it into the mailbox folder that appeared meanwhile.
  void Publish(Mailbox* mailbox, RunHost* host);
  // Starts flushing the copies of the complete mailboxes, after which their
  // marks are removed, on a thread of its own.
  void FlushFinished(RunHost* host);
  // Waits for the flush that is running and writes its outcome.
  void CollectFlush(RunHost* host);
  // Finishes all work when `target_box` still has some.
  void SettleBox(const std::string& target_box);
  void LogFailure(const std::string& line);

  FileSystem* fs_;
  const Texts& texts_;
  Options options_;
  MigrationStats* stats_;
  std::unique_ptr<OrderedLog> own_log_;
  OrderedLog* log_;
  std::unique_ptr<WorkerPool> pool_;
  std::unique_ptr<ReadAhead> read_ahead_;
  RunObserver null_observer_;
  RunObserver* observer_;
  std::unique_ptr<FolderCopier> copier_;
  PendingMarks marks_;
  // Mailboxes with copies running or lines held, by target box.
  std::unordered_map<std::string, int> unsettled_;
  // The source user whose mail went into each target mailbox this run, by
  // the box's key (RecordKey: folded, below the store, which keeps the
  // keys of a run of many accounts short).
  std::unordered_map<std::string, std::string> box_users_;
  int failure_lines_ = 0;
  // Mailboxes begun whose end is not released yet.
  size_t in_flight_ = 0;
};
}  // namespace vm

#endif  // VM_MIGRATE_MAILBOX_MIGRATOR_H_
