#include "console/undo_console.h"

#include <utility>

#include "console/command_line.h"
#include "console/console_app.h"
#include "console/console_setup.h"
#include "console/run_ending.h"
#include "migrate/run_host.h"
#include "migrate/texts.h"
#include "platform/clock.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "session/manifest_file.h"
#include "session/record_paths.h"
#include "session/report_file.h"
#include "session/run_session.h"
#include "session/startup.h"
#include "session/undo_session.h"
#include "vm_version.h"

namespace vm {
namespace {

// The console's view of an undo: the result list on stdout as it comes,
// every message a line on stderr.
class UndoConsoleHost : public RunHost {
 public:
  UndoConsoleHost(const CodePage& code_page, const ConsoleIo& io)
      : code_page_(code_page), io_(io) {}

  int AppendLogLine(const std::string& line) override {
    if (!out_failed_ && !io_.out(code_page_.ToUtf8(line) + "\n")) {
      out_failed_ = true;
      io_.err("velquor-migrate: the result list could not be written\n");
    }
    return lines_++;
  }
  void RemoveLastLine() override {}
  void SelectLastLine() override {}
  int LineCount() override { return lines_; }
  void ResetLog() override {}
  void ShowMessage(MessageKind, const std::string& text) override {
    io_.err(code_page_.ToUtf8(text) + "\n");
  }
  SourceDomainList* GetSourceDomains() override { return &domains_; }
  bool out_failed() const { return out_failed_; }

 private:
  const CodePage& code_page_;
  const ConsoleIo& io_;
  int lines_ = 0;
  bool out_failed_ = false;
  SourceDomainList domains_;
};

// Settles the code page, the target and the records before the undo may
// look at anything. Returns -1 when the undo may go, else the exit status
// (its message said).
int PrepareUndo(const CommandLine& options, const ConsoleIo& io,
                ConsoleSetup* u) {
  u->options = options;
  u->code_page = OpenCodePage(options.code_page);
  if (u->code_page) u->disk = io.open_file_system(options.code_page);
  if (!u->code_page || !u->disk) {
    return UsageError(io, "unknown code page: " + options.code_page);
  }
  const CodePage& cp = *u->code_page;
  u->texts = MakeTexts(cp);
  u->state.target_installed = !options.target_dir.empty();
  u->shown_target =
      u->state.target_installed ? options.target_dir : options.output_dir;
  // As for a run: absolute and normalized, since the view of the target
  // resolves no ".." and the manifest's paths are matched against it.
  u->state.target_dir =
      SettledTargetDir(u->disk.get(), cp.ToAnsi(u->shown_target));
  if (!IsDirectory(u->disk.get(), u->state.target_dir)) {
    return UsageError(io, "target directory not found: " + u->shown_target);
  }
  FindTargetMailDir(u->disk.get(), cp, &u->state);
  const std::string records = RecordFilesProblem(
      u->disk.get(), cp, u->state,
      {{"--log", options.log_file}, {"--report", options.report_file}},
      cp.ToAnsi(options.undo_manifest));
  if (!records.empty()) return UsageError(io, records);
  return -1;
}

// The undo's command line as the log shows it.
std::string ShownUndo(const CommandLine& options) {
  std::vector<std::string> args{"--undo", options.undo_manifest};
  if (options.target_dir.empty()) {
    args.insert(args.end(), {"--output", options.output_dir});
  } else {
    args.insert(args.end(), {"--target", options.target_dir});
  }
  if (options.dry_run) args.push_back("--dry-run");
  if (!options.report_file.empty()) {
    args.insert(args.end(), {"--report", options.report_file});
  }
  if (!options.log_file.empty()) {
    args.insert(args.end(), {"--log", options.log_file});
  }
  return ShownCommandLine(args);
}

int ExitStatusOf(RunEnd end) {
  return end == RunEnd::kSucceeded ? kExitSuccess
         : end == RunEnd::kStopped ? kExitStopped
                                   : kExitFailure;
}

// --log (appended) and --report; false, said on stderr, when one failed.
bool WriteUndoFiles(const ConsoleSetup& u, const ConsoleIo& io,
                    const UndoSession& session, int status) {
  const CodePage& cp = *u.code_page;
  const CommandLine& options = u.options;
  bool ok = true;
  if (!options.log_file.empty() &&
      !u.disk->AppendFile(
          cp.ToAnsi(options.log_file),
          session.LogText(
              status, options.report_file.empty()
                          ? options.report_file
                          : ShownRecordPath(*u.disk, cp,
                                            cp.ToAnsi(options.report_file))),
          nullptr)) {
    io.err("velquor-migrate: cannot write the log " + options.log_file + "\n");
    ok = false;
  }
  if (!options.report_file.empty() &&
      !session.WriteReport(u.disk.get(), cp.ToAnsi(options.report_file),
                           ReportFormatOf(options.report_file), nullptr)) {
    io.err("velquor-migrate: cannot write the report " + options.report_file +
           "\n");
    ok = false;
  }
  return ok;
}

}  // namespace

int RunUndoConsole(const CommandLine& options, const ConsoleIo& io,
                   int64_t /*started*/) {
  ConsoleSetup u;
  const int prepared = PrepareUndo(options, io, &u);
  if (prepared >= 0) return prepared;
  const CodePage& cp = *u.code_page;
  SessionEnvironment env;
  env.disk = u.disk.get();
  env.code_page = &cp;
  env.texts = &u.texts;
  env.clock = SystemClock();
  env.state = u.state;
  env.version = VM_VERSION;
  env.code_page_name = options.code_page;
  env.shown_target = u.shown_target;
  env.config_states = io.config_states;
  env.lock_target = ConsoleLocker(u, io);
  UndoConsoleHost host(cp, io);
  UndoOptions undo;
  undo.manifest_path = cp.ToAnsi(options.undo_manifest);
  undo.dry_run = options.dry_run;
  undo.shown_command = ShownUndo(options);
  // The log's last line names the status the program ends with.
  undo.records = [&u, &io, &host](const UndoSession& session) {
    int status = ExitStatusOf(session.end());
    if (status == kExitSuccess && host.out_failed()) status = kExitFailure;
    return WriteUndoFiles(u, io, session, status);
  };
  UndoSession session(env, std::move(undo));
  // An interrupt is the undo's stop request, as for a run: the removals
  // under way finish, the configuration files' saves are not cut, and the
  // records say what was removed and what is left.
  auto ending = std::make_shared<RunEnding>();
  if (io.on_interrupt) {
    io.on_interrupt(
        [ending, told = io.stop_requested] { return ending->Interrupt(told); });
  }
  ending->Arm([&session] { session.RequestStop(); });
  session.Run(&host);
  int status = ExitStatusOf(session.end());
  if (session.end() == RunEnd::kStopped) {
    if (session.started()) io.err(cp.ToUtf8(u.texts.undo_interrupted) + "\n");
  } else if (host.out_failed() || session.records_failed()) {
    status = kExitFailure;
  }
  ending->Ended(status);
  return status;
}

std::unique_ptr<ManifestFile> WritingRunManifest(const ConsoleSetup& setup,
                                                 FileSystem* fs, bool writes,
                                                 int64_t started) {
  if (!writes) return nullptr;
  const ManifestPlace place{setup.options.report_file, setup.options.log_file,
                            setup.options.sync, setup.options.code_page};
  return std::make_unique<ManifestFile>(fs, *setup.code_page, place,
                                        setup.state, started);
}

}  // namespace vm
