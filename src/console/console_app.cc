#include "console/console_app.h"

#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <utility>

#include "config/shared_config_states.h"
#include "config/target_context.h"
#include "console/changes_only.h"
#include "console/command_line.h"
#include "console/console_log.h"
#include "console/console_setup.h"
#include "console/progress_log.h"
#include "console/progress_meter.h"
#include "console/run_ending.h"
#include "console/undo_console.h"
#include "migrate/migration_run.h"
#include "migrate/run_host.h"
#include "migrate/source_lists.h"
#include "migrate/texts.h"
#include "platform/clock.h"
#include "platform/code_page.h"
#include "platform/console.h"
#include "platform/disk_space.h"
#include "platform/file_system.h"
#include "platform/helpers/overlay_file_system.h"
#include "session/manifest_file.h"
#include "session/report_file.h"
#include "session/run_log.h"
#include "session/run_plan.h"
#include "session/run_record.h"
#include "session/run_report.h"
#include "session/startup.h"
#include "session/target_lock.h"
#include "util/ascii.h"
#include "vm_version.h"

namespace vm {

namespace {

// The run's host on a console: the result list is the ConsoleLog, message
// boxes go to stderr, the password options come from the command line.
// The run's closing message (success, a clean preview or verification) is
// held until the report and the log are written, and shown only when the
// run's exit status is 0.
class ConsoleHost : public RunHost {
 public:
  ConsoleHost(ProgressLog* log, const CodePage* code_page, const Texts* texts,
              const ConsoleIo* io, PasswordMode mode, std::string suffix,
              std::string password, std::string message_prefix)
      : message_prefix_(std::move(message_prefix)),
        log_(log),
        code_page_(code_page),
        texts_(texts),
        io_(io),
        mode_(mode),
        suffix_(std::move(suffix)),
        password_(std::move(password)) {}

  void SetStartCaption(const std::string&) override {}
  void EnableStart(bool) override {}
  int AppendLogLine(const std::string& line) override {
    if (filter_ == nullptr) return log_->AppendLogLine(line);
    filter_->AppendLogLine(line);
    return 0;  // not known yet; no step uses it
  }
  void RemoveLastLine() override {
    if (filter_ != nullptr) {
      filter_->RemoveLastLine();
    } else {
      log_->RemoveLastLine();
    }
  }
  void SelectLastLine() override {
    if (filter_ != nullptr) {
      filter_->SelectLastLine();
    } else {
      log_->SelectLastLine();
    }
  }
  int LineCount() override { return log_->LineCount(); }
  void ResetLog() override { log_->Reset(); }
  PasswordMode GetPasswordMode() override { return mode_; }
  std::string SuffixText() override { return suffix_; }
  std::string CommonPasswordText() override { return password_; }
  void ShowMessage(const std::string& text) override {
    if (text == texts_->success_installed ||
        text == texts_->success_temporary || text == texts_->verify_passed ||
        text == texts_->preview_done) {
      held_ = text;
      return;
    }
    if (!silenced_) io_->err(message_prefix_ + code_page_->ToUtf8(text) + "\n");
  }
  // The closing message, once the run's records are written and its status
  // is 0.
  void ShowHeld() {
    if (!held_.empty() && !silenced_) {
      io_->err(message_prefix_ + code_page_->ToUtf8(held_) + "\n");
    }
    held_.clear();
  }
  // Never silenced: the save on the way out may wait for a lock too.
  void ShowNotice(const std::string& text) override {
    io_->err(message_prefix_ + code_page_->ToUtf8(text) + "\n");
  }
  // After an interrupt, the run's own messages (its success message among
  // them) would contradict the stop.
  void Silence() { silenced_ = true; }
  SourceDomainList* GetSourceDomains() override { return &domains_; }

  std::string message_prefix_;           // UTF-8
  ChangesOnlyFilter* filter_ = nullptr;  // --changes-only

 private:
  ProgressLog* log_;
  const CodePage* code_page_;
  const Texts* texts_;
  const ConsoleIo* io_;
  std::atomic<bool> silenced_{false};
  std::string held_;  // ANSI
  PasswordMode mode_;
  std::string suffix_;    // ANSI
  std::string password_;  // ANSI
  SourceDomainList domains_;
};

// Adds up the time of each phase; "users" excludes the mailboxes inside it.
class PhaseTimer : public PhaseObserver {
 public:
  explicit PhaseTimer(const Clock* clock) : clock_(clock) {}
  void PhaseBegin(const char* phase) override {
    started_[phase] = clock_->MonotonicMicros();
  }
  void PhaseEnd(const char* phase) override {
    total_[phase] += (clock_->MonotonicMicros() - started_[phase]) / 1e6;
  }
  std::string Report() const {
    double mail = Total("mail");
    char text[200];
    // "mail" is the run thread's share (listing, index reading); the
    // copies overlap it and the account step. "flush" makes them durable.
    std::snprintf(
        text, sizeof(text),
        "domains: %.3f s\nusers: %.3f s\nmail: %.3f s\nflush: %.3f s\n",
        Total("domains"), Total("users") - mail, mail, Total("flush"));
    return text;
  }

