#include "migrate/migration_run.h"

#include "config/domain_store.h"
#include "config/target_context.h"
#include "config/user_store.h"
#include "migrate/account_import.h"
#include "migrate/domain_import.h"
#include "migrate/mailbox_migrator.h"
#include "migrate/mailbox_verifier.h"
#include "migrate/ordered_log.h"
#include "migrate/run_host.h"
#include "migrate/run_observer.h"
#include "migrate/source_lists.h"
#include "migrate/stop_request.h"
#include "migrate/texts.h"

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
    visited.push_back({user, domain, box});
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
      ++left_out;
    }
    if (outcome == AccountOutcome::kStopped) ++stopped;
    next_->OnAccountEnd(user, domain, outcome, reason, box);
  }
  void OnVerified(const std::string& user, const std::string& domain,
                  const std::string& folder, int64_t checked, int64_t missing,
                  int64_t different) override {
    next_->OnVerified(user, domain, folder, checked, missing, different);
  }

  std::vector<Mailbox> visited;
  int left_out = 0;
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

std::string DisplayName(const std::string& user, const std::string& domain) {
  return user.find('@') == std::string::npos ? user + "@" + domain : user;
}

bool StopRequested(const RunSettings& settings) {
  return settings.stop != nullptr && settings.stop->requested();
}

// Checks each visited mailbox against its source; logs the banners and one
// line per missing or differing message. Returns the failure lines; sets
// *stopped when a stop request left mailboxes unchecked.
int VerifyMailboxes(FileSystem* fs, const NameOps& names, RunHost* host,
                    const Texts& texts, const RunSettings& settings,
                    const RunTally& tally, RunObserver* observer,
                    bool* stopped) {
  host->AppendLogLine(texts.verify_begin);
  MailboxVerifier verifier(fs, settings.verify == 2, names);
  int failures = 0;
  for (const RunTally::Mailbox& m : tally.visited) {
    if (m.box.empty()) continue;  // refused; it has its own line
    if (StopRequested(settings)) {
      *stopped = true;
      host->AppendLogLine(texts.verify_stopped);
      break;
    }
    std::vector<FolderCheck> checks =
        verifier.Verify(settings.source_dir + "\\mail\\" + m.user, m.box);
    bool header = false;
    for (const FolderCheck& check : checks) {
      observer->OnVerified(m.user, m.domain, check.name, check.checked,
                           static_cast<int64_t>(check.missing.size()),
                           static_cast<int64_t>(check.different.size()));
      for (const auto* paths : {&check.missing, &check.different}) {
        for (const std::string& path : *paths) {
          if (!header) {
            host->AppendLogLine(texts.verify_account_failed +
                                DisplayName(m.user, m.domain));
            header = true;
          }
          host->AppendLogLine(texts.folder_indent +
                              (paths == &check.missing
                                   ? texts.verify_missing
                                   : texts.verify_different) +
                              path);
          ++failures;
        }
      }
    }
  }
  host->AppendLogLine(texts.verify_end);
  host->SelectLastLine();
  return failures;
}

// --verify-only: every source account the target holds is checked; the
// steps are left out and nothing is written.
RunOutcome VerifyOnly(RunHost* host, const Texts& texts,
                      const RunSettings& settings, TargetContext* target,
                      RunTally* tally, RunOutcome outcome) {
  DomainStore domain_store(target);
  target->primary_domain = domain_store.FindPrimaryDomain();
  UserStore users(target);
  MigrationStats unused;
  MailboxMigrator::Options options;
  options.source_dir = settings.source_dir;
  options.target_mail_dir = settings.target_mail_dir;
  options.names = target->names;
  MailboxMigrator mailboxes(target->fs, host, texts, options, &unused);
  for (SourceDomain& source : *host->GetSourceDomains()) {
    for (SourceAccount& account : source.accounts) {
      account.domain = source.name;
      std::string box = mailboxes.TargetBox(account, target->primary_domain);
      if (users.UserExists(account.user_name, account.domain) && !box.empty()) {
        tally->visited.push_back({account.user_name, account.domain, box});
        tally->OnAccountEnd(account.user_name, account.domain,
                            AccountOutcome::kExists, "", box);
      } else {
        tally->OnAccountEnd(account.user_name, account.domain,
                            AccountOutcome::kAbsent, "", box);
      }
    }
  }
  host->AppendLogLine(texts.separator);
  outcome.failure_lines +=
      VerifyMailboxes(target->fs, target->names, host, texts, settings, *tally,
                      tally, &outcome.stopped);
  host->AppendLogLine(texts.separator);
  if (outcome.failure_lines == 0 && !outcome.stopped) {
    host->ShowMessage(texts.verify_passed);
    outcome.succeeded = true;
  }
  host->EnableStart(true);
  host->SetStartCaption(texts.start_idle);
  return outcome;
}

}  // namespace

