#include "console/console_app.h"

#include <memory>
#include <utility>

#include "config/shared_config_states.h"
#include "console/command_line.h"
#include "console/console_log.h"
#include "console/console_setup.h"
#include "console/console_stats.h"
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
#include "platform/file_system.h"
#include "session/manifest_file.h"
#include "session/record_paths.h"
#include "session/run_log.h"
#include "session/run_plan.h"
#include "session/run_record.h"
#include "session/run_report.h"
#include "session/run_session.h"
#include "session/startup.h"
#include "session/target_lock.h"
#include "util/ascii.h"
#include "vm_version.h"

namespace vm {

namespace {

// The session's host on a console: the result list is the ConsoleLog (the
// session filters it for --changes-only), message boxes go to stderr.
// The password options are the session's; the closing message is the
// session's result, shown only for exit status 0.
class ConsoleHost : public RunHost {
 public:
  ConsoleHost(ProgressLog* log, const CodePage* code_page, const ConsoleIo* io,
              std::string message_prefix)
      : message_prefix_(std::move(message_prefix)),
        log_(log),
        code_page_(code_page),
        io_(io) {}

  int AppendLogLine(const std::string& line) override {
    return log_->AppendLogLine(line);
  }
  void RemoveLastLine() override { log_->RemoveLastLine(); }
  void SelectLastLine() override { log_->SelectLastLine(); }
  int LineCount() override { return log_->LineCount(); }
  void ResetLog() override { log_->Reset(); }
  // Every kind alike: a line on stderr, said at once.
  void ShowMessage(MessageKind, const std::string& text) override {
    Tell(text);
  }
  void Tell(const std::string& ansi) {
    io_->err(message_prefix_ + code_page_->ToUtf8(ansi) + "\n");
  }
  SourceDomainList* GetSourceDomains() override { return &domains_; }

  std::string message_prefix_;  // UTF-8

 private:
  ProgressLog* log_;
  const CodePage* code_page_;
  const ConsoleIo* io_;
  SourceDomainList domains_;
};

// The files a run writes besides the target's and the session's: the --log
// and the --report. A file that cannot be written is told on stderr.
class RunFiles {
 public:
  RunFiles(const ConsoleSetup& p, const ConsoleIo& io) : p_(p), io_(io) {}

  // The log part's head, written before the run writes anything, so that
  // a killed run leaves its head.
  bool LogHeader(const RunSession& session,
                 const std::vector<std::string>& args) {
    return p_.options.log_file.empty() ||
           Write(p_.options.log_file, "log",
                 RunLogHeader(
                     session.LogHeadOf(ShownCommandLine(args), manifest)),
                 true);
  }

  // The result list, the counts and the outcome line.
  bool LogEnd(const RunSession& session, const std::string& list, int status) {
    const std::string& report = p_.options.report_file;
    return p_.options.log_file.empty() ||
           Write(p_.options.log_file, "log",
                 list + RunLogEnd(session.LogTail(
                                      report.empty()
                                          ? report
                                          : ShownRecordPath(
                                                *p_.disk, *p_.code_page,
                                                p_.code_page->ToAnsi(report))),
                                  SystemClock()->NowSeconds(),
                                  EndOfStatus(status), status),
                 true);
  }

  // Written an account at a time: the report of a large run is never
  // held whole.
  bool Report(const RunSession& session, bool succeeded) {
    const std::string& file = p_.options.report_file;
    if (file.empty()) return true;
    std::string error;
    if (session.WriteReport(p_.disk.get(), p_.code_page->ToAnsi(file),
                            ReportFormatOf(file), succeeded, manifest,
                            &error)) {
      return true;
    }
    return Failed("report", file, error);
  }

