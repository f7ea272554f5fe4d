#include "migrate/migration_run.h"

#include <memory>
#include <thread>

#include "config/config_lock.h"
#include "config/domain_store.h"
#include "config/target_context.h"
#include "config/user_store.h"
#include "migrate/account_import.h"
#include "migrate/domain_import.h"
#include "migrate/mailbox_migrator.h"
#include "migrate/mailbox_verifier.h"
#include "migrate/ordered_log.h"
#include "migrate/run_host.h"
#include "migrate/run_manifest.h"
#include "migrate/run_observer.h"
#include "migrate/source_lists.h"
#include "migrate/source_mailbox.h"
#include "migrate/source_scan.h"
#include "migrate/stop_request.h"
#include "migrate/texts.h"
#include "platform/file_system.h"

namespace vm {

namespace {

class PhaseScope {
 public:
  PhaseScope(PhaseObserver* observer, const char* phase)
      : observer_(observer), phase_(phase) {
    if (observer_ != nullptr) observer_->PhaseBegin(phase_);
  }
  ~PhaseScope() {
    if (observer_ != nullptr) observer_->PhaseEnd(phase_);
  }
  PhaseScope(const PhaseScope&) = delete;
  PhaseScope& operator=(const PhaseScope&) = delete;

 private:
  PhaseObserver* observer_;
  const char* phase_;
};

// Passes every call on and keeps what the run itself needs: the mailboxes
// it copied into, and the accounts left out for their domain.
class RunTally : public RunObserver {
 public:
  struct Mailbox {
    std::string user, domain, box;
    // Why it cannot be checked (a failure line), when it cannot.
    std::string problem;
  };

  explicit RunTally(RunObserver* next)
      : next_(next != nullptr ? next : &null_observer_) {}

  void OnSourceLoaded(const SourceDomainList& domains) override {
    next_->OnSourceLoaded(domains);
  }
  void OnDomain(const std::string& name, DomainOutcome outcome) override {
    next_->OnDomain(name, outcome);
  }
  void OnAccountBegin(const std::string& user, const std::string& domain,
                      const std::string& box) override {
    visited.push_back({user, domain, box, ""});
    next_->OnAccountBegin(user, domain, box);
  }
  void OnFolder(const FolderCounts& counts) override {
    next_->OnFolder(counts);
  }
  void OnMessage(uint64_t bytes, bool copied) override {
    next_->OnMessage(bytes, copied);
  }
  void OnAccountEnd(const std::string& user, const std::string& domain,
                    AccountOutcome outcome, const std::string& reason,
                    const std::string& box) override {
    if (outcome == AccountOutcome::kSkippedNoDomainLine ||
        outcome == AccountOutcome::kSkippedAliasDomain) {
      left_out.push_back({user, domain, outcome});
    }
    if (outcome == AccountOutcome::kUnfinished) ++stopped;
    next_->OnAccountEnd(user, domain, outcome, reason, box);
  }
  void OnDomainSaveFailed(const std::string& name,
                          const std::string& reason) override {
    next_->OnDomainSaveFailed(name, reason);
  }
  void OnAccountSaveFailed(const std::string& user, const std::string& domain,
                           const std::string& reason) override {
    next_->OnAccountSaveFailed(user, domain, reason);
  }
  void OnAccountAddedByOther(const std::string& user, const std::string& domain,
                             const std::string& reason) override {
    next_->OnAccountAddedByOther(user, domain, reason);
  }
  void OnVerifyAccount(const std::string& user,
                       const std::string& domain) override {
    next_->OnVerifyAccount(user, domain);
  }
  void OnVerified(const std::string& user, const std::string& domain,
                  const std::string& folder, int64_t checked, int64_t missing,
                  int64_t different) override {
    next_->OnVerified(user, domain, folder, checked, missing, different);
  }

  struct LeftOut {
    std::string user, domain;
    AccountOutcome outcome;
  };

  std::vector<Mailbox> visited;
  std::vector<LeftOut> left_out;  // accounts the steps never reach
  int stopped = 0;  // accounts a stop request left for the next run

 private:
  RunObserver null_observer_;
  RunObserver* next_;
};

// Passes the account step's observer calls on in the order of its result
// lines, behind the folders of earlier accounts whose copies are running.
// Messages are counted as they are copied.
class OrderedRunObserver : public RunObserver {
 public:
  OrderedRunObserver(RunObserver* observer, OrderedLog* log)
      : observer_(observer), log_(log) {}

