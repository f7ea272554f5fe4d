#ifndef VM_SESSION_RUN_SESSION_H_
#define VM_SESSION_RUN_SESSION_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "migrate/migration_run.h"
#include "migrate/run_host.h"
#include "migrate/source_lists.h"
#include "migrate/stop_request.h"
#include "platform/change_notice.h"
#include "platform/helpers/overlay_file_system.h"
#include "session/changes_only.h"
#include "session/manifest_file.h"
#include "session/progress_model.h"
#include "session/report_file.h"
#include "session/run_log.h"
#include "session/run_plan.h"
#include "session/run_record.h"
#include "session/run_report.h"
#include "session/session_mirror.h"
#include "session/startup.h"
#include "session/sync_record_file.h"
#include "session/target_lock.h"
#include "session/target_view.h"

namespace vm {

class SharedConfigStates;

class WatchPace;
struct TargetContext;

class Clock;
class CodePage;
class FileSystem;
class ManifestWriter;
class PhaseObserver;
class RunHost;
class RunSession;
struct Texts;

enum class SessionKind {
  kMigrate,  // the migration, optionally with a sync and a verification
  kPreview,  // the dry run: nothing is written; a plan follows the list
  kVerify,   // checks an earlier migration; nothing is written
};

// What the user chose for one session. Texts are ANSI, as typed.
struct SessionOptions {
  SessionKind kind = SessionKind::kMigrate;
  bool sync = false;    // also copy new mail into accounts that exist
  bool mirror = false;  // with sync: the target is made to match the source
  // kMigrate: the check after the run; kVerify: by size unless kContent.
  VerifyMode verify = VerifyMode::kNone;
  PasswordMode password_mode = PasswordMode::kSameAsUserName;
  std::string suffix;
  std::string password;
  int jobs = 4;
  // The result list leaves out accounts and folders where nothing changed
  // (ChangesOnlyFilter); the log and the report keep every line.
  bool changes_only = false;
  // How the result list is drawn: a preview's plan as lines after the list,
  // and a line on the accounts that exist (the dialog's). A front end that
  // prints the plan its own way turns them off.
  bool plan_in_list = true;
  bool existing_line = true;
  // How the front end's user copies the new mail of existing accounts
  // (ANSI), for the line on them and the end message; empty: the dialog's
  // words (Texts::sync_hint_dialog).
  std::string sync_hint;
  // > 0 (kMigrate, with sync): a watch. After the migration the session
  // keeps making sync passes until stopped, woken by the source mail
  // store's change notices where the system gives them and at the latest
  // this many seconds after the last pass (see RunSession::Watch).
  int watch_seconds = 0;
};

// What a front end adds to its sessions beyond the dialog's defaults. Every
// member may be left empty.
struct SessionHooks {
  // Told every run event after the session's record; null: the session's
  // own progress model is.
  RunObserver* observer = nullptr;
  PhaseObserver* phases = nullptr;  // the phase times
  // Before the target's run lock is taken, with the file system the run
  // writes through (a preview's is in memory): the console makes its
  // output folder there. False: the session ends, not started.
  std::function<bool(FileSystem* fs)> before_lock;
  // Once the lock is held, before the run writes anything: the front end's
  // own files (a log's header; the manifest, whose writer it may hand the
  // run). False: the session ends, not started.
  std::function<bool(FileSystem* fs, ManifestWriter** manifest)> before_run;
  // At the session's end, once the verdict is known and while the lock is
  // still held: the front end's own records.
  std::function<void(const RunSession& session)> records;
  // A watch, after each pass (the migration first) and its records: the
  // front end's own records of it, and the status line to show until the
  // next pass (ANSI).
  std::function<void(const RunSession& session, const std::string& status)>
      pass_ended;
};

// What every session of a program shares.
struct SessionEnvironment {
  FileSystem* disk = nullptr;
  const CodePage* code_page = nullptr;  // the run's ANSI code page
  const Texts* texts = nullptr;
  const Clock* clock = nullptr;
  std::function<double()> steady_seconds;  // for the progress model
  AppState state;
  // Folders for the records (ANSI), in order of preference: the first one
  // that is not inside either installation and can be written takes them.
  std::vector<std::string> record_dirs;
  std::string version;         // of the tool, for the records
  std::string code_page_name;  // as the report names it, e.g. "CP936"
  // The user guide's address (UTF-8) the HTML report links its reasons
  // to; empty: the report names the guide's sections without links.
  std::string guide;
  // The folders as the user gave them (UTF-8), for the report; empty: the
  // settled folders of `state`.
  std::string shown_source;
  std::string shown_target;
  // The configuration files' shared state, owned by the program.
  SharedConfigStates* config_states = nullptr;
  // Takes the target's run lock for a session (TakeTargetLock with the
  // front end's answer to a busy lock), kept until its records are
  // written; null: none is taken (a target in an in-memory file system).
  TargetLocker lock_target;
  // What tells a watch of changes beneath a folder (ANSI); null: the
  // system's (WatchFolderTree).
  std::function<std::unique_ptr<ChangeNotice>(const std::string& dir)>
      watch_notice;
};

struct SessionResult {
  RunOutcome outcome;
  MigrationStats stats;
  int left_out = 0;          // accounts the run never reaches, for their domain
  int stopped = 0;           // accounts a stop left for the next run
  int existing = 0;          // accounts present already and left as they were
  RunPlan plan;              // kPreview
  std::string log_path;      // ANSI; empty when no log was written
  std::string report_path;   // ANSI
  std::string html_path;     // ANSI; the HTML report beside the others
  std::string record_error;  // ANSI; why the records could not be written
  // The run's own closing message (success, a passed check, a preview
  // done), ANSI; a front end shows it, or End()'s, when the run is clean.
  std::string closing;
  // Nothing failed, nothing was left out or stopped, and (preview) the mail
  // fits; for a watch, in every pass.
  bool clean = false;
  // A watch ended by a stop (after its last pass, which began after the
  // stop); outcome.stopped says whether that pass left accounts undone.
  bool watch_stopped = false;
  int passes = 0;  // a watch's passes, the migration included
};

// The message a session ends with; no message when `text` is empty.
struct EndMessage {
  MessageKind kind = MessageKind::kInformation;
  std::string text;  // ANSI
};

// One run of the dialog's run model: the migration (or the dry run, or the
// verification) with the progress model fed by the source scan and the
// run's counters, the stop request, the plan, and the records every
// session leaves without being asked: the result list as a UTF-8 log with
// a header (times, version, installations, options without passwords,
// outcome) and the JSON report, under a timestamped name in the first
// usable records folder.
//
// The host receives the result list and the run's error messages; the
// start button and the password options are the caller's (the options
// come from SessionOptions). The list is emptied only once the run starts
// writing to it, so a start refused at loading keeps the previous list.
// The success messages are not shown: End() gives the message to show.
//
// A dry run writes into an overlay of this object; the shared cache of the
// configuration files keeps a parse per file system object, so a program
// creates the next session before it destroys the last one.
class RunSession {
 public:
  RunSession(const SessionEnvironment& env, SessionOptions options,
             ProgressModel::Listener progress_listener,
             SessionHooks hooks = {});
  RunSession(const RunSession&) = delete;
  RunSession& operator=(const RunSession&) = delete;