  std::string manifest;  // UTF-8, as the platform shows it; empty: none

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
};

// The session's environment and options as the command line gives them.
SessionEnvironment ConsoleEnvironment(const ConsoleSetup& p,
                                      const ConsoleIo& io) {
  SessionEnvironment env;
  env.disk = p.disk.get();
  env.code_page = p.code_page.get();
  env.texts = &p.texts;
  env.clock = SystemClock();
  env.steady_seconds = [] { return SystemClock()->MonotonicMicros() / 1e6; };
  env.state = p.state;
  env.version = VM_VERSION;
  env.code_page_name = p.options.code_page;
  env.shown_source = p.options.source_dir;
  env.shown_target = p.shown_target;
  env.guide = VM_GUIDE_ADDRESS;
  env.config_states = io.config_states;
  env.lock_target = ConsoleLocker(p, io);
  return env;  // no record folders: the console keeps --log and --report
}

SessionOptions ConsoleSessionOptions(const ConsoleSetup& p) {
  const CommandLine& o = p.options;
  SessionOptions options;
  options.kind = o.dry_run       ? SessionKind::kPreview
                 : o.verify_only ? SessionKind::kVerify
                                 : SessionKind::kMigrate;
  options.sync = o.sync;
  options.mirror = o.mirror;
  options.verify = p.verify;
  options.password_mode = o.password_mode;
  options.suffix = p.code_page->ToAnsi(o.suffix);
  options.password = p.code_page->ToAnsi(o.password);
  options.jobs = o.jobs;
  options.changes_only = o.changes_only;
  options.watch_seconds = o.watch_seconds;
  // The console prints the plan after the list, in its own words; the
  // line on accounts the target held names its own option.
  options.plan_in_list = false;
  options.sync_hint = p.texts.sync_hint_console;
  return options;
}

// The console's view of one session: the progress line on stderr, the
// result list on stdout, the --log and --report files, the exit status.
// Everything else (checks, context, plan, run, verdict, stop) is the
// session's.
class ConsoleRun {
 public:
  ConsoleRun(const ConsoleSetup& p, const std::vector<std::string>& args,
             const ConsoleIo& io, int64_t started)
      : p_(p),
        args_(args),
        io_(io),
        progress_(p.options.progress == Toggle::kOn ||
                  (p.options.progress == Toggle::kAuto && io.err_is_terminal)),
        // Only the --log file needs the list once it is printed.
        view_(
            p.code_page.get(), io.out_is_terminal && !progress_,
            [this](const std::string& text) { Out(text); },
            !p.options.log_file.empty()),
        measurer_(p.code_page.get()),
        log_(&view_, &measurer_),
        host_(&log_, p.code_page.get(), &io,
              p.options.dry_run ? "(dry run) " : ""),
        timer_(SystemClock()),
        files_(p, io),
        started_(started),
        env_(ConsoleEnvironment(p, io)) {
    if (progress_) {
      meter_ = std::make_unique<ProgressMeter>(
          [&io](const std::string& text) { io.err(text); },
          io.err_is_terminal ? StderrColumns : nullptr);
    }
  }

  int Run() {
    ProgressModel::Listener show;
    if (meter_) {
      show = [meter = meter_.get()](const ProgressSnapshot& snapshot) {
        meter->Show(snapshot);
      };
    }
    RunSession session(env_, ConsoleSessionOptions(p_), std::move(show),
                       Hooks());
    session_ = &session;
    // An interrupt is the session's stop request: a wait for the target
    // ends, a run finishes the copies in flight and the account it is at,
    // saves the stores and writes its records; the handler waits for it.
    auto ending = std::make_shared<RunEnding>();
    if (io_.on_interrupt) {
      io_.on_interrupt([ending, told = io_.stop_requested] {
        return ending->Interrupt(told);
      });
    }
    ending->Arm([&session] { session.RequestStop(); });
    const int64_t run_started = SystemClock()->MonotonicMicros();
    session.Run(&host_);
    const double run_seconds =
        (SystemClock()->MonotonicMicros() - run_started) / 1e6;
    if (!ran_ && session.stop_requested()) {
      TellStopped();
      status_ = kExitStopped;
    }
    if (ran_ && p_.options.stats) {
      PrintStats(io_, timer_, session.record(), run_seconds, p_.options.dry_run,
                 meter_ ? &session.progress() : nullptr);
    }
    ending->Ended(status_);
    return status_;
  }

 private:
  // Standard output that fails is given up, never retried; the run goes on.
  void Out(const std::string& text) {
    if (meter_) meter_->Erase();
    if (!out_failed_ && !io_.out(text)) out_failed_ = true;
  }

  SessionHooks Hooks() {
    SessionHooks hooks;
    // The session's progress model feeds the line and the HTML report's
    // chart; without either it is not fed, and the source is not scanned
    // for it.
    const bool page =
        !p_.options.report_file.empty() &&
        ReportFormatOf(p_.options.report_file) == ReportFormat::kHtml;
    hooks.observer = meter_ || page ? nullptr : &no_progress_;
    hooks.phases = p_.options.stats ? &timer_ : nullptr;
    hooks.before_lock = [this](FileSystem* fs) { return MakeOutput(fs); };
    hooks.before_run = [this](FileSystem* fs, ManifestWriter** manifest) {
      return BeforeRun(fs, manifest);
    };
    hooks.records = [this](const RunSession& session) { End(session); };
    hooks.pass_ended = [this](const RunSession& session,
                              const std::string& status) {
      PassEnded(session, status);
    };
    return hooks;
  }

  // The output folder is made before the lock, as its lock file lies in it
  // (a dry run makes it in memory only, and finds no lock needed).
  bool MakeOutput(FileSystem* fs) {
    if (!p_.make_output || fs->CreateDir(p_.state.target_dir, nullptr)) {
      return true;
    }
    io_.err("velquor-migrate: cannot create the output directory " +
            p_.options.output_dir + "\n");
    status_ = kExitFailure;
    return false;
  }