  void OnSourceLoaded(const SourceDomainList& domains) override {
    log_->Then([&domains, this] { observer_->OnSourceLoaded(domains); });
  }
  void OnDomain(const std::string& name, DomainOutcome outcome) override {
    log_->Then([=, this] { observer_->OnDomain(name, outcome); });
  }
  void OnAccountBegin(const std::string& user, const std::string& domain,
                      const std::string& target_box) override {
    log_->Then(
        [=, this] { observer_->OnAccountBegin(user, domain, target_box); });
  }
  void OnFolder(const FolderCounts& counts) override {
    log_->Then([=, this] { observer_->OnFolder(counts); });
  }
  void OnMessage(uint64_t bytes, bool copied) override {
    observer_->OnMessage(bytes, copied);
  }
  void OnAccountEnd(const std::string& user, const std::string& domain,
                    AccountOutcome outcome, const std::string& reason,
                    const std::string& target_box) override {
    log_->Then([=, this] {
      observer_->OnAccountEnd(user, domain, outcome, reason, target_box);
    });
  }
  void OnDomainSaveFailed(const std::string& name,
                          const std::string& reason) override {
    log_->Then([=, this] { observer_->OnDomainSaveFailed(name, reason); });
  }
  void OnAccountSaveFailed(const std::string& user, const std::string& domain,
                           const std::string& reason) override {
    log_->Then(
        [=, this] { observer_->OnAccountSaveFailed(user, domain, reason); });
  }
  void OnAccountAddedByOther(const std::string& user, const std::string& domain,
                             const std::string& reason) override {
    log_->Then(
        [=, this] { observer_->OnAccountAddedByOther(user, domain, reason); });
  }
  void OnVerifyAccount(const std::string& user,
                       const std::string& domain) override {
    log_->Then([=, this] { observer_->OnVerifyAccount(user, domain); });
  }
  void OnVerified(const std::string& user, const std::string& domain,
                  const std::string& folder, int64_t checked, int64_t missing,
                  int64_t different) override {
    log_->Then([=, this] {
      observer_->OnVerified(user, domain, folder, checked, missing, different);
    });
  }

 private:
  RunObserver* observer_;
  OrderedLog* log_;
};

// Tells the user, through the host, when another program keeps a
// configuration file's lock; the target's listener while it lives. The
// run's thread speaks through `log` (the account step's ordered log, which
// puts the notice after the lines of the work still in flight); another
// thread, saving as the program is ended, through the host itself.
class LockNotices : public LockWaitListener {
 public:
  LockNotices(RunHost* host, const Texts& texts, TargetContext* target)
      : host_(host),
        log_(host),
        texts_(texts),
        target_(target),
        previous_(target->lock_waits),
        run_thread_(std::this_thread::get_id()) {
    target_->lock_waits = this;
  }
  ~LockNotices() override { target_->lock_waits = previous_; }

  void set_log(RunHost* log) { log_ = log; }

  void LockWaiting(const std::string& file_name,
                   const std::string& where) override {
    Say(texts_.lock_waiting + file_name + " (" + where + ")");
  }
  void LockGivenUp(const std::string& file_name,
                   const std::string& where) override {
    Say(texts_.lock_given_up + file_name + " (" + where + ")");
  }

 private:
  void Say(const std::string& text) {
    (std::this_thread::get_id() == run_thread_ ? log_ : host_)
        ->ShowMessage(MessageKind::kNotice, text);
  }

