#include "session/run_session.h"

#include <cstdio>

#include "config/config_file.h"
#include "config/domain_store.h"
#include "config/shared_config_states.h"
#include "config/target_context.h"
#include "config/user_store.h"
#include "migrate/run_host.h"
#include "migrate/texts.h"
#include "platform/change_notice.h"
#include "platform/clock.h"
#include "platform/code_page.h"
#include "platform/disk_space.h"
#include "platform/file_system.h"
#include "session/record_paths.h"
#include "session/run_report.h"
#include "util/shown_text.h"

namespace vm {

namespace {

// Passes the result list on to the front end's host and keeps a copy of
// it for the log (when given one to keep). The list is emptied when the run
// first writes to it, not when it asks: a start refused while loading keeps the
// previous list. The run's closing word (its only information) is kept for the
// front end to show with the verdict (RunSession::End, SessionResult::closing).
class SessionHost : public RunHost {
 public:
  SessionHost(RunHost* host, ChangesOnlyFilter* filter,
              std::vector<std::string>* lines, std::string* closing)
      : host_(host), filter_(filter), lines_(lines), closing_(*closing) {}

  // Names from the lists, listings and the target reach the lines and
  // messages: their control bytes are shown escaped, never raw.
  int AppendLogLine(const std::string& raw) override {
    Settle();
    const std::string line = ShownText(raw);
    if (lines_ != nullptr) lines_->push_back(line);
    if (filter_ == nullptr) return host_->AppendLogLine(line);
    filter_->AppendLogLine(line);
    return 0;  // not known yet; no step uses it
  }
  void RemoveLastLine() override {
    Settle();
    if (lines_ != nullptr && !lines_->empty()) lines_->pop_back();
    if (filter_ != nullptr) {
      filter_->RemoveLastLine();
    } else {
      host_->RemoveLastLine();
    }
  }
  void SelectLastLine() override {
    Settle();
    if (filter_ != nullptr) {
      filter_->SelectLastLine();
    } else {
      host_->SelectLastLine();
    }
  }
  int LineCount() override {
    Settle();
    return host_->LineCount();
  }
  void ResetLog() override { reset_pending_ = true; }
  void ShowMessage(MessageKind kind, const std::string& raw) override {
    const std::string text = ShownText(raw, true);
    if (kind == MessageKind::kInformation) {
      closing_ = text;
      return;
    }
    host_->ShowMessage(kind, text);
  }
  SourceDomainList* GetSourceDomains() override { return &domains_; }

 private:
  void Settle() {
    if (!reset_pending_) return;
    reset_pending_ = false;
    if (lines_ != nullptr) lines_->clear();
    host_->ResetLog();
  }

  RunHost* host_;
  ChangesOnlyFilter* filter_;  // null: every line goes to the list
  bool reset_pending_ = false;
  std::vector<std::string>* lines_;  // null: none kept
  std::string& closing_;
  SourceDomainList domains_;
};

// A host that reads the source lists and nothing else.
class QuietHost : public RunHost {
 public:
  int AppendLogLine(const std::string&) override { return 0; }
  void RemoveLastLine() override {}
  void SelectLastLine() override {}
  int LineCount() override { return 0; }
  void ResetLog() override {}
  void ShowMessage(MessageKind, const std::string&) override {}
  SourceDomainList* GetSourceDomains() override { return &domains_; }

