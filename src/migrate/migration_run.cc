#include "migrate/migration_run.h"

#include "config/domain_store.h"
#include "config/target_context.h"
#include "config/user_store.h"
#include "migrate/account_import.h"
#include "migrate/domain_import.h"
#include "migrate/mailbox_migrator.h"
#include "migrate/run_host.h"
#include "migrate/source_lists.h"
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

}  // namespace

RunOutcome MigrationRun(RunHost* host, const Texts& texts,
                        const RunSettings& settings, TargetContext* target,
                        MigrationStats* stats, PhaseObserver* phases,
                        RunObserver* observer) {
  RunOutcome outcome;
  host->SetStartCaption(texts.start_running);
  host->ResetLog();
  host->EnableStart(false);

  int refused = 0;
  if (!LoadSourceLists(target->fs, settings.source_dir, texts, host, &refused,
                       observer)) {
    host->EnableStart(true);
    host->SetStartCaption(texts.start_idle);
    return outcome;
  }
  outcome.loaded = true;
  outcome.failure_lines = refused;

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

  MailboxMigrator::Options options;
  options.source_dir = settings.source_dir;
  options.target_mail_dir = settings.target_mail_dir;
  options.double_byte_names = settings.double_byte_names;
  options.phases = phases;
  options.observer = observer;
  options.sync = settings.sync;
  MailboxMigrator mailboxes(target->fs, host, texts, options, stats);
  int account_result;
  {
    UserStore user_store(target);
    PhaseScope scope(phases, "users");
    account_result =
        ImportAccounts(&user_store, target, host, texts, &mailboxes, stats,
                       &outcome.failure_lines, observer);
  }
  outcome.failure_lines += mailboxes.failure_lines();

  host->AppendLogLine(texts.account_step_end);
  host->AppendLogLine(texts.separator);
  host->AppendLogLine(texts.summary_head);
  host->AppendLogLine(
      texts.summary_domains + std::to_string(stats->domain_count) +
      texts.summary_users + std::to_string(stats->user_count) +
      texts.summary_mails + std::to_string(stats->mail_count) + " ");
  if (stats->failed_copies > 0) {
    host->AppendLogLine(texts.copies_failed +
                        std::to_string(stats->failed_copies));
  }
  host->SelectLastLine();

  // Failed copies mean mail was left behind, a failure line something else:
  // no success message then.
  if (domain_result != 0 && account_result != 0 && stats->failed_copies == 0 &&
      outcome.failure_lines == 0) {
    host->ShowMessage(settings.target_installed ? texts.success_installed
                                                : texts.success_temporary);
    outcome.succeeded = true;
  }
  host->EnableStart(true);
  host->SetStartCaption(texts.start_idle);
  return outcome;
}

}  // namespace vm