 private:
  double Total(const char* phase) const {
    auto it = total_.find(phase);
    return it == total_.end() ? 0.0 : it->second;
  }
  const Clock* clock_;
  std::map<std::string, int64_t> started_;  // MonotonicMicros
  std::map<std::string, double> total_;
};

// What a stopped run did, as far as its record tells, counted as the
// summary line counts: what was added and copied, and apart from it what
// the target held already.
MigrationStats CountsOf(const RunRecord& record) {
  MigrationStats stats;
  for (const DomainRecordOutcome& domain : record.domains()) {
    if (domain.outcome == DomainOutcome::kAdded) ++stats.domain_count;
  }
  for (const AccountRecord& account : record.accounts()) {
    if (account.outcome == AccountOutcome::kAdded) ++stats.user_count;
    for (const FolderRecord& f : account.folders) {
      stats.mail_count += static_cast<int32_t>(f.counts.copied);
      stats.already_present += static_cast<int32_t>(f.counts.present);
      stats.failed_copies += static_cast<int32_t>(f.counts.failed);
    }
  }
  return stats;
}

// The files a run writes besides the target's: the log and the report.
// A file that cannot be written is told on stderr.
class RunFiles {
 public:
  RunFiles(const ConsoleSetup& p, const ConsoleIo& io, int64_t started)
      : p_(p), io_(io), started_(started) {}

  bool LogHeader(const std::vector<std::string>& args) {
    return p_.options.log_file.empty() ||
           Write(p_.options.log_file, "log",
                 RunLogHeader(VM_VERSION, started_, ShownCommandLine(args)),
                 true);
  }

  // The result list and the outcome line.
  bool LogEnd(const std::string& list, int status) {
    return p_.options.log_file.empty() ||
           Write(p_.options.log_file, "log",
                 list + RunLogEnd(SystemClock()->NowSeconds(), status), true);
  }

  std::string manifest;  // UTF-8, as the platform shows it; empty: none

  bool Report(const RunRecord& record, const MigrationStats& counts,
              int failure_lines, bool succeeded, bool stopped) {
    const CommandLine& options = p_.options;
    if (options.report_file.empty()) return true;
    ReportHeader header;
    header.version = VM_VERSION;
    header.started = started_;
    header.ended = SystemClock()->NowSeconds();
    header.manifest = manifest;
    header.options = {
        {"source", options.source_dir},
        {p_.state.target_installed ? "target" : "output", p_.shown_target},
        {"password_mode", PasswordModeName(options.password_mode)},
        {"codepage", options.code_page},
        {"verify", p_.verify == VerifyMode::kContent ? "content"
                   : p_.verify == VerifyMode::kSize  ? "size"
                                                     : "none"}};
    header.flags = {{"dry_run", options.dry_run},
                    {"sync", options.sync},
                    {"verify_only", options.verify_only},
                    {"changes_only", options.changes_only}};
    header.stats = counts;
    header.failure_lines = failure_lines;
    header.succeeded = succeeded;
    header.stopped = stopped;
    const bool json = EndsWithIgnoringAsciiCase(options.report_file, ".json");
    // Written an account at a time: the report of a large run is never
    // held whole.
    std::string error;
    if (WriteReportFile(p_.disk.get(),
                        p_.code_page->ToAnsi(options.report_file), json, header,
                        record, *p_.code_page, &error)) {
      return true;
    }
    return Failed("report", options.report_file, error);
  }

 private:
  // The log is appended to, one write per part, so that runs sharing it
  // keep every part; the report replaces the earlier one whole (a
  // temporary beside it, renamed over it), so a write that fails leaves
  // the earlier report as it was.
  bool Write(const std::string& name, const char* what,
             const std::string& contents, bool append) {
    std::string error;
    const std::string path = p_.code_page->ToAnsi(name);
    if (append ? p_.disk->AppendFile(path, contents, &error)
               : p_.disk->ReplaceContents(path, contents, &error)) {
      return true;
    }
    return Failed(what, name, error);
  }

  bool Failed(const char* what, const std::string& name,
              const std::string& error) {
    io_.err("velquor-migrate: cannot write the " + std::string(what) + " " +
            name + (error.empty() ? "" : ": " + p_.code_page->ToUtf8(error)) +
            "\n");
    return false;
  }

