#ifndef VM_APP_WIN32_MIGRATION_DIALOG_H_
#define VM_APP_WIN32_MIGRATION_DIALOG_H_

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "dialog/line_queue.h"
#include "dialog/win32/dialog_layout.h"
#include "dialog/win32/message_box.h"
#include "dialog/win32/result_list_view.h"
#include "migrate/run_host.h"
#include "migrate/undo_choices.h"
#include "platform/code_page.h"
#include "session/run_session.h"
#include "session/startup.h"
#include "session/undo_session.h"

namespace vm {

class FileSystem;
class SharedConfigStates;
struct Texts;

// The main dialog (template 102): shows the four directories, the password
// options, the start button and the result list, and below them the
// cutover: preview, stop, sync, verification, the records folder and the
// progress of a run. Each run (migration, preview or verification) is one
// RunSession on a worker thread (this object is its RunHost). The worker
// never waits for the window to draw: its result lines go into a queue the
// window drains when the one message posted for a batch arrives; only its
// questions and message boxes wait for an answer. The window never waits
// for a thread that may be waiting itself. At most one run is active;
// while it is, the options it uses are locked, the stop button ends it
// after the account it is at, and closing the dialog asks to stop first.
class MigrationDialog : public RunHost {
 public:
  // `config_states` is the program's shared state of the configuration
  // files; it outlives the dialog.
  MigrationDialog(HINSTANCE instance, const AppState& state, const Texts& texts,
                  FileSystem* fs, SharedConfigStates* config_states);
  ~MigrationDialog() override;

  // Shows the dialog modally; returns when it has been closed.
  void RunModal();

  // RunHost, called on the worker thread.
  int AppendLogLine(const std::string& line) override;
  void RemoveLastLine() override;
  void SelectLastLine() override;
  int LineCount() override;
  void ResetLog() override;
  // A notice joins the result list; every other kind is a message box.
  void ShowMessage(MessageKind kind, const std::string& text) override;
  SourceDomainList* GetSourceDomains() override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam,
                                     LPARAM lparam);
  INT_PTR HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  // The messages other threads post (dialog_messages.h).
  INT_PTR HandlePosted(UINT message, WPARAM wparam, LPARAM lparam);
  // The system menu's About entry and the window's icons.
  void SetUpFrame();
  INT_PTR OnColorStatic(HDC dc, HWND control);

  BOOL OnInitDialog();
  void OnCommand(int id, int code);
  bool OnSysCommand(WPARAM command);
  // WM_GETMINMAXINFO, WM_SHOWWINDOW, WM_SIZE and WM_DPICHANGED.
  INT_PTR OnLayoutMessage(UINT message, WPARAM wparam, LPARAM lparam);
  bool OnPaint();
  INT_PTR OnNotify(NMHDR* header);
  void OnContextMenu(HWND control, LPARAM position);
  void SetPasswordMode(PasswordMode mode);
  void UpdateMirrorBox();
  void StartRun(SessionKind kind);
  void StopRun();
  // The watch (migration_dialog_watch.cc): the hooks that post its status
  // line, that line drawn, and the first stop of a watch under way (false
  // when the stop is a run's).
  SessionHooks WatchHooks();
  void OnWatchStatus(std::unique_ptr<std::string> status);
  bool StopWatch();
  // The worker has ended: shows its end message, then finishes the run.
  void OnRunEnded(std::unique_ptr<EndMessage> end);
  void FinishRun();
  // Enables and disables the controls for a run of `kind` or for idle.
  void LockForRun(bool running, SessionKind kind);
  void ShowProgress();
  void SetStatus(const std::string& utf8);
  void CountExistingAccountsLater();
  void OnExistingCounted(int count);
  // Shows every result-list change the worker queued.
  void DrainLines();
  void ShowExistingAccounts(int count);
  void SaveReport();
  // The session whose report "save report" writes: the last one that
  // loaded the source lists; null before any.
  RunSession* LastReport();
  void Close(int result);
  // Before a migration into an installed target: asks, with the last
  // preview's counts; true to go on (always, for a temporary folder).
  // `sync`: the run copies new mail into existing accounts too.
  bool ConfirmWrite(bool sync);
  void RunOnWorker();
  // On the worker: another run holds the target (`holder` says who). Asks
  // whether to wait; the seconds to wait.
  int64_t AskToWait(const std::string& holder);
  // The undo of a recorded run (migration_dialog_undo.cc): the target's
  // manifests read by a thread of their own (ListRunsMain, then
  // OnRunsListed), the choice of the run on the window's thread; its
  // preview, the question and the removals on the worker, as a run. Ends
  // like a run, with FinishUndo.
  void StartUndo();
  void OnRunsListed();
  void BeginUndo(const std::string& manifest);
  static DWORD WINAPI ListRunsMain(void* dialog);
  EndMessage UndoOnWorker();
  // On the worker: asks whether to undo what `preview` lists.
  bool ConfirmUndo(const UndoResult& preview);
  // On the worker: the undo's end message, once its session has ended.
  EndMessage EndUndo(const UndoSession& session);
  void FinishUndo();
  void ShowUndoProgress();
  static DWORD WINAPI UndoMain(void* dialog);
  static DWORD WINAPI WorkerMain(void* dialog);
  static DWORD WINAPI CountMain(void* dialog);
  // The start button's caption for the core's `caption`, with its key.
  std::wstring StartCaption(const std::string& caption) const;
  // A control's text in the run's code page.
  std::string ControlText(int id);
  bool Checked(int id);

