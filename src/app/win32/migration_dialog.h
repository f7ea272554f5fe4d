#ifndef VM_APP_WIN32_MIGRATION_DIALOG_H_
#define VM_APP_WIN32_MIGRATION_DIALOG_H_

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "app/progress_log.h"
#include "app/startup.h"
#include "app/win32/list_box_log.h"
#include "config/target_context.h"
#include "migrate/migration_run.h"
#include "migrate/run_host.h"

namespace vm {

class FileSystem;
class SharedConfigStates;
struct Texts;

// The main dialog (template 102): shows the four directories, the password
// options, the start button and the result list, and owns the source lists.
// Each press of the start button runs one migration on a worker thread,
// which reaches the controls only through synchronous window messages
// (this object is its RunHost). At most one run is active; the dialog
// cannot be closed while it is.
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
  void SetStartCaption(const std::string& caption) override;
  void EnableStart(bool enabled) override;
  int AppendLogLine(const std::string& line) override;
  void RemoveLastLine() override;
  void SelectLastLine() override;
  int LineCount() override;
  void ResetLog() override;
  PasswordMode GetPasswordMode() override;
  std::string SuffixText() override;
  std::string CommonPasswordText() override;
  void ShowMessage(const std::string& text) override;
  SourceDomainList* GetSourceDomains() override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wparam,
                                     LPARAM lparam);
  INT_PTR HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);

  BOOL OnInitDialog();
  void OnCommand(int id, int code);
  bool OnSysCommand(WPARAM command);
  bool OnPaint();
  void SetPasswordMode(PasswordMode mode);
  void StartMigration();
  void Close(int result);
  void RunOnWorker();
  static DWORD WINAPI WorkerMain(void* dialog);
  std::string ControlText(int id);

  HINSTANCE instance_;
  const AppState& state_;
  const Texts& texts_;
  HICON icon_;
  HWND window_ = nullptr;

  // Written by the user interface thread, read by the worker.
  std::atomic<PasswordMode> password_mode_{PasswordMode::kSameAsUserName};
  // Set by the click before the worker starts, cleared by the worker as its
  // last act.
  std::atomic<bool> running_{false};

  // Used by the worker only (the lists are freed on destroy, which cannot
  // happen while a run is active).
  SourceDomainList source_domains_;
  TargetContext target_;
  MigrationStats stats_;
  std::unique_ptr<ListBoxView> log_view_;
  std::unique_ptr<ListBoxMeasurer> log_measurer_;
  std::unique_ptr<ProgressLog> log_;
};

}  // namespace vm

#endif  // VM_APP_WIN32_MIGRATION_DIALOG_H_
