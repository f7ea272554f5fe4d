#ifndef VM_MIGRATE_MIGRATION_RUN_H_
#define VM_MIGRATE_MIGRATION_RUN_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "migrate/source_lists.h"
#include "platform/file_identity.h"

namespace vm {

class CodePage;
class FileSystem;
class ManifestWriter;
class MirrorPass;
class RecordedAccounts;
class RunHost;
class RunObserver;
class StopRequest;
class SyncRecord;
struct TargetContext;
struct Texts;

// The counters of the last run. Each step resets its own counters when it
// starts; a run that stops while loading leaves them as they were.
struct MigrationStats {
  int32_t domain_count = 0;     // domains added (and saved)
  int32_t user_count = 0;       // accounts added (and saved) or finished
  int32_t mail_count = 0;       // message files this run copied
  int32_t failed_copies = 0;    // copies that failed
  int32_t already_present = 0;  // messages the target held already
  // Without sync: accounts the target held already whose source has mail
  // the target lacks, and those messages. Mail left behind: the run is no
  // success.
  int32_t behind_accounts = 0;
  int64_t behind_mail = 0;
  // A sync: the mailboxes of existing accounts it listed, those it left
  // unlisted for the record showed them unchanged, and their folders.
  int32_t listed_boxes = 0;
  int32_t unchanged_boxes = 0;
  int32_t unchanged_folders = 0;
  // A mirror pass: passwords that followed the source, passwords left as
  // they were because the target's item changed since the tool wrote it,
  // and the accounts and domains the tool added that the source lists no
  // longer name (told, never removed).
  int32_t passwords_followed = 0;
  int32_t passwords_kept = 0;
  int32_t gone_accounts = 0;
  int32_t gone_domains = 0;
};

// Receives the start and end of each phase, for the optional timing
// report of the console front end. Phases: "domains", "users", "mail".
class PhaseObserver {
 public:
  virtual ~PhaseObserver() = default;
  virtual void PhaseBegin(const char* phase) = 0;
  virtual void PhaseEnd(const char* phase) = 0;
};

// What a run checks of the mailboxes it copied into.
enum class VerifyMode { kNone, kSize, kContent };

// The fixed state of the application that a run reads.
struct RunSettings {
  std::string source_dir;       // no trailing backslash
  std::string target_mail_dir;  // no trailing backslash
  bool target_installed = true;
  // Existing accounts get the messages they lack (see
  // MailboxMigrator::Options::sync).
  bool sync = false;
  // With sync: a mirror pass, after which the target matches the source
  // (see FollowSource for the accounts).
  bool mirror = false;
  // After the account step, check every mailbox the run copied into by
  // size or by content. With verify_only the steps are left out and every
  // source account the target holds is checked; nothing is written.
  VerifyMode verify = VerifyMode::kNone;
  bool verify_only = false;
  PasswordOptions passwords;  // how the migrated accounts' passwords are made
  // The ANSI code page, for source lists saved as UTF-8; may be null.
  const CodePage* code_page = nullptr;
  int jobs = 4;  // message copies in flight at once
  // Threads that judge, in a sync, which accounts the record lets it leave
  // unlisted (a watch's later passes take one: see RunSession::Watch).
  int judges = 8;
  // Writes nothing (a dry run or a verification): the summary and the end
  // message speak of a plan, never of mail migrated.
  bool preview = false;
  // When requested, the run ends after the account it is at (see
  // StopRequest); a verification stops after the mailbox it checks. May be
  // null.
  const StopRequest* stop = nullptr;
  // A writing run records into it what it adds (see ManifestWriter); a
  // manifest that cannot be written is a failure line. May be null.
  ManifestWriter* manifest = nullptr;
  // What earlier runs saw of each mailbox: told what this run sees, and
  // asked by a sync which mailboxes it may leave unlisted. May be null.
  SyncRecord* sync_record = nullptr;
  // When set, returns once sync_record may be asked: the run calls it
  // before it first does.
  std::function<void()> sync_record_ready;
  // When set, what the head of the record file says of the user list
  // (SyncRecord::users()), read at once, while the whole is still being
  // read: a sync that will need the list starts reading it meanwhile.
  std::function<std::optional<EntryStatus>()> sync_record_users;
  // A watch's pass between two full ones: the source mailbox folders, by
  // folded name, in which its notices told changes since the pass before
  // (see MailboxMigrator::Options::named_boxes). Null: every mailbox is
  // looked at.
  const std::set<std::string>* named_boxes = nullptr;
  // With mirror: the pass that takes out of existing mailboxes what their
  // source no longer has (see MailboxMigrator::Options::mirror).
  MirrorPass* mirror_pass = nullptr;
  // With mirror: what the target's manifests say the tool wrote into its
  // configuration files; null: read from the manifests by the run.
  const RecordedAccounts* mirror_accounts = nullptr;
};

// How a run ended, for the console's exit status.
struct RunOutcome {
  bool loaded = false;     // the source lists were read
  bool succeeded = false;  // the success message was shown
  int failure_lines = 0;   // failure lines written into the result list
  bool stopped = false;    // a stop request left accounts or checks undone
};

// One whole migration: loads the source lists, migrates the domains, then
// the accounts with their mailboxes, verifies when asked, logs the banners
// and the summary (followed by the number of accounts left out for a domain
// the target does not hold, when there are any), and shows the success
// message when both steps succeeded and nothing failed. A run ended by
// settings.stop logs how many accounts it left and that a new run
// continues it, and shows no success message. `target` carries
// the file system, clock, target directory and PrimaryDomain the stores
// use; `stats` receives the counters. `phases` and `observer` may be null.
RunOutcome MigrationRun(RunHost* host, const Texts& texts,
                        const RunSettings& settings, TargetContext* target,
                        MigrationStats* stats, PhaseObserver* phases = nullptr,
                        RunObserver* observer = nullptr);

}  // namespace vm

#endif  // VM_MIGRATE_MIGRATION_RUN_H_
