#ifndef VM_SESSION_UNDO_SESSION_H_
#define VM_SESSION_UNDO_SESSION_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "migrate/run_manifest.h"
#include "migrate/stop_request.h"
#include "migrate/undo_run.h"
#include "session/report_file.h"
#include "session/run_log.h"
#include "session/run_session.h"
#include "session/undo_report_html.h"
#include "session/undone_copies.h"

namespace vm {

class CodePage;
class FileSystem;
class LockWaitListener;
class NameOps;
class SharedConfigStates;
class StopRequest;
struct AppState;
struct Texts;

// The undo of one run from its manifest, as both front ends run it: the
// checks before anything is touched, the removals, and what the undo
// leaves (its result list, its report). The front ends take the target's
// run lock themselves (exclusive; shared for a dry run) and draw.

// Why an undo may not start; nothing is removed.
enum class UndoCheck {
  kGo,
  kUnreadable,          // the manifest cannot be read
  kDamaged,             // see *bad_line
  kUnsupportedVersion,  // a manifest of another format version
  kOtherTarget,         // the manifest is of another target
  kUndone,              // a copy says the run was undone: nothing to do
};

// Reads the manifest at `manifest_path` (ANSI) into `manifest` and checks
// it was written for the target `target_dir` (ManifestIsOfTarget) and is
// not marked undone; `*id` (may be null) gets what tells its run's bytes.
UndoCheck CheckUndoManifest(FileSystem* disk, const std::string& target_dir,
                            const std::string& manifest_path,
                            RunManifest* manifest, int* bad_line,
                            RunBytesId* id = nullptr);

// The refusal's message (ANSI). The unreadable one ends where the
// manifest's path is to follow; the front end adds it as it shows paths.
std::string UndoRefusal(const Texts& texts, UndoCheck check, int bad_line,
                        const RunManifest& manifest);

// One undo on the target (whose run lock the caller holds). A dry run
// reads through an overlay, so not even a store's save reaches the disk.
struct UndoRequest {
  FileSystem* disk = nullptr;
  const CodePage* code_page = nullptr;
  const Texts* texts = nullptr;
  SharedConfigStates* config_states = nullptr;
  std::string target_dir;  // ANSI
  bool dry_run = false;
  const StopRequest* stop = nullptr;  // may be null
  // Called on the undo's threads after each item is handled; may be empty.
  std::function<void()> item_handled;
  // Told when another program keeps a configuration file's lock long; may
  // be null.
  LockWaitListener* lock_waits = nullptr;
};
UndoResult RunUndo(const UndoRequest& request, const RunManifest& manifest);

// The result list (ANSI): a head line naming the manifest, one line per
// item (UndoLine), and the summary.
std::vector<std::string> UndoResultLines(const Texts& texts,
                                         const std::string& manifest_path,
                                         const UndoResult& result,
                                         bool dry_run);

// The undo's JSON report (UTF-8), as docs/user-guide.md describes it;
// `manifest_shown` (UTF-8) names the manifest (ShownRecordPath).
std::string UndoReportJson(const CodePage& code_page,
                           const std::string& manifest_shown,
                           const std::string& target_dir,
                           const UndoResult& result, bool dry_run,
                           int64_t started, bool stopped);

// The same as CSV for spreadsheets (UTF-8 with a byte-order mark, CR LF
// line ends, fields guarded as the run's CSV report guards them): a header
// row, then kind, name, outcome and reason of each item.
std::string UndoReportCsv(const CodePage& code_page, const UndoResult& result);

class UndoSession;

// What the user chose for one undo, and what the front end adds to it.
struct UndoOptions {
  std::string manifest_path;  // ANSI
  bool dry_run = false;       // a preview only: nothing is removed
  // Asked, with the preview, before anything is removed (the dialog): the
  // undo then previews first, under the same hold of the target's lock,
  // and removes only when this answers yes. Null: no question.
  std::function<bool(const UndoResult& preview)> confirm;
  // Called on the undo's threads after each item is handled, and once the
  // manifest is read with the number of its items; may be empty.
  std::function<void()> item_handled;
  std::function<void(int items)> items_known;
  // The command line the records show (UTF-8), e.g. "velquor-migrate
  // --undo M --target T".
  std::string shown_command;
  // At the end, while the lock is still held: the front end's own records
  // (the console's --log and --report). False: they failed.
  std::function<bool(const UndoSession& session)> records;
};

// One undo as both front ends run it: the manifest's checks, the target's
// run lock (exclusive; shared for a preview), the preview and its question
// when asked for, the removals, the verdict and the records (a front end
// that names record folders gets the log and the report there, named as a
// run's are, with "-undo"). The result list goes to the host line by line;
// refusals and notices are its messages.
class UndoSession {
 public:
  UndoSession(const SessionEnvironment& env, UndoOptions options);
  UndoSession(const UndoSession&) = delete;
  UndoSession& operator=(const UndoSession&) = delete;

