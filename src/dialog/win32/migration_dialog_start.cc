#include "dialog/win32/migration_dialog.h"

// Starting a run: the session's options read from the dialog, the ones
// refused before anything starts, and the worker thread the session runs
// on.

#include <memory>
#include <string>
#include <utility>

#include "dialog/win32/dialog_messages.h"
#include "dialog/win32/message_box.h"
#include "dialog/win32/migration_app.h"
#include "dialog/win32/resource.h"
#include "dialog/win32/window_text.h"
#include "migrate/texts.h"
#include "platform/code_page_win32.h"
#include "platform/wide_text_win32.h"

namespace vm {
namespace {

// How long a watch waits between passes when the source tells no change.
constexpr int kDialogWatchSeconds = 10;

}  // namespace

void MigrationDialog::StartRun(SessionKind kind) {
  if (running_) return;
  SessionOptions options;
  options.kind = kind;
  options.sync = Checked(IDC_SYNC);
  options.mirror =
      Checked(IDC_MIRROR) &&
      (options.sync || (kind == SessionKind::kMigrate && Checked(IDC_WATCH)));
  options.changes_only = Checked(IDC_CHANGES_ONLY);
  const bool content = Checked(IDC_VERIFY_CONTENT);
  if (kind == SessionKind::kVerify || Checked(IDC_VERIFY)) {
    options.verify = content ? VerifyMode::kContent : VerifyMode::kSize;
  }
  // A verification builds no password: any option will do.
  if (kind != SessionKind::kVerify) options.password_mode = password_mode_;
  // A character the run's code page cannot hold would become another one
  // in every password built: refused, as the console refuses it.
  const int edit = options.password_mode == PasswordMode::kUserNamePlusSuffix
                       ? IDC_SUFFIX_EDIT
                   : options.password_mode == PasswordMode::kCommonPassword
                       ? IDC_COMMON_EDIT
                       : 0;
  if (edit != 0) {
    const std::string typed = ItemUtf8(window_, edit);
    if (code_page_->ToUtf8(code_page_->ToAnsi(typed)) != typed) {
      ShowMessageBox(window_,
                     Utf8ToWide("密码文本中有代码页 " + env_.code_page_name +
                                " 无法表示的字符，请改用其他字符。"),
                     MessageKind::kWarning);
      return;
    }
  }
  options.suffix = ControlText(IDC_SUFFIX_EDIT);
  options.password = ControlText(IDC_COMMON_EDIT);
  options.jobs = 4;
  if (kind == SessionKind::kMigrate && Checked(IDC_WATCH)) {
    options.watch_seconds = kDialogWatchSeconds;
  }
  // Refused before anything starts, so the list of the last run stays.
  std::string problem = PasswordOptionProblem(options, texts_);
  if (!problem.empty()) {
    ShowMessageBox(window_, WideOf(code_page_id_, problem),
                   MessageKind::kWarning);
    return;
  }
  if (kind == SessionKind::kMigrate && !ConfirmWrite(options.sync)) return;
  running_ = true;
  finishing_ = false;
  close_pending_ = false;
  // The next session exists before the last one goes (see RunSession);
  // a session that never loaded leaves the last report as it was.
  auto next = std::make_unique<RunSession>(
      env_, options,
      [this](const ProgressSnapshot&) {
        if (!progress_posted_.exchange(true)) {
          PostMessageW(window_, kProgress, 0, 0);
        }
      },
      WatchHooks());
  if (session_ != nullptr && session_->result().outcome.loaded) {
    reported_ = std::move(session_);
  }
  session_ = std::move(next);
  LockForRun(true, kind);
  worker_ = CreateThread(nullptr, 0, WorkerMain, this, 0, nullptr);
  if (worker_ == nullptr) {
    running_ = false;
    LockForRun(false, kind);
  }
}

DWORD WINAPI MigrationDialog::WorkerMain(void* dialog) {
  static_cast<MigrationDialog*>(dialog)->RunOnWorker();
  return 0;
}

void MigrationDialog::RunOnWorker() {
  session_->Run(this);
  finishing_ = true;
  // The window's thread shows the end message; this one ends. The last
  // touch of this object from this thread.
  auto end = std::make_unique<EndMessage>(session_->End());
  if (PostMessageW(window_, kRunEnded, 0,
                   reinterpret_cast<LPARAM>(end.get()))) {
    end.release();
  }
}

}  // namespace vm