  HINSTANCE instance_;
  const AppState& state_;
  const Texts& texts_;
  // A question the worker waits on; answered by the window's thread.
  struct Question {
    std::wstring text;
    std::promise<bool> answer;
  };

  unsigned int code_page_id_;            // the run's code page (number)
  std::unique_ptr<CodePage> code_page_;  // the run's code page
  SessionEnvironment env_;
  HICON icon_;
  HWND window_ = nullptr;
  LineQueue lines_;  // from the worker to the list

  // Written by the user interface thread, read by the worker.
  std::atomic<PasswordMode> password_mode_{PasswordMode::kSameAsUserName};
  // Set by the click before the worker starts, cleared when the user
  // interface thread has seen the worker end.
  std::atomic<bool> running_{false};
  // The run's work is done and its end message is being shown.
  std::atomic<bool> finishing_{false};
  // The dialog closes as soon as the run has ended; no end message.
  std::atomic<bool> close_pending_{false};
  std::atomic<bool> progress_posted_{false};
  HANDLE worker_ = nullptr;
  HANDLE counter_ = nullptr;  // the running count; null when none
  // The reading of the manifests an undo offers (null when none runs),
  // and what it reads and finds: the window's thread fills in where to
  // look before the thread starts and takes the runs after it ended.
  HANDLE lister_ = nullptr;
  struct RunsListing {
    std::string own;  // the target's own folder of manifests
    std::vector<std::string> folders;
    std::string target_dir;
    std::string status;  // the status line before (UTF-8)
    std::vector<RecordedRun> runs;
  };
  std::unique_ptr<RunsListing> listing_;
  bool recount_ = false;          // count again when the running count ends
  std::atomic<int> existing_{0};  // result of the last count
  bool stopped_ = false;          // the last migration was stopped
  // The counts of the last preview (UTF-8), until a migration runs, and
  // whether this window has made one.
  std::string preview_counts_;
  bool previewed_ = false;
  // The active run is an undo (set before its worker starts, cleared when
  // it has finished; window thread only), of this manifest (ANSI), with
  // its session (made on the window's thread before the worker starts, so
  // that a stop always finds it) and its count of items handled (by the
  // preview, then by the removals).
  bool undoing_ = false;
  std::string undo_manifest_;
  std::unique_ptr<UndoSession> undo_session_;
  std::atomic<int> undo_handled_{0};
  std::atomic<int> undo_total_{0};
  std::atomic<bool> undo_removing_{false};  // past the preview and question
  // The undo's status line at its end (UTF-8) and its log (ANSI; empty
  // when none was written), written by its worker before it ends.
  std::string undo_status_;
  std::string undo_log_path_;
  // The running or last session; replaced (never just destroyed) when the
  // next run starts. Its report is the one "save report" writes.
  std::unique_ptr<RunSession> session_;
  // The last session that loaded, when session_ did not.
  std::unique_ptr<RunSession> reported_;

  // Used by the worker only (the lists are freed on destroy, which cannot
  // happen while a run is active).
  SourceDomainList source_domains_;
  // The result list and the message boxes (window thread only).
  std::unique_ptr<ResultListView> list_;
  std::unique_ptr<MessageBoxQueue> boxes_;
  std::unique_ptr<DialogLayout> layout_;
  int dpi_ = 96;                   // the DPI the window is shown at
  bool maximize_on_show_ = false;  // it was maximised when last closed
};

}  // namespace vm

#endif  // VM_APP_WIN32_MIGRATION_DIALOG_H_
