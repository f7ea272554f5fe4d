#ifndef VM_MIGRATE_MAILBOX_MIGRATOR_H_
#define VM_MIGRATE_MAILBOX_MIGRATOR_H_

#include <string>
#include <vector>

#include "migrate/migration_run.h"
#include "migrate/source_lists.h"

namespace vm {

class FileSystem;
class RunHost;
struct Texts;

// Copies one account's mail from the source mail store into a new target
// mailbox: the four standard folders, then the user-made folders listed in
// Folders.ini, each message file under its target name (sized when the
// folder's index sets its size flag). Reports each folder in the result list
// and counts every message whose copy it attempted in stats->mail_count.
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
  };

  MailboxMigrator(FileSystem* fs, RunHost* host, const Texts& texts,
                  Options options, MigrationStats* stats);

  // Migrates the mailbox of `account`. Its target directory is the part of
  // the user name before any "@", followed by "@" + its domain unless the
  // domain is exactly `primary_domain`. Returns false only when the account
  // was refused for an unsafe name (the refusal is logged).
  bool MigrateMailbox(const SourceAccount& account,
                      const std::string& primary_domain);

  // Failure lines written so far (refused names and failed copies).
  int failure_lines() const { return failure_lines_; }

 private:
  void MigrateFolders(const std::string& source_box,
                      const std::string& target_box);
  void MigrateUserFolders(const std::string& source_box,
                          const std::string& target_box);
  // Copies the files matching `pattern` into `target_folder`; returns how
  // many it attempted. Failed copies are added to failed_paths_.
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
  std::vector<std::string> failed_paths_;  // of the folder being copied
  int failure_lines_ = 0;
};

}  // namespace vm

#endif  // VM_MIGRATE_MAILBOX_MIGRATOR_H_