  const ConsoleSetup& p_;
  const ConsoleIo& io_;
  int64_t started_;
};

// Takes the target's run lock for this run; with --wait a busy lock is
// waited for, said once on stderr. The output folder is made first, as its
// lock file lies in it (a dry run makes it in memory only, and finds no
// lock needed). False, with the reason on stderr, when the run may not go.
bool LockTarget(const ConsoleSetup& p, const ConsoleIo& io, FileSystem* fs,
                int64_t started, std::unique_ptr<RunLock>* lock) {
  const CommandLine& options = p.options;
  if (p.make_output && !fs->CreateDir(p.state.target_dir, nullptr)) {
    io.err("velquor-migrate: cannot create the output directory " +
           options.output_dir + "\n");
    return false;
  }
  if (!io.open_run_lock) return true;
  TargetLockRequest request = TargetLockRequestFor(
      p.state, !options.dry_run && !options.verify_only, "console", started);
  request.open = io.open_run_lock;
  const CodePage& cp = *p.code_page;
  auto busy = [&](const std::string& holder) -> int64_t {
    if (options.wait_seconds > 0) {
      io.err(cp.ToUtf8(p.texts.run_lock_waiting + holder +
                       p.texts.run_lock_wait_limit +
                       std::to_string(options.wait_seconds)) +
             "\n");
    }
    return options.wait_seconds;
  };
  TargetLockOutcome outcome =
      TakeTargetLock(request, cp, p.texts, busy, nullptr);
  if (!outcome.go) io.err(cp.ToUtf8(outcome.message) + "\n");
  *lock = std::move(outcome.lock);
  return outcome.go;
}

// The migration itself, once every check has passed.
int Migrate(const ConsoleSetup& p, const std::vector<std::string>& args,
            const ConsoleIo& io, int64_t started) {
  const CommandLine& options = p.options;
  const CodePage* code_page = p.code_page.get();
  const AppState& state = p.state;
  // A dry run and a verification write through an overlay that keeps every
  // write in memory; the log and the report go to the disk.
  OverlayFileSystem overlay(p.disk.get(), NameOps(code_page->LeadBytes()));
  FileSystem* fs = options.dry_run || options.verify_only
                       ? static_cast<FileSystem*>(&overlay)
                       : p.disk.get();

  // Standard output that fails is given up, never retried; the run goes on.
  const bool progress =
      options.progress == Toggle::kOn ||
      (options.progress == Toggle::kAuto && io.err_is_terminal);
  std::unique_ptr<ProgressMeter> meter;
  if (progress) {
    meter = std::make_unique<ProgressMeter>(
        fs, state.source_dir, [&io](const std::string& text) { io.err(text); },
        [] { return SystemClock()->MonotonicMicros() / 1e6; },
        io.err_is_terminal ? StderrColumns : nullptr);
  }
  bool out_failed = false;
  auto out = [&](const std::string& text) {
    if (meter) meter->Erase();
    if (!out_failed && !io.out(text)) out_failed = true;
  };

  // With the progress line on the terminal, the list shows only final
  // lines, so the two never share a line.
  ConsoleLog view(code_page, io.out_is_terminal && !progress, out);
  ColumnMeasurer measurer(code_page);
  ProgressLog log(&view, &measurer);
  ConsoleHost host(&log, code_page, &p.texts, &io, options.password_mode,
                   code_page->ToAnsi(options.suffix),
                   code_page->ToAnsi(options.password),
                   options.dry_run ? "(dry run) " : "");

  TargetContext target;
  target.fs = fs;
  target.clock = SystemClock();
  target.states = io.config_states;
  target.target_dir = state.target_dir;
  target.names = NameOps(code_page->LeadBytes());
  RunSettings settings;
  settings.source_dir = state.source_dir;
  settings.target_mail_dir = state.target_mail_dir;
  settings.target_installed = state.target_installed;
  settings.sync = options.sync;
  settings.verify_only = options.verify_only;
  settings.verify = p.verify;
  settings.code_page = code_page;
  settings.jobs = options.jobs;
  settings.preview = options.dry_run || options.verify_only;
  MigrationStats stats;
  PhaseTimer timer(SystemClock());
  // The record sees the run's events first and passes them on, through
  // the --changes-only filter, to the progress line.
  ChangesOnlyFilter filter(&log, meter.get());
  if (options.changes_only) host.filter_ = &filter;
  RunRecord record(
      options.changes_only ? static_cast<RunObserver*>(&filter) : meter.get(),
      fs, NameOps(code_page->LeadBytes()));
  RunFiles files(p, io, started);

  // An interrupt while the run waits for the target ends the program with
  // nothing written; from the lock on, the run writes, and an interrupt
  // stops it where it is: what the stores hold is saved, the report and
  // the log tell how far it got.
  auto ending = std::make_shared<RunEnding>(kExitStopped);
  if (io.on_interrupt) {
    io.on_interrupt([ending] { return ending->Interrupt(); });
  }
  std::unique_ptr<RunLock> lock;
  if (!LockTarget(p, io, fs, started, &lock)) return kExitFailure;
  auto manifest = WritingRunManifest(p, fs == p.disk.get(), started);
  if (manifest) {
    settings.manifest = manifest->writer();
    files.manifest = code_page->ToUtf8(p.disk->DisplayPath(manifest->path()));
  }
  ending->Arm([&] {
    host.Silence();
    // The copy comes before the save, so the report never claims an
    // account the saved user list lacks.
    RunRecord stopped;
    record.CopyStopped(&stopped);
    const std::string list = view.ListText();
    if (io.save_configuration) io.save_configuration();
    if (meter) meter->Finish();
    std::string stopped_text = io.out_is_terminal && !progress ? "\n" : "";
    stopped_text.append(code_page->ToUtf8(p.texts.run_interrupted))
        .append("\n");
    io.err(stopped_text);
    files.Report(stopped, CountsOf(stopped), 0, false, true);
    files.LogEnd(list, kExitStopped);
  });
  // The output folder is made by now: the log may lie in it.
  if (!files.LogHeader(args)) {
    if (!ending->Claim()) return kExitStopped;
    ending->Ended(kExitFailure);
    return kExitFailure;
  }
  CreateMissingTargetFiles(fs, p.untrimmed_target, !state.target_installed);

  const int64_t run_started = SystemClock()->MonotonicMicros();
  RunOutcome outcome = MigrationRun(&host, p.texts, settings, &target, &stats,
                                    options.stats ? &timer : nullptr, &record);
  const double run_seconds =
      (SystemClock()->MonotonicMicros() - run_started) / 1e6;
  if (!ending->Claim()) return kExitStopped;
  // The progress line goes before the last lines of the list are shown.
  if (meter) meter->Finish();
  if (options.changes_only) filter.Finish();
  view.Finish();

  int status = outcome.succeeded && outcome.failure_lines == 0 ? kExitSuccess
                                                               : kExitFailure;
  if (options.dry_run && outcome.loaded) {
    uint64_t free_bytes = 0;
    bool free_known =
        FreeDiskSpace(*code_page, state.target_mail_dir, &free_bytes);
    bool fits = true;
    out(PlanText(record, *code_page, free_known, free_bytes, &fits));
    if (!fits) status = kExitFailure;
  }
  if (out_failed) {
    io.err(
        "velquor-migrate: the result list could not be written to standard "
        "output; the run went on to its end\n");
    status = kExitFailure;
  }
  if (!files.Report(record, stats, outcome.failure_lines,
                    status == kExitSuccess, false)) {
    status = kExitFailure;
  }
  if (!files.LogEnd(view.ListText(), status)) status = kExitFailure;
  if (status == kExitSuccess) host.ShowHeld();
  ending->Ended(status);
  if (options.stats) {
    io.err(timer.Report());
    uint64_t copied_bytes = 0;
    for (const AccountRecord& a : record.accounts()) {
      copied_bytes += a.Sum().counts.copied_bytes;
    }
    const double megabytes = copied_bytes / 1048576.0;
    char text[160];
    std::snprintf(text, sizeof(text),
                  "run: %.3f s\ncopied: %.1f MB, %.1f MB/s\n"
                  "longest config lock hold: %.3f s\n",
                  run_seconds, megabytes,
                  run_seconds > 0 ? megabytes / run_seconds : 0.0,
                  io.config_states->LongestLockHoldMicros() / 1e6);
    io.err(text);
    if (meter) {
      std::snprintf(text, sizeof(text), "source scan: %.3f s\n",
                    meter->scan_seconds());
      io.err(text);
    }
  }
  return status;
}

}  // namespace

int RunConsole(const std::vector<std::string>& args, const ConsoleIo& io) {
  const int64_t started = SystemClock()->NowSeconds();
  CommandLine options;
  std::string error;
  if (!ParseCommandLine(args, &options, &error)) return UsageError(io, error);
  if (options.help) {
    io.out(UsageText());
    return kExitSuccess;
  }
  if (options.version) {
    io.out("velquor-migrate " VM_VERSION_TEXT "\n");
    return kExitSuccess;
  }
  if (!options.undo_manifest.empty())
    return RunUndoConsole(options, io, started);
  ConsoleSetup setup;
  const int status = PrepareConsoleRun(options, io, &setup);
  return status >= 0 ? status : Migrate(setup, args, io, started);
}

}  // namespace vm