RunOutcome MigrationRun(RunHost* host, const Texts& texts,
                        const RunSettings& settings, TargetContext* target,
                        MigrationStats* stats, PhaseObserver* phases,
                        RunObserver* observer) {
  RunOutcome outcome;
  host->SetStartCaption(texts.start_running);
  host->ResetLog();
  host->EnableStart(false);

  RunTally tally(observer);
  observer = &tally;
  int refused = 0;
  if (!LoadSourceLists(target->fs, settings.source_dir, texts, host, &refused,
                       observer, settings.code_page, target->names)) {
    host->EnableStart(true);
    host->SetStartCaption(texts.start_idle);
    return outcome;
  }
  outcome.loaded = true;
  outcome.failure_lines = refused;
  observer->OnSourceLoaded(*host->GetSourceDomains());
  if (settings.verify_only) {
    return VerifyOnly(host, texts, settings, target, &tally, outcome);
  }

  host->AppendLogLine(texts.separator);
  host->AppendLogLine(texts.domain_step_begin);
  DomainStore domain_store(target);
  int domain_result;
  {
    PhaseScope scope(phases, "domains");
    domain_result = ImportDomains(&domain_store, target, host, texts, stats,
                                  &outcome.failure_lines, observer);
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
  options.phases = phases;
  options.observer = observer;
  options.sync = settings.sync;
  options.jobs = settings.jobs;
  options.log = &ordered;
  MailboxMigrator mailboxes(target->fs, &ordered, texts, options, stats);
  int account_result;
  {
    UserStore user_store(target);
    PhaseScope scope(phases, "users");
    account_result = ImportAccounts(&user_store, target, &ordered, texts,
                                    &mailboxes, stats, &outcome.failure_lines,
                                    &ordered_observer, settings.stop);
    mailboxes.Finish();
  }
  outcome.failure_lines += mailboxes.failure_lines();
  outcome.stopped = tally.stopped > 0;

  host->AppendLogLine(texts.account_step_end);
  host->AppendLogLine(texts.separator);
  // A stopped run is checked by the run that completes it.
  if (settings.verify != 0 && !outcome.stopped) {
    outcome.failure_lines +=
        VerifyMailboxes(target->fs, target->names, host, texts, settings, tally,
                        observer, &outcome.stopped);
    host->AppendLogLine(texts.separator);
  }
  host->AppendLogLine(texts.summary_head);
  host->AppendLogLine(
      texts.summary_domains + std::to_string(stats->domain_count) +
      texts.summary_users + std::to_string(stats->user_count) +
      texts.summary_mails + std::to_string(stats->mail_count) + " ");
  if (stats->failed_copies > 0) {
    host->AppendLogLine(texts.copies_failed +
                        std::to_string(stats->failed_copies));
  }
  // The list names only what it tried; these accounts it never reached.
  if (tally.left_out > 0) {
    host->AppendLogLine(texts.accounts_left_out +
                        std::to_string(tally.left_out));
  }
  if (tally.stopped > 0) {
    host->AppendLogLine(texts.accounts_stopped + std::to_string(tally.stopped));
    host->AppendLogLine(texts.run_stopped);
  }
  host->SelectLastLine();

  // Failed copies mean mail was left behind, a failure line something else,
  // a stop accounts not reached: no success message then.
  if (domain_result != 0 && account_result != 0 && stats->failed_copies == 0 &&
      outcome.failure_lines == 0 && !outcome.stopped) {
    host->ShowMessage(settings.target_installed ? texts.success_installed
                                                : texts.success_temporary);
    outcome.succeeded = true;
  }
  host->EnableStart(true);
  host->SetStartCaption(texts.start_idle);
  return outcome;
}

}  // namespace vm
