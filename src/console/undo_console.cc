#include "console/undo_console.h"

#include <condition_variable>
#include <mutex>
#include <utility>

#include "console/command_line.h"
#include "console/console_app.h"
#include "console/console_setup.h"
#include "migrate/stop_request.h"
#include "migrate/texts.h"
#include "platform/clock.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/run_lock.h"
#include "session/manifest_file.h"
#include "session/record_paths.h"
#include "session/run_log.h"
#include "session/run_report.h"
#include "session/startup.h"
#include "session/target_lock.h"
#include "session/undo_session.h"
#include "util/ascii.h"
#include "vm_version.h"

namespace vm {
namespace {

// How an undo ends when an interrupt's handler, on a thread of its own,
// may come at any moment: an interrupt before the undo's end asks it to
// stop and waits until its records are written; one after it waits for
// the records too. Either way the handler and the undo end the process
// with one status.
class UndoEnding {
 public:
  StopRequest* stop() { return &stop_; }

  // The handler's part; returns the exit status.
  int Interrupt() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!claimed_) {
      interrupted_ = true;
      stop_.Request();
    }
    ended_changed_.wait(lock, [this] { return ended_; });
    return status_;
  }
  // The undo's own end begins; true when an interrupt came first.
  bool Claim() {
    std::lock_guard<std::mutex> lock(mutex_);
    claimed_ = true;
    return interrupted_;
  }
  // The records are written; `status` is the exit status.
  void Ended(int status) {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    status_ = status;
    ended_changed_.notify_all();
  }

 private:
  StopRequest stop_;
  std::mutex mutex_;
  std::condition_variable ended_changed_;
  bool claimed_ = false;
  bool interrupted_ = false;
  bool ended_ = false;
  int status_ = kExitStopped;
};

// What the undo needs settled before it may touch the target.
struct UndoSetup {
  std::unique_ptr<CodePage> code_page;
  std::unique_ptr<FileSystem> disk;
  Texts texts;
  AppState state;
  std::string manifest_path;  // ANSI
  RunManifest manifest;
};

