#include "migrate/migration_run.h"

#include <memory>
#include <thread>

#include "config/config_lock.h"
#include "config/domain_store.h"
#include "config/target_context.h"
#include "config/user_store.h"
#include "migrate/account_import.h"
#include "migrate/account_judges.h"
#include "migrate/domain_import.h"
#include "migrate/existing_mail.h"
#include "migrate/import_steps.h"
#include "migrate/lazy_users.h"
#include "migrate/mailbox_migrator.h"
#include "migrate/mailbox_verifier.h"
#include "migrate/mirror_pass.h"
#include "migrate/ordered_log.h"
#include "migrate/ordered_run_observer.h"
#include "migrate/password_follow.h"
#include "migrate/run_host.h"
#include "migrate/run_manifest.h"
#include "migrate/run_observer.h"
#include "migrate/run_summary.h"
#include "migrate/run_tally.h"
#include "migrate/run_verification.h"
#include "migrate/source_lists.h"
#include "migrate/stop_request.h"
#include "migrate/texts.h"
#include "migrate/user_list_vouch.h"
#include "migrate/write_ahead_guard.h"
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

// A mirror pass, once the account step is done (and not stopped): the
// passwords that follow the source (only where the run makes them from
// the source's own, never in a preview) and the accounts and domains gone
// from it.
void MirrorAccounts(const RunSettings& settings, TargetContext* target,
                    LazyUsers* users, const ImportSteps& steps, bool read) {
  MigrationStats* stats = steps.stats;
  stats->passwords_followed = stats->passwords_kept = 0;
  stats->gone_accounts = stats->gone_domains = 0;
  if (!settings.mirror || !read ||
      (settings.stop != nullptr && settings.stop->requested())) {
    return;
  }
  if (settings.mirror_pass != nullptr) settings.mirror_pass->Ready();
  DomainStore domains(target);
  const RecordedAccounts read_here =
      settings.mirror_accounts != nullptr
          ? RecordedAccounts(target->names)
          : ReadRecordedAccounts(target->fs, target->target_dir, target->names);
  const bool passwords =
      !settings.preview &&
      settings.passwords.mode == PasswordMode::kSourceCipherText;
  FollowSource(users->get(), &domains,
               settings.mirror_accounts != nullptr ? *settings.mirror_accounts
                                                   : read_here,
               passwords, steps);
}

// Tells `advance` (when a sync judges) which accounts exist: the judging
// thread has joined the record's reader before it judges, and the account
// step tells the accounts judged as their turn comes. A record that vouches
// for the user list as it is spares reading it. Returns whether it did.
bool AskUsers(const RunSettings& settings, TargetContext* target,
              AdvanceJudgement* advance, LazyUsers* users) {
  if (advance == nullptr) {
    if (settings.sync_record_ready) settings.sync_record_ready();
    users->get();
    return false;
  }
  // The record's head is read at once: a list it does not vouch for is
  // read beside the rest of the record and the judges.
  std::optional<EntryStatus> head;
  if (settings.sync_record_users) head = settings.sync_record_users();
  bool vouched = UserListIs(target->fs, users->path(), head);
  if (!vouched) users->get();
  advance->WaitForRecord();
  vouched = vouched && settings.sync_record->users() == head;
  if (vouched) {
    advance->AllExist();
  } else {
    advance->AskUsers(*users->get());
  }
  return vouched;
}