  // Runs on the calling thread; returns when the undo and its records are
  // done.
  void Run(RunHost* host);
  // Any thread: the removals under way finish, the rest is not reached; a
  // wait for the target's lock ends at once.
  void RequestStop() { stop_.Request(); }
  bool stop_requested() const { return stop_.requested(); }

  // Whether the undo got past its checks and its lock (else nothing was
  // looked at, and a message said why).
  bool started() const { return started_; }
  // The dialog's question was answered no: only the preview was made.
  bool declined() const { return declined_; }
  // Why it did not start (ANSI), as its message said; empty when it did,
  // or when the front end's locker told the reason itself.
  const std::string& refusal() const { return refusal_; }
  RunEnd end() const { return end_; }
  const UndoResult& result() const { return result_; }
  // The result list as given to the host (ANSI).
  const std::vector<std::string>& lines() const { return lines_; }
  // The log's part (UTF-8; see run_log.h): its head, the result list, its
  // end naming the report `report` (UTF-8) and the exit status `status`
  // (< 0: none).
  std::string LogText(int status, const std::string& report) const;
  // The report (UTF-8) in `format`.
  std::string Report(ReportFormat format) const;
  // Replaces the file `path` (ANSI) with the report, written a piece at a
  // time.
  bool WriteReport(FileSystem* fs, const std::string& path, ReportFormat format,
                   std::string* error) const;
  // The manifest as the records name it (UTF-8, absolute).
  const std::string& manifest_shown() const { return manifest_shown_; }
  // The records written into a record folder (ANSI paths); empty when the
  // front end names none, or none took them (then `record_error` says why).
  const std::string& log_path() const { return log_path_; }
  const std::string& html_path() const { return html_path_; }
  const std::string& record_error() const { return record_error_; }
  bool records_failed() const { return records_failed_; }

 private:
  bool Check(RunHost* host);
  bool Reread(RunHost* host);
  void Finish();
  void Refuse(RunHost* host, UndoCheck check, int bad_line);
  UndoResult Remove(bool dry_run, RunHost* host);
  void Show(RunHost* host, bool dry_run);
  void WriteRecords();
  UndoPageHeader PageHeader() const;

  const SessionEnvironment& env_;
  UndoOptions options_;
  StopRequest stop_;
  RunManifest manifest_;
  RunBytesId run_id_;
  UndoResult result_;
  std::vector<std::string> lines_;
  RunEnd end_ = RunEnd::kFailed;
  bool started_ = false;
  bool declined_ = false;
  bool records_failed_ = false;
  int64_t started_at_ = 0;
  int64_t ended_at_ = 0;
  std::string log_path_;
  std::string html_path_;
  std::string record_error_;
  std::string refusal_;
  std::string manifest_shown_;
};

}  // namespace vm

#endif  // VM_SESSION_UNDO_SESSION_H_