// Checks the options, reads the manifest and checks it is the target's.
// Returns -1 when the undo may go, else the exit status (message said).
int PrepareUndo(const CommandLine& options, const ConsoleIo& io, UndoSetup* u) {
  u->code_page = OpenCodePage(options.code_page);
  if (u->code_page) u->disk = io.open_file_system(options.code_page);
  if (!u->code_page || !u->disk) {
    return UsageError(io, "unknown code page: " + options.code_page);
  }
  const CodePage& cp = *u->code_page;
  u->texts = MakeTexts(cp);
  u->state.target_installed = !options.target_dir.empty();
  const std::string& shown =
      u->state.target_installed ? options.target_dir : options.output_dir;
  u->state.target_dir = cp.ToAnsi(shown);
  while (u->state.target_dir.size() > 1 &&
         (u->state.target_dir.back() == '/' ||
          u->state.target_dir.back() == '\\')) {
    u->state.target_dir.pop_back();
  }
  if (!IsDirectory(u->disk.get(), u->state.target_dir)) {
    return UsageError(io, "target directory not found: " + shown);
  }
  u->manifest_path = cp.ToAnsi(options.undo_manifest);
  FindTargetMailDir(u->disk.get(), cp, &u->state);
  const std::string records = RecordFilesProblem(
      u->disk.get(), cp, u->state,
      {{"--log", options.log_file}, {"--report", options.report_file}},
      u->manifest_path);
  if (!records.empty()) return UsageError(io, records);
  int bad_line = 0;
  const UndoCheck check =
      CheckUndoManifest(u->disk.get(), u->state.target_dir, u->manifest_path,
                        &u->manifest, &bad_line);
  if (check != UndoCheck::kGo) {
    // The manifest's path is shown as it was given.
    io.err(cp.ToUtf8(UndoRefusal(u->texts, check, bad_line, u->manifest)) +
           (check == UndoCheck::kUnreadable ? options.undo_manifest : "") +
           "\n");
    return kExitFailure;
  }
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

bool WriteRecords(const CommandLine& options, const ConsoleIo& io,
                  const UndoSetup& u, const std::string& log,
                  const std::string& report) {
  const CodePage& cp = *u.code_page;
  bool ok = true;
  if (!options.log_file.empty() &&
      !u.disk->AppendFile(cp.ToAnsi(options.log_file), log, nullptr)) {
    io.err("velquor-migrate: cannot write the log " + options.log_file + "\n");
    ok = false;
  }
  if (!options.report_file.empty() &&
      !u.disk->ReplaceContents(cp.ToAnsi(options.report_file), report,
                               nullptr)) {
    io.err("velquor-migrate: cannot write the report " + options.report_file +
           "\n");
    ok = false;
  }
  return ok;
}

// The target's run lock for the undo (shared for a dry run); a busy lock
// is waited for with --wait, said on stderr, and an interrupt ends the
// wait. False, with the reason on stderr unless an interrupt ended the
// wait, when the undo may not go; no lock when there is none to take (a
// target in memory).
bool LockForUndo(const CommandLine& options, const ConsoleIo& io,
                 const UndoSetup& u, int64_t started, const StopRequest* stop,
                 std::unique_ptr<RunLock>* lock) {
  if (!io.open_run_lock) return true;
  const CodePage& cp = *u.code_page;
  TargetLockRequest request = TargetLockRequestFor(
      u.disk.get(), u.state, !options.dry_run, "console", started);
  request.open = io.open_run_lock;
  auto busy = [&](const std::string& holder) -> int64_t {
    if (options.wait_seconds > 0) {
      io.err(cp.ToUtf8(u.texts.run_lock_waiting + holder) + "\n");
    }
    return options.wait_seconds;
  };
  TargetLockOutcome taken = TakeTargetLock(request, cp, u.texts, busy, stop);
  if (!taken.go) {
    if (!stop->requested()) io.err(cp.ToUtf8(taken.message) + "\n");
    return false;
  }
  if (!taken.notice.empty()) io.err(cp.ToUtf8(taken.notice) + "\n");
  *lock = std::move(taken.lock);
  return true;
}

// The undo once its checks have passed: its lock, its removals, its
// records. Returns the exit status.
int Undo(const CommandLine& options, const ConsoleIo& io, const UndoSetup& u,
         int64_t started, UndoEnding* ending) {
  const CodePage& cp = *u.code_page;
  std::unique_ptr<RunLock> lock;
  if (!LockForUndo(options, io, u, started, ending->stop(), &lock)) {
    return ending->Claim() ? kExitStopped : kExitFailure;
  }
  UndoRequest request;
  request.disk = u.disk.get();
  request.code_page = u.code_page.get();
  request.texts = &u.texts;
  request.config_states = io.config_states;
  request.target_dir = u.state.target_dir;
  request.dry_run = options.dry_run;
  request.stop = ending->stop();
  const UndoResult result = RunUndo(request, u.manifest);
  // An interrupt from here on waits for the records and ends with the
  // undo's own status.
  const bool stopped = ending->Claim();
  if (stopped) io.err(cp.ToUtf8(u.texts.undo_interrupted) + "\n");
  std::string list;
  for (const std::string& line :
       UndoResultLines(u.texts, u.manifest_path, result, options.dry_run)) {
    list += cp.ToUtf8(line) + "\n";
  }
  bool ok = io.out(list);
  if (!ok) io.err("velquor-migrate: the result list could not be written\n");
  int status = stopped                   ? kExitStopped
               : ok && result.complete() ? kExitSuccess
                                         : kExitFailure;
  const std::string log =
      RunLogHeader(VM_VERSION, started, ShownUndo(options)) + list +
      RunLogEnd(SystemClock()->NowSeconds(), EndOfStatus(status), status);
  const bool csv = EndsWithIgnoringAsciiCase(options.report_file, ".csv");
  const std::string report =
      csv ? UndoReportCsv(cp, result)
          : UndoReportJson(cp, u.manifest_path, u.state.target_dir, result,
                           options.dry_run, started, stopped);
  if (!WriteRecords(options, io, u, log, report) && !stopped) {
    status = kExitFailure;
  }
  return status;
}

}  // namespace

int RunUndoConsole(const CommandLine& options, const ConsoleIo& io,
                   int64_t started) {
  UndoSetup u;
  const int status = PrepareUndo(options, io, &u);
  if (status >= 0) return status;
  // From here an interrupt asks the undo to stop: the removals under way
  // finish, the configuration files' saves are not cut, and the records
  // say what was removed and what is left.
  auto ending = std::make_shared<UndoEnding>();
  if (io.on_interrupt) {
    io.on_interrupt([ending] { return ending->Interrupt(); });
  }
  const int ended = Undo(options, io, u, started, ending.get());
  ending->Ended(ended);
  return ended;
}

std::unique_ptr<ManifestFile> WritingRunManifest(const ConsoleSetup& setup,
                                                 FileSystem* fs, bool writes,
                                                 int64_t started) {
  if (!writes) return nullptr;
  const ManifestPlace place{setup.options.report_file, setup.options.log_file,
                            setup.options.sync};
  return std::make_unique<ManifestFile>(fs, *setup.code_page, place,
                                        setup.state, started);
}

}  // namespace vm