 private:
  SourceDomainList domains_;
};

}  // namespace

VerifyMode SessionVerifyLevel(const SessionOptions& options) {
  if (options.kind == SessionKind::kPreview) return VerifyMode::kNone;
  if (options.verify != VerifyMode::kNone) return options.verify;
  return options.kind == SessionKind::kVerify ? VerifyMode::kSize
                                              : VerifyMode::kNone;
}

std::string PasswordOptionProblem(const SessionOptions& options,
                                  const Texts& texts) {
  if (options.kind == SessionKind::kVerify) return std::string();
  const std::string* text = nullptr;
  if (options.password_mode == PasswordMode::kUserNamePlusSuffix) {
    text = &options.suffix;
  } else if (options.password_mode == PasswordMode::kCommonPassword) {
    text = &options.password;
  }
  if (text == nullptr) return std::string();
  size_t length = TrimWhiteSpace(*text).size();
  return length >= 1 && length <= kMaxPasswordTextBytes
             ? std::string()
             : texts.bad_password_text;
}

int CountExistingAccounts(const SessionEnvironment& env) {
  QuietHost host;
  NameOps names(env.code_page->LeadBytes());
  if (!LoadSourceLists(env.disk, env.state.source_dir, *env.texts, &host, {},
                       nullptr, nullptr, env.code_page, names)) {
    return 0;
  }
  TargetContext target;
  target.states = env.config_states;
  target.fs = env.disk;
  target.clock = env.clock;
  target.target_dir = env.state.target_dir;
  target.names = names;
  DomainStore domains(&target);
  target.primary_domain = domains.FindPrimaryDomain();
  UserStore users(&target);
  int count = 0;
  for (const SourceDomain& domain : *host.GetSourceDomains()) {
    for (const SourceAccount& account : domain.accounts) {
      if (users.UserExists(account.user_name, domain.name)) ++count;
    }
  }
  return count;
}

RunSession::RunSession(const SessionEnvironment& env, SessionOptions options,
                       ProgressModel::Listener progress_listener,
                       SessionHooks hooks)
    : env_(env),
      options_(std::move(options)),
      hooks_(std::move(hooks)),
      view_(env.disk),
      overlay_(&view_, NameOps(env.code_page->LeadBytes())),
      progress_(env.disk, env.state.source_dir, env.steady_seconds,
                std::move(progress_listener)),
      filter_(options_.changes_only
                  ? std::make_unique<ChangesOnlyFilter>(
                        nullptr, hooks_.observer != nullptr ? hooks_.observer
                                                            : &progress_)
                  : nullptr),
      record_(std::make_unique<RunRecord>(filter_ != nullptr ? filter_.get()
                                          : hooks_.observer != nullptr
                                              ? hooks_.observer
                                              : &progress_,
                                          env.disk)) {
  // A watch keeps the target in step: its passes are syncs.
  if (options_.watch_seconds > 0) options_.sync = true;
  // What the progress counts, and the words both views draw it with,
  // follow what the session does with the mail.
  progress_.SetWork(
      options_.kind == SessionKind::kPreview  ? ProgressWork::kPreview
      : options_.kind == SessionKind::kVerify ? ProgressWork::kVerify
                                              : ProgressWork::kCopy);
}

void RunSession::RequestStop() {
  {
    std::lock_guard<std::mutex> lock(watch_mutex_);
    if (watch_notice_ != nullptr && !watch_stopping_) {
      watch_stopping_ = true;
      watch_notice_->Wake();
      return;
    }
    stop_.Request();
  }
  // A save waiting for another program gives way; the run's own saves on
  // its way out still wait, bounded, for their locks.
  if (env_.config_states != nullptr) {
    env_.config_states->InterruptCurrentLockWaits();
  }
}

RunSettings RunSession::Settings() const {
  RunSettings settings;
  settings.source_dir = env_.state.source_dir;
  settings.target_mail_dir = env_.state.target_mail_dir;
  settings.target_installed = env_.state.target_installed;
  settings.sync = options_.sync && options_.kind != SessionKind::kVerify;
  settings.mirror = settings.sync && options_.mirror;
  settings.verify = SessionVerifyLevel(options_);
  settings.verify_only = options_.kind == SessionKind::kVerify;
  settings.code_page = env_.code_page;
  settings.jobs = options_.jobs;
  settings.passwords = {options_.password_mode, options_.suffix,
                        options_.password};
  settings.preview = options_.kind != SessionKind::kMigrate;
  return settings;
}

const SessionResult& RunSession::Run(RunHost* front_host) {
  started_ = env_.clock->NowSeconds();
  std::string lock_error;
  if (!env_.config_states->LocksUsable(&lock_error)) {
    front_host->ShowMessage(MessageKind::kError,
                            env_.texts->config_lock_unusable + lock_error);
    return result_;
  }
  const bool writes = options_.kind == SessionKind::kMigrate;
  FileSystem* fs = writes ? static_cast<FileSystem*>(&view_) : &overlay_;
  if (hooks_.before_lock && !hooks_.before_lock(fs)) return result_;
  const TargetLockOutcome taken =
      TakeSessionLock(env_.lock_target, env_.disk, env_.state, writes, started_,
                      &stop_, front_host);
  if (!taken.go) return result_;
  std::string unsafe;
  if (!view_.Confine(TargetRoots(env_.disk, env_.state), &unsafe)) {
    front_host->ShowMessage(
        MessageKind::kError,
        env_.texts->target_unsafe + FileErrorMessage(*env_.texts, unsafe));
    return result_;
  }
  if (!RunLocked(front_host)) return result_;
  ended_ = env_.clock->NowSeconds();
  if (result_.outcome.loaded) {
    // The progress ends before the records, whose report draws it.
    progress_.Finish();
    WriteRecords();
    if (!result_.log_path.empty()) {
      front_host->AppendLogLine(env_.texts->log_saved + result_.log_path);
      front_host->SelectLastLine();
    }
  }
  if (hooks_.records) hooks_.records(*this);
  return result_;
}

// False when the front end's own files refused the run; true once the run
// has been tried (result_.outcome.loaded says whether it loaded).
bool RunSession::RunLocked(RunHost* front_host) {
  const bool writes = options_.kind == SessionKind::kMigrate;
  TargetContext target = RunTarget();
  RunSettings settings = Settings();
  settings.stop = &stop_;
  if (!SetUpManifest(target.fs, &settings)) return false;
  if (filter_ != nullptr) filter_->set_log(front_host);
  // Only the session's own log needs the list; a run of very many
  // accounts does not hold it else.
  SessionHost host(front_host, filter_.get(),
                   env_.record_dirs.empty() ? nullptr : &lines_,
                   &result_.closing);
  if (writes && options_.watch_seconds > 0) ArmWatch();
  first_pass_started_ = env_.clock->MonotonicMicros();
  LoadSyncRecord(target.fs, &settings);
  SetUpMirror(target, &settings);
  result_.outcome = MigrationRun(&host, *env_.texts, settings, &target,
                                 &result_.stats, hooks_.phases, record_.get());
  SaveSyncRecord(&host);
  if (!result_.outcome.loaded) {
    if (filter_ != nullptr) filter_->Finish();
    return true;
  }
  CountOutcomes();
  const bool fits = PreviewFits(&host);
  Conclude(&host, fits);
  if (filter_ != nullptr) filter_->Finish();
  if (writes && options_.watch_seconds > 0) {
    Watch(front_host, &target, std::move(settings));
  }
  return true;
}

TargetContext RunSession::RunTarget() {
  const bool writes = options_.kind == SessionKind::kMigrate;
  TargetContext target;
  target.states = env_.config_states;
  target.fs = writes ? static_cast<FileSystem*>(&view_) : &overlay_;
  target.clock = env_.clock;
  target.target_dir = env_.state.target_dir;
  target.names = NameOps(env_.code_page->LeadBytes());
  return target;
}

bool RunSession::SetUpManifest(FileSystem* fs, RunSettings* settings) {
  if (hooks_.before_run && !hooks_.before_run(fs, &settings->manifest)) {
    return false;
  }
  if (options_.kind == SessionKind::kMigrate && !hooks_.before_run) {
    // A front end without files of its own (the dialog) gets the manifest
    // beside the target's data; the report names it for an undo.
    ManifestPlace beside_data;
    beside_data.sync = options_.sync;
    beside_data.code_page = env_.code_page_name;
    manifest_ = std::make_unique<ManifestFile>(
        &view_, *env_.code_page, beside_data, env_.state, started_);
    settings->manifest = manifest_->writer();
    manifest_shown_ =
        ShownRecordPath(view_, *env_.code_page, manifest_->path());
  }
  return true;
}

// A mirror only with a sync, and in a writing run only with a manifest
// to record its moves in: a move it cannot record it does not make.
void RunSession::SetUpMirror(const TargetContext& target,
                             RunSettings* settings) {
  const bool writes = options_.kind == SessionKind::kMigrate;
  // A watch's passes after the first are syncs.
  settings->mirror = options_.mirror &&
                     (settings->sync || (writes && options_.watch_seconds > 0));
  if (!settings->mirror || (writes && settings->manifest == nullptr)) return;
  mirror_ = std::make_unique<SessionMirror>(
      target.fs, env_.state, target.names,
      writes ? settings->manifest : nullptr, started_);
  settings->mirror_pass = mirror_->pass();
  settings->mirror_accounts = mirror_->recorded();
}

bool RunSession::PreviewFits(RunHost* host) {
  if (mirror_ != nullptr && options_.kind == SessionKind::kPreview) {
    host->AppendLogLine(env_.texts->mirror_preview +
                        std::to_string(mirror_->pass()->removed()) +
                        env_.texts->mirror_preview_bytes +
                        std::to_string(mirror_->pass()->removed_bytes()));
  }
  if (options_.kind != SessionKind::kPreview) return true;
  uint64_t free_bytes = 0;
  bool known =
      FreeDiskSpace(*env_.code_page, env_.state.target_mail_dir, &free_bytes);
  result_.plan = MakePlan(*record_, known, free_bytes);
  return result_.plan.fits;
}

void RunSession::CountOutcomes() {
  for (const AccountRecord& a : record_->accounts()) {
    switch (a.outcome) {
      case AccountOutcome::kSkippedNoDomainLine:
      case AccountOutcome::kSkippedAliasDomain:
        ++result_.left_out;
        break;
      case AccountOutcome::kUnfinished:
        ++result_.stopped;
        break;
      case AccountOutcome::kExists:
        if (options_.kind != SessionKind::kVerify) ++result_.existing;
        break;
      default:
        break;
    }
  }
}

// The verdict, one for every front end: nothing failed, nothing was left
// out or stopped, the run ended with its success (a preview: the mail
// fits); and the list's closing lines.
void RunSession::Conclude(RunHost* host, bool fits) {
  if (options_.kind == SessionKind::kPreview && options_.plan_in_list) {
    for (const std::string& line : PlanLines(result_.plan, *env_.texts)) {
      host->AppendLogLine(line);
    }
  }
  const bool sync = options_.sync && options_.kind != SessionKind::kVerify;
  if (result_.existing > 0 && !sync && options_.existing_line) {
    // At the switch a plain run leaves the accounts of the first run as
    // they are; the line says whether they lack mail, which the sync copies.
    host->AppendLogLine(ExistingLine());
  }
  host->SelectLastLine();
  result_.clean =
      result_.outcome.failure_lines == 0 && result_.stats.failed_copies == 0 &&
      result_.stats.behind_mail == 0 && result_.left_out == 0 &&
      !result_.outcome.stopped && fits &&
      (options_.kind == SessionKind::kPreview || result_.outcome.succeeded);
}

}  // namespace vm