  // Once the lock is held: the manifest of a run that writes, the log's
  // header (the output folder is made by now: the log may lie in it), then
  // the skeletons of the target's files.
  bool BeforeRun(FileSystem* fs, ManifestWriter** writer) {
    const bool writes = !p_.options.dry_run && !p_.options.verify_only;
    manifest_ = WritingRunManifest(p_, fs, writes, started_);
    if (manifest_) {
      *writer = manifest_->writer();
      files_.manifest =
          ShownRecordPath(*p_.disk, *p_.code_page, manifest_->path());
    }
    if (!files_.LogHeader(*session_, args_)) {
      status_ = kExitFailure;
      return false;
    }
    CreateMissingTargetFiles(fs, p_.untrimmed_target,
                             !p_.state.target_installed);
    ran_ = true;
    return true;
  }

  // A watch's pass: its line out at once (not held for the next), the
  // report as it stands, the status in the progress line's place.
  void PassEnded(const RunSession& session, const std::string& status) {
    view_.Finish();
    files_.Report(session, session.result().clean && !out_failed_);
    if (meter_) meter_->ShowText(p_.code_page->ToUtf8(status));
  }

  void TellStopped() {
    std::string text = io_.out_is_terminal && !progress_ ? "\n" : "";
    io_.err(text + p_.code_page->ToUtf8(p_.texts.run_interrupted) + "\n");
  }

  // The session's verdict drawn: the progress line goes, the list's last
  // lines and a preview's plan are printed, the records written.
  void End(const RunSession& session) {
    const SessionResult& r = session.result();
    if (meter_) meter_->Finish(session.progress().Snapshot());
    view_.Finish();
    status_ = r.outcome.stopped ? kExitStopped
              : r.clean         ? kExitSuccess
                                : kExitFailure;
    if (p_.options.dry_run && r.outcome.loaded && !r.outcome.stopped) {
      bool fits = true;
      Out(PlanText(session.record(), *p_.code_page, r.plan.free_known,
                   r.plan.free_bytes, &fits));
    }
    if (out_failed_) {
      io_.err(
          "velquor-migrate: the result list could not be written to standard "
          "output; the run went on to its end\n");
      if (status_ == kExitSuccess) status_ = kExitFailure;
    }
    if (r.outcome.stopped) TellStopped();
    if (!files_.Report(session, status_ == kExitSuccess) &&
        status_ == kExitSuccess) {
      status_ = kExitFailure;
    }
    if (!files_.LogEnd(session, view_.ListText(), status_) &&
        status_ == kExitSuccess) {
      status_ = kExitFailure;
    }
    if (status_ == kExitSuccess && !r.closing.empty()) host_.Tell(r.closing);
  }

  const ConsoleSetup& p_;
  const std::vector<std::string>& args_;
  const ConsoleIo& io_;
  const bool progress_;
  bool out_failed_ = false;
  bool ran_ = false;  // the session went past the lock and the log's header
  int status_ = kExitFailure;
  const RunSession* session_ = nullptr;  // while Run runs it
  ConsoleLog view_;
  ColumnMeasurer measurer_;
  ProgressLog log_;
  ConsoleHost host_;
  PhaseTimer timer_;
  RunFiles files_;
  int64_t started_;
  RunObserver no_progress_;
  std::unique_ptr<ProgressMeter> meter_;
  std::unique_ptr<ManifestFile> manifest_;
  SessionEnvironment env_;
};

}  // namespace

// (see console_app.h)
// How the console takes the target's run lock: with --wait a busy lock is
// waited for, said once on stderr; a refusal is told on stderr, unless a
// stop request ended the wait (the run then says that it stopped).
TargetLocker ConsoleLocker(const ConsoleSetup& p, const ConsoleIo& io) {
  if (!io.open_run_lock) return nullptr;
  return [&p, &io](const TargetLockRequest& session_request,
                   const StopRequest* stop) {
    TargetLockRequest request = session_request;
    request.open = io.open_run_lock;
    request.front_end = "console";
    const CodePage& cp = *p.code_page;
    const int64_t wait = p.options.wait_seconds;
    auto busy = [&](const std::string& holder) -> int64_t {
      if (wait > 0) {
        io.err(cp.ToUtf8(p.texts.run_lock_waiting + holder +
                         p.texts.run_lock_wait_limit + std::to_string(wait)) +
               "\n");
      }
      return wait;
    };
    TargetLockOutcome outcome =
        TakeTargetLock(request, cp, p.texts, busy, stop);
    if (!outcome.go && !stop->requested()) {
      io.err(cp.ToUtf8(outcome.message) + "\n");
    }
    outcome.message.clear();  // told here, not by the session
    return outcome;
  };
}

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
  if (status >= 0) return status;
  return ConsoleRun(setup, args, io, started).Run();
}

}  // namespace vm