// The account step, through the ordered log the mailbox copies share, so
// that its lines (and observer calls) stay where a run one message at a
// time puts them while copies of earlier accounts are still running.
// Returns whether the target's lists could be read.
bool RunAccountStep(RunHost* host, const Texts& texts,
                    const RunSettings& settings, TargetContext* target,
                    MigrationStats* stats, PhaseObserver* phases,
                    RunObserver* observer, LockNotices* notices,
                    RunOutcome* outcome) {
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
  options.mirror = settings.mirror;
  options.mirror_pass = settings.mirror ? settings.mirror_pass : nullptr;
  options.jobs = settings.jobs;
  options.log = &ordered;
  options.manifest = settings.manifest;
  options.record = settings.sync_record;
  options.clock = target->clock;
  options.named_boxes = settings.named_boxes;
  MailboxMigrator mailboxes(target->fs, &ordered, texts, options, stats);
  bool accounts_read = false;
  notices->set_log(&ordered);
  ExistingMail existing(target->fs, target->names, settings.source_dir,
                        settings.target_mail_dir);
  {
    // A sync judges its mailboxes while the user list loads; that
    // judgement waits for the record, which was read meanwhile.
    std::unique_ptr<AdvanceJudgement> advance;
    if (settings.sync && settings.sync_record != nullptr) {
      advance = std::make_unique<AdvanceJudgement>(
          *host->GetSourceDomains(), &mailboxes, target->primary_domain,
          settings.judges, settings.sync_record_ready);
    }
    LazyUsers users(target);
    const bool vouched = AskUsers(settings, target, advance.get(), &users);
    PhaseScope scope(phases, "users");
    const ImportSteps steps{target,
                            &ordered,
                            texts,
                            stats,
                            &outcome->failure_lines,
                            &ordered_observer,
                            settings.stop,
                            settings.manifest,
                            settings.sync ? nullptr : &existing,
                            advance.get()};
    accounts_read = ImportAccounts(&users, &mailboxes, steps);
    mailboxes.Finish();
    MirrorAccounts(settings, target, &users, steps, accounts_read);
    if (settings.sync_record != nullptr && accounts_read) {
      settings.sync_record->SawUsers(SeenUsers(
          &users, vouched, *settings.sync_record, *host->GetSourceDomains(),
          mailboxes, target->primary_domain));
    }
  }
  stats->behind_accounts = existing.accounts();
  stats->behind_mail = existing.messages();
  // The message files the last copies created, and any failure before. A
  // run that added nothing (a target it may not write, say) has nothing
  // to undo.
  const bool added =
      stats->domain_count + stats->user_count + stats->mail_count > 0;
  if (settings.manifest != nullptr && !settings.manifest->Flush() && added) {
    host->AppendLogLine(texts.manifest_unwritten);
    ++outcome->failure_lines;
  }
  notices->set_log(host);
  outcome->failure_lines += mailboxes.failure_lines();
  return accounts_read;
}

// After the steps: the verification that was asked for, the summary and,
// when nothing was left behind, the success message.
void EndRun(RunHost* host, const Texts& texts, const RunSettings& settings,
            TargetContext* target, const MigrationStats& stats,
            const RunTally& tally, RunObserver* observer, bool accounts_read,
            RunOutcome* outcome) {
  // A stopped run is checked by the run that completes it.
  if (settings.verify != VerifyMode::kNone && !outcome->stopped) {
    MailboxVerifier verifier(target->fs,
                             settings.verify == VerifyMode::kContent,
                             target->names, settings.target_mail_dir);
    outcome->failure_lines +=
        VerifyMailboxes(&verifier, target->fs, host, texts, settings, tally,
                        observer, &outcome->stopped);
    host->AppendLogLine(texts.separator);
  }
  // Failed copies mean mail was left behind, and so does new mail of
  // accounts the target held already (a run without sync), a failure line
  // something else (an account left out among them), a stop accounts not
  // reached: no success message then.
  const bool succeeded = accounts_read && stats.failed_copies == 0 &&
                         stats.behind_mail == 0 &&
                         outcome->failure_lines == 0 && !outcome->stopped;
  LogSummary(host, texts, settings, stats, tally, succeeded);
  if (succeeded) {
    host->ShowMessage(MessageKind::kInformation,
                      settings.preview            ? texts.preview_done
                      : settings.target_installed ? texts.success_installed
                                                  : texts.success_temporary);
    outcome->succeeded = true;
  }
}

}  // namespace

RunOutcome MigrationRun(RunHost* host, const Texts& texts,
                        const RunSettings& settings, TargetContext* target,
                        MigrationStats* stats, PhaseObserver* phases,
                        RunObserver* observer) {
  RunOutcome outcome;
  host->ResetLog();
  // Nothing is made in the target that its manifest could not name first.
  const WriteAheadScope write_ahead(target, settings.manifest);

  // Only a verification goes over the mailboxes again.
  RunTally tally(observer,
                 settings.verify != VerifyMode::kNone || settings.verify_only);
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
    ImportDomains(&domain_store, ImportSteps{target, host, texts, stats,
                                             &outcome.failure_lines, observer,
                                             nullptr, settings.manifest});
  }
  host->AppendLogLine(texts.domain_step_end);
  host->AppendLogLine(texts.separator);
  host->AppendLogLine(texts.account_step_begin);
  const bool accounts_read =
      RunAccountStep(host, texts, settings, target, stats, phases, observer,
                     &notices, &outcome);
  outcome.failure_lines += ReportLeftOut(host, texts, tally);
  outcome.stopped = tally.stopped > 0;
  host->AppendLogLine(texts.account_step_end);
  host->AppendLogLine(texts.separator);
  EndRun(host, texts, settings, target, *stats, tally, observer, accounts_read,
         &outcome);
  return outcome;
}

}  // namespace vm