  // Runs on the calling thread; returns when the run and its records are
  // done. The target's run lock (SessionEnvironment::lock_target) is held
  // from before the run reads the target until then.
  const SessionResult& Run(RunHost* host);

  // Any thread: ends the run after the account it is at, and a wait for the
  // target's lock or for a configuration file's lock at once; the saves of
  // the run's end still wait for their locks. Once a watch has begun its
  // passes, the first request ends it after one more pass, which starts
  // after the request; a second is a run's stop.
  void RequestStop();
  // A watch is ending after its last pass.
  bool watch_stopping() const;
  bool stop_requested() const { return stop_.requested(); }

  ProgressModel& progress() { return progress_; }
  const ProgressModel& progress() const { return progress_; }
  const SessionResult& result() const { return result_; }
  const SessionOptions& options() const { return options_; }
  const RunRecord& record() const { return *record_; }
  // What the report draws: the migration's record, or a watch's last
  // pass's (every source account as that pass found it). For use on the
  // run's thread, or once the run has ended.
  const RunRecord& Reported() const {
    return pass_record_ != nullptr ? *pass_record_ : *record_;
  }
  // The result list as the session keeps it (ANSI), for its log; empty
  // when the environment names no folder for the records.
  const std::vector<std::string>& lines() const { return lines_; }

  EndMessage End() const;
  // The report of the session, JSON, CSV or HTML (UTF-8), as the console
  // writes. `succeeded` is the report's verdict (the front end's, which may
  // know more: a standard output that failed); by default the session's.
  std::string Report(ReportFormat format) const {
    return Report(format, result_.clean);
  }
  std::string Report(ReportFormat format, bool succeeded) const;
  // The same report written to `path` an account at a time, replacing the
  // file whole; `manifest` is the run manifest's path as shown (UTF-8),
  // empty when the run kept none. False with `error` when it failed.
  bool WriteReport(FileSystem* fs, const std::string& path, ReportFormat format,
                   bool succeeded, const std::string& manifest,
                   std::string* error) const;
  // "20260107-153012-migrate" (local time of the start).
  std::string BaseName() const;
  // The head of the session's log part (run_log.h), its command line
  // `command` (UTF-8; empty: what the dialog was asked to do) and its
  // manifest `manifest` (UTF-8; empty: the session's own, if any).
  LogHead LogHeadOf(const std::string& command,
                    const std::string& manifest) const;
  // The end's named lines: the counts, and the report `report` (UTF-8).
  std::vector<LogLine> LogTail(const std::string& report) const;

