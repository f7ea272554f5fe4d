#ifndef VM_MIGRATE_MAILBOX_MIGRATOR_H_
#define VM_MIGRATE_MAILBOX_MIGRATOR_H_

#include <string>
#include <vector>

#include "migrate/migration_run.h"
#include "migrate/run_observer.h"
#include "migrate/source_lists.h"
#include "platform/file_system.h"

namespace vm {

class FileSystem;
class RunHost;
struct Texts;

// Copies one account's mail from the source mail store into a new target
// mailbox: the four standard folders, then the user-made folders listed in
// Folders.ini, each message file under its target name (sized when the
// folder's index sets its size flag). Reports each folder in the result list
// and counts every message whose copy it attempted in stats->mail_count
// (with sync, only those its mailbox did not hold already).
//
// Unlike a plain copy loop it never lets a name from the source leave the
// target mail store (such a folder or user is refused with a result-list
// line), and a copy that fails for any reason other than an existing target
// file is named in the result list and counted in stats->failed_copies.
class MailboxMigrator {
 public:
  struct Options {
    std::string source_dir;           // source installation, mail under "\mail"
    std::string target_mail_dir;      // target mail store
    bool double_byte_names = true;    // names are GBK (see IsSafeDirectoryName)
    PhaseObserver* phases = nullptr;  // told of each mailbox as "mail"
    RunObserver* observer = nullptr;  // told each folder's counts
    // Copy a message only when neither its plain nor its sized target name
    // exists, so a mailbox migrated earlier gets only its new mail; never
    // overwrite. The account step then also visits existing accounts.
    bool sync = false;
  };

  MailboxMigrator(FileSystem* fs, RunHost* host, const Texts& texts,
                  Options options, MigrationStats* stats);

  // Migrates the mailbox of `account`. Its target directory is the part of
  // the user name before any "@", followed by "@" + its domain unless the
  // domain is exactly `primary_domain`. Returns false only when the account
  // was refused for an unsafe name (the refusal is logged).
  //
  // With `resume` the mailbox is one an interrupted run left unfinished: a
  // message file already in the target that differs from its source (a
  // copy cut short) is copied again. The pending mark is removed once every
  // message has been copied (or was there already).
  bool MigrateMailbox(const SourceAccount& account,
                      const std::string& primary_domain, bool resume = false);

  // The pending mark: an empty file kPendingMark in the account's target
  // mailbox, made before the account is added to the user list and removed
  // when its mail has been copied. An account that is in the user list
  // and still has the mark was interrupted and is resumed by the next run.
  // MarkPending returns false when the mark could not be written; for a
  // name MigrateMailbox refuses there is nothing to mark and it returns
  // true.
  bool MarkPending(const SourceAccount& account,
                   const std::string& primary_domain);
  bool IsPending(const SourceAccount& account,
                 const std::string& primary_domain);
  void ClearPending(const SourceAccount& account,
                    const std::string& primary_domain);

  static constexpr const char* kPendingMark = "velquor-migrate.pending";

  // Failure lines written so far (refused names and failed copies).
  int failure_lines() const { return failure_lines_; }

  bool sync() const { return options_.sync; }

  // The target mailbox directory of `account`; empty when a name is unsafe.
  std::string TargetBox(const SourceAccount& account,
                        const std::string& primary_domain) const;

 private:
  void MigrateFolders(const std::string& source_box,
                      const std::string& target_box);
  void MigrateUserFolders(const std::string& source_box,
                          const std::string& target_box);
  // Copies the files matching `pattern` into `target_folder`; returns how
  // many it attempted. Failed copies are added to failed_paths_.
  // Copies one message; with resume_ a differing existing target is
  // replaced. Returns the result of the last copy attempt.
  CopyResult CopyMessage(const std::string& from, const std::string& to,
                         std::string* error);
  int CopyFolderMessages(const std::string& index_path,
                         const std::string& pattern,
                         const std::string& target_folder);
  // Logs the done line in place of the in-progress line, then one line per
  // failed copy of the folder.
  void FinishFolder(const std::string& done_line);
  void LogFailure(const std::string& line);

  FileSystem* fs_;
  RunHost* host_;
  const Texts& texts_;
  Options options_;
  MigrationStats* stats_;
  bool resume_ = false;
  std::vector<std::string> failed_paths_;  // of the folder being copied
  std::string unreadable_index_;           // of the folder being copied, if any
  FolderCounts folder_;                    // of the folder being copied
  RunObserver null_observer_;
  RunObserver* observer_;
  int failure_lines_ = 0;
};

}  // namespace vm

#endif  // VM_MIGRATE_MAILBOX_MIGRATOR_H_