  RunHost* host_;
  RunHost* log_;
  const Texts& texts_;
  TargetContext* target_;
  LockWaitListener* previous_;
  std::thread::id run_thread_;
};

std::string DisplayName(const std::string& user, const std::string& domain) {
  return user.find('@') == std::string::npos ? user + "@" + domain : user;
}

// One failure line per account the run leaves out: the steps never reach
// it, so without the line it would be missing in silence. Returns the
// lines.
int ReportLeftOut(RunHost* host, const Texts& texts, const RunTally& tally) {
  for (const RunTally::LeftOut& account : tally.left_out) {
    host->AppendLogLine((account.outcome == AccountOutcome::kSkippedNoDomainLine
                             ? texts.left_out_no_domain_line
                             : texts.left_out_alias_domain) +
                        DisplayName(account.user, account.domain));
    host->SelectLastLine();
  }
  return static_cast<int>(tally.left_out.size());
}

bool StopRequested(const RunSettings& settings) {
  return settings.stop != nullptr && settings.stop->requested();
}

std::string ProblemLine(const VerifyProblem& problem, const Texts& texts,
                        FileSystem* fs) {
  switch (problem.kind) {
    case VerifyProblem::kMissing:
    case VerifyProblem::kDifferent:
      return (problem.kind == VerifyProblem::kMissing
                  ? texts.verify_missing
                  : texts.verify_different) +
             fs->DisplayPath(problem.source) + " -> " +
             fs->DisplayPath(problem.target);
    case VerifyProblem::kUnreadable:
      break;
  }
  return texts.verify_unreadable + fs->DisplayPath(problem.source);
}

// Checks each visited mailbox against its source; logs the banners, one
// line per missing or differing message or mailbox that is not there, and
// the number of messages checked. Returns the failure lines; sets
// *stopped when a stop request left mailboxes unchecked.
int VerifyMailboxes(MailboxVerifier* verifier, FileSystem* fs, RunHost* host,
                    const Texts& texts, const RunSettings& settings,
                    const RunTally& tally, RunObserver* observer,
                    bool* stopped) {
  host->AppendLogLine(texts.verify_begin);
  int failures = 0;
  int64_t checked = 0;
  for (const RunTally::Mailbox& m : tally.visited) {
    std::vector<std::string> lines;
    if (!m.problem.empty()) {
      lines.push_back(m.problem);
    } else if (m.box.empty()) {
      continue;  // refused; it has its own line
    } else if (StopRequested(settings)) {
      *stopped = true;
      host->AppendLogLine(texts.verify_stopped);
      break;
    } else {
      std::vector<FolderCheck> checks;
      observer->OnVerifyAccount(m.user, m.domain);
      if (!verifier->Verify(SourceMailbox(settings.source_dir, m.user), m.box,
                            &checks)) {
        lines.push_back(texts.verify_mailbox_absent + fs->DisplayPath(m.box));
      }
      for (const FolderCheck& check : checks) {
        checked += check.checked;
        observer->OnVerified(m.user, m.domain, check.name, check.checked,
                             check.missing, check.different);
        for (const VerifyProblem& problem : check.problems) {
          lines.push_back(ProblemLine(problem, texts, fs));
        }
      }
    }
    if (lines.empty()) continue;
    host->AppendLogLine(texts.verify_account_failed +
                        DisplayName(m.user, m.domain));
    for (const std::string& line : lines) {
      host->AppendLogLine(texts.folder_indent + line);
      ++failures;
    }
  }
  host->AppendLogLine(texts.verify_checked + std::to_string(checked));
  host->AppendLogLine(texts.verify_end);
  host->SelectLastLine();
  return failures;
}

const DomainRecord* FindDomain(const std::vector<DomainRecord>& domains,
                               const NameOps& names, const std::string& name) {
  for (const DomainRecord& record : domains) {
    if (names.EqualsIgnoringCase(record.domain, name)) return &record;
  }
  return nullptr;
}

// --verify-only: every source account the run would migrate is checked; the
// steps are left out and nothing is written. An account the target lacks,
// or whose mailbox it lacks, is a failure, and so are target lists that
// cannot be read.
RunOutcome VerifyOnly(RunHost* host, const Texts& texts,
                      const RunSettings& settings, TargetContext* target,
                      RunTally* tally, RunOutcome outcome) {
  DomainStore domain_store(target);
  std::vector<DomainRecord> domains;
  const bool domains_read = domain_store.LoadAllDomains(&domains);
  target->primary_domain = domain_store.FindPrimaryDomain();
  UserStore users(target);
  // It refuses every name only when the file has no user list.
  const bool users_read = users.CanAdd("a");
  MigrationStats unused;
  MailboxMigrator::Options options;
  options.source_dir = settings.source_dir;
  options.target_mail_dir = settings.target_mail_dir;
  options.names = target->names;
  options.code_page = settings.code_page;
  MailboxMigrator mailboxes(target->fs, host, texts, options, &unused);
  MailboxVerifier verifier(target->fs, settings.verify == VerifyMode::kContent,
                           target->names, settings.target_mail_dir);
  host->AppendLogLine(texts.separator);
  for (const auto& [read, file] :
       {std::pair{domains_read, "domain.cfg"}, {users_read, "userauth.cfg"}}) {
    if (read) continue;
    host->AppendLogLine(texts.verify_config_unreadable + file);
    host->SelectLastLine();
    ++outcome.failure_lines;
  }
  for (SourceDomain& source : *host->GetSourceDomains()) {
    for (SourceAccount& account : source.accounts) {
      account.domain = source.name;
      const std::string& user = account.user_name;
      std::string box = mailboxes.TargetBox(account, target->primary_domain);
      AccountOutcome result = AccountOutcome::kExists;
      std::string problem;
      if (!domains_read || !users_read) {
        result = AccountOutcome::kAbsent;  // the file's line says why
      } else if (FindDomain(domains, target->names, source.name) == nullptr &&
                 domain_store.AliasDomainExists(source.name)) {
        result = AccountOutcome::kSkippedAliasDomain;  // as a run leaves it
      } else if (users.AliasExists(user, account.domain)) {
        result = AccountOutcome::kAlias;
      } else if (!users.UserExists(user, account.domain)) {
        result = AccountOutcome::kAbsent;
        problem = texts.verify_account_absent + DisplayName(user, source.name);
      } else if (box.empty()) {
        result = AccountOutcome::kRefused;
        problem = texts.unsafe_mailbox_name + user;
      } else if (!verifier.HasMailbox(box)) {
        result = AccountOutcome::kAbsent;
        problem = texts.verify_mailbox_absent + target->fs->DisplayPath(box);
      }
      if (result == AccountOutcome::kExists || !problem.empty()) {
        tally->visited.push_back({user, account.domain, box, problem});
      }
      tally->OnAccountEnd(user, account.domain, result, problem, box);
    }
  }
  // An account the migration leaves out is not in the target either.
  outcome.failure_lines += ReportLeftOut(host, texts, *tally);
  outcome.failure_lines +=
      VerifyMailboxes(&verifier, target->fs, host, texts, settings, *tally,
                      tally, &outcome.stopped);
  host->AppendLogLine(texts.separator);
  if (outcome.failure_lines == 0 && !outcome.stopped) {
    host->ShowMessage(MessageKind::kInformation, texts.verify_passed);
    outcome.succeeded = true;
  }
  return outcome;
}

// Mailboxes of the source whose names the code page cannot hold: no
// account's name reaches them, so their mail would be passed over in
// silence. Each is a failure line.
int ReportUnreachableMailboxes(FileSystem* fs, RunHost* host,
                               const Texts& texts,
                               const RunSettings& settings) {
  int lines = 0;
  for (const std::string& path :
       UnreachableMailboxes(fs, settings.source_dir)) {
    host->AppendLogLine(texts.mailbox_name_unconvertible +
                        fs->DisplayPath(path));
    host->SelectLastLine();
    ++lines;
  }
  return lines;
}

// The summary: its head says whether the run succeeded, or that it is a
// preview's plan; then the counts, the failed copies, the accounts left
// out and those a stop left.
void LogSummary(RunHost* host, const Texts& texts, const RunSettings& settings,
                const MigrationStats& stats, const RunTally& tally,
                bool succeeded) {
  host->AppendLogLine(settings.preview ? texts.summary_head_preview
                      : succeeded      ? texts.summary_head
                                       : texts.summary_head_unclean);
  host->AppendLogLine(
      texts.summary_domains + std::to_string(stats.domain_count) +
      texts.summary_users + std::to_string(stats.user_count) +
      texts.summary_mails + std::to_string(stats.mail_count) +
      (stats.already_present > 0
           ? texts.summary_present + std::to_string(stats.already_present)
           : std::string()));
  if (stats.failed_copies > 0) {
    host->AppendLogLine(texts.copies_failed +
                        std::to_string(stats.failed_copies));
  }
  if (!tally.left_out.empty()) {
    host->AppendLogLine(texts.accounts_left_out +
                        std::to_string(tally.left_out.size()));
  }
  if (tally.stopped > 0) {
    host->AppendLogLine(texts.accounts_stopped + std::to_string(tally.stopped));
    host->AppendLogLine(texts.run_stopped);
  }
  host->SelectLastLine();
}

}  // namespace

RunOutcome MigrationRun(RunHost* host, const Texts& texts,
                        const RunSettings& settings, TargetContext* target,
                        MigrationStats* stats, PhaseObserver* phases,
                        RunObserver* observer) {
  RunOutcome outcome;
  host->ResetLog();

  RunTally tally(observer);
  observer = &tally;
  LockNotices notices(host, texts, target);
  int refused = 0;
  if (!LoadSourceLists(target->fs, settings.source_dir, texts, host,
                       settings.passwords, &refused, observer,
                       settings.code_page, target->names)) {
    return outcome;
  }
  outcome.loaded = true;
  outcome.failure_lines = refused;
  observer->OnSourceLoaded(*host->GetSourceDomains());
  outcome.failure_lines +=
      ReportUnreachableMailboxes(target->fs, host, texts, settings);
  if (settings.verify_only) {
    return VerifyOnly(host, texts, settings, target, &tally, outcome);
  }

  host->AppendLogLine(texts.separator);
  host->AppendLogLine(texts.domain_step_begin);
  DomainStore domain_store(target);
  {
    PhaseScope scope(phases, "domains");
    ImportDomains(&domain_store, target, host, texts, stats,
                  &outcome.failure_lines, observer, settings.manifest);
  }
  host->AppendLogLine(texts.domain_step_end);
  host->AppendLogLine(texts.separator);
  host->AppendLogLine(texts.account_step_begin);

  // The account step writes through the same ordered log as the mailbox
  // copies, so its lines (and observer calls) stay where a run one message
  // at a time puts them while copies of earlier accounts are still running.
  OrderedLog ordered(host);
  OrderedRunObserver ordered_observer(observer, &ordered);
  MailboxMigrator::Options options;
  options.source_dir = settings.source_dir;
  options.target_mail_dir = settings.target_mail_dir;
  options.names = target->names;
  options.code_page = settings.code_page;
  options.phases = phases;
  options.observer = observer;
  options.sync = settings.sync;
  options.jobs = settings.jobs;
  options.log = &ordered;
  options.manifest = settings.manifest;
  MailboxMigrator mailboxes(target->fs, &ordered, texts, options, stats);
  bool accounts_read = false;
  notices.set_log(&ordered);
  {
    UserStore user_store(target);
    PhaseScope scope(phases, "users");
    accounts_read =
        ImportAccounts(&user_store, target, &ordered, texts, &mailboxes, stats,
                       &outcome.failure_lines, &ordered_observer, settings.stop,
                       settings.manifest);
    mailboxes.Finish();
  }
  // The message files the last copies created, and any failure before. A
  // run that added nothing (a target it may not write, say) has nothing
  // to undo.
  const bool added =
      stats->domain_count + stats->user_count + stats->mail_count > 0;
  if (settings.manifest != nullptr && !settings.manifest->Flush() && added) {
    host->AppendLogLine(texts.manifest_unwritten);
    ++outcome.failure_lines;
  }
  notices.set_log(host);
  outcome.failure_lines += mailboxes.failure_lines();
  outcome.failure_lines += ReportLeftOut(host, texts, tally);
  outcome.stopped = tally.stopped > 0;

  host->AppendLogLine(texts.account_step_end);
  host->AppendLogLine(texts.separator);
  // A stopped run is checked by the run that completes it.
  if (settings.verify != VerifyMode::kNone && !outcome.stopped) {
    MailboxVerifier verifier(target->fs,
                             settings.verify == VerifyMode::kContent,
                             target->names, settings.target_mail_dir);
    outcome.failure_lines +=
        VerifyMailboxes(&verifier, target->fs, host, texts, settings, tally,
                        observer, &outcome.stopped);
    host->AppendLogLine(texts.separator);
  }
  // Failed copies mean mail was left behind, a failure line something else
  // (an account left out among them), a stop accounts not reached: no
  // success message then.
  const bool succeeded = accounts_read && stats->failed_copies == 0 &&
                         outcome.failure_lines == 0 && !outcome.stopped;
  LogSummary(host, texts, settings, *stats, tally, succeeded);
  if (succeeded) {
    host->ShowMessage(MessageKind::kInformation,
                      settings.preview            ? texts.preview_done
                      : settings.target_installed ? texts.success_installed
                                                  : texts.success_temporary);
    outcome.succeeded = true;
  }
  return outcome;
}

}  // namespace vm