 private:
  // The run from the lock on; false when it never loaded.
  bool RunLocked(RunHost* front_host);
  RunSettings Settings() const;
  // The target as the run sees it: the view that confines its writes, or
  // the overlay that keeps them from the disk.
  TargetContext RunTarget();
  // The front end's own files (SessionHooks::before_run) or, for a writing
  // run without, the manifest beside the target's data. False when the
  // front end refused the run.
  bool SetUpManifest(FileSystem* fs, RunSettings* settings);
  // The target's sync record, read for any run but a verification
  // (session_sync_record.cc); a run that writes saves it after it loaded,
  // a line in the list when that fails.
  void LoadSyncRecord(FileSystem* fs, RunSettings* settings);
  void SaveSyncRecord(RunHost* host);
  // A preview's mirror line and plan: false when its mail does not fit.
  // True for the other runs.
  bool PreviewFits(RunHost* host);
  void SetUpMirror(const TargetContext& target, RunSettings* settings);
  void CountOutcomes();
  void Conclude(RunHost* host, bool fits);
  // The line on the accounts the target held already, which a run without
  // sync leaves as they are.
  std::string ExistingLine() const;
  // The sync passes of a watch after the migration (watch_session.cc).
  void ArmWatch();
  void Watch(RunHost* front_host, TargetContext* target, RunSettings settings);
  bool WatchPass(RunHost* front_host, TargetContext* target,
                 const RunSettings& settings, bool* changed);
  void WatchLine(RunHost* front_host, const std::string& line);
  void PassRecords(RunHost* front_host, const WatchPace& pace);
  void WriteRecords();
  std::string LogText(const std::string& report) const;
  ReportHeader Header(bool succeeded) const;

  const SessionEnvironment& env_;
  SessionOptions options_;
  SessionHooks hooks_;
  // What the run touches the target through: confined to the target once
  // its lock is held; a dry run writes into the overlay over it.
  TargetView view_;
  OverlayFileSystem overlay_;
  ProgressModel progress_;
  // options_.changes_only: between the record and the front end's observer,
  // and between the run's lines and the front end's list.
  std::unique_ptr<ChangesOnlyFilter> filter_;
  std::unique_ptr<RunRecord> record_;
  std::unique_ptr<RunRecord> pass_record_;  // a watch's last pass
  int64_t first_pass_started_ = 0;          // MonotonicMicros
  int64_t pass_copied_ = 0;                 // messages the last pass copied
  // Guards the watch's notice (set while the passes go on) and whether a
  // stop asked the watch to end; a leaf (the notice's Wake takes only its
  // own lock).
  mutable std::mutex watch_mutex_;
  ChangeNotice* watch_notice_ = nullptr;
  bool watch_stopping_ = false;
  // A watch's notice, made before the migration so that its passes know
  // what changed since the migration began.
  std::unique_ptr<ChangeNotice> armed_notice_;
  std::vector<std::string> lines_;
  StopRequest stop_;
  SessionResult result_;
  int64_t started_ = 0;
  int64_t ended_ = 0;
  // The manifest of a run whose front end keeps none of its own (the
  // dialog), and its path as shown (UTF-8).
  std::unique_ptr<ManifestFile> manifest_;
  // What the runs on the target saw of its mailboxes; null when the
  // session keeps none (a verification, a data folder not found).
  std::unique_ptr<SyncRecordFile> sync_record_;
  // With sync and mirror: what it may take out, and where to (a preview:
  // what it would).
  std::unique_ptr<SessionMirror> mirror_;
  std::string manifest_shown_;
};

// The name, without its extension, of the records of a run or an undo of
// `kind` ("migrate", "preview", "verify", "undo") started at `started`:
// "20260107-153012-migrate", in local time.
std::string RecordBaseName(int64_t started, const char* kind);

// The message for a suffix or common password the loader would refuse
// (empty or longer than 20 bytes after trimming); empty when it is fine.
std::string PasswordOptionProblem(const SessionOptions& options,
                                  const Texts& texts);

// How many accounts of the source lists the target's user list holds
// already (reads only).
int CountExistingAccounts(const SessionEnvironment& env);

// The verification a session does: none for a preview; a verification
// without a level checks sizes.
VerifyMode SessionVerifyLevel(const SessionOptions& options);

}  // namespace vm

#endif  // VM_SESSION_RUN_SESSION_H_
