#include "dialog/win32/migration_dialog.h"

#include <commctrl.h>
#include <shellapi.h>

#include <utility>

#include "dialog/win32/dialog_messages.h"
#include "dialog/win32/end_status.h"
#include "dialog/win32/message_box.h"
#include "dialog/win32/migration_app.h"
#include "dialog/win32/record_folders.h"
#include "dialog/win32/resource.h"
#include "dialog/win32/save_report.h"
#include "dialog/win32/window_size_store.h"
#include "dialog/win32/window_text.h"
#include "migrate/texts.h"
#include "platform/clock.h"
#include "platform/code_page_win32.h"
#include "platform/wide_text_win32.h"
#include "vm_version.h"

namespace vm {
namespace {

constexpr int kProgressRange = 1000;

// What a run locks: the options it reads and the buttons that start
// another one.
constexpr int kLockedControls[] = {
    IDC_START,          IDC_PREVIEW,      IDC_VERIFY_ONLY, IDC_SAVE_REPORT,
    IDC_MODE_SAME,      IDC_MODE_SUFFIX,  IDC_MODE_COMMON, IDC_MODE_CIPHER,
    IDC_SUFFIX_EDIT,    IDC_COMMON_EDIT,  IDC_SYNC,        IDC_VERIFY,
    IDC_VERIFY_CONTENT, IDC_CHANGES_ONLY, IDC_UNDO,        IDC_WATCH,
    IDC_MIRROR};

}  // namespace

MigrationDialog::MigrationDialog(HINSTANCE instance, const AppState& state,
                                 const Texts& texts, FileSystem* fs,
                                 SharedConfigStates* config_states)
    : instance_(instance),
      state_(state),
      texts_(texts),
      code_page_id_(CodePageId(kDialogCodePage)),
      code_page_(OpenCodePage(kDialogCodePage)),
      icon_(LoadIconW(instance, MAKEINTRESOURCEW(IDR_APP_ICON))),
      lines_([this] { PostMessageW(window_, kLines, 0, 0); }) {
  env_.disk = fs;
  env_.code_page = code_page_.get();
  env_.texts = &texts;
  env_.clock = SystemClock();
  env_.config_states = config_states;
  env_.steady_seconds = [] { return GetTickCount64() / 1000.0; };
  env_.state = state;
  env_.version = VM_VERSION;
  env_.code_page_name = "CP" + std::to_string(code_page_id_);
  env_.lock_target = [this](const TargetLockRequest& request,
                            const StopRequest* stop) {
    return TakeTargetLock(
        request, *code_page_, texts_,
        [this](const std::string& holder) { return AskToWait(holder); }, stop);
  };
  env_.record_dirs =
      DialogRecordFolders(code_page_id_, code_page_->ToAnsi("迁移报告"));
  env_.guide = InstalledGuideAddress();
}

MigrationDialog::~MigrationDialog() {
  // The window is gone; a count still reading the target, or the reading
  // of its manifests, uses env_.
  for (HANDLE thread : {counter_, lister_}) {
    if (thread == nullptr) continue;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
}

void MigrationDialog::RunModal() {
  // A Unicode window: the list's notifications come in their wide form.
  DialogBoxParamW(instance_, MAKEINTRESOURCEW(IDD_MIGRATION_DIALOG), nullptr,
                  DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK MigrationDialog::DialogProc(HWND window, UINT message,
                                             WPARAM wparam, LPARAM lparam) {
  MigrationDialog* dialog = nullptr;
  if (message == WM_INITDIALOG) {
    dialog = reinterpret_cast<MigrationDialog*>(lparam);
    dialog->window_ = window;
    SetWindowLongPtrW(window, DWLP_USER, lparam);
  } else {
    dialog = reinterpret_cast<MigrationDialog*>(
        GetWindowLongPtrW(window, DWLP_USER));
  }
  if (dialog == nullptr) return FALSE;
  return dialog->HandleMessage(message, wparam, lparam);
}

INT_PTR MigrationDialog::HandleMessage(UINT message, WPARAM wparam,
                                       LPARAM lparam) {
  if (message >= WM_APP) return HandlePosted(message, wparam, lparam);
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return TRUE;
    case WM_SYSCOMMAND:
      return OnSysCommand(wparam);
    case WM_PAINT:
      return OnPaint();
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(icon_);
    case WM_NOTIFY:
      return OnNotify(reinterpret_cast<NMHDR*>(lparam));
    case WM_CONTEXTMENU:
      OnContextMenu(reinterpret_cast<HWND>(wparam), lparam);
      return TRUE;
    case WM_CTLCOLORSTATIC:
      return OnColorStatic(reinterpret_cast<HDC>(wparam),
                           reinterpret_cast<HWND>(lparam));
    case WM_CLOSE:
      Close(IDCANCEL);
      return TRUE;
    case WM_GETMINMAXINFO:
    case WM_SHOWWINDOW:
    case WM_SIZE:
    case kDpiChanged:
      return OnLayoutMessage(message, wparam, lparam);
    case WM_DESTROY:
      // No run is active here: Close refuses while one is. A count still
      // running is waited for once the window is gone (destructor).
      SaveWindowSize(window_);
      source_domains_.clear();
      list_.reset();
      return FALSE;
  }
  return FALSE;
}

BOOL MigrationDialog::OnInitDialog() {
  dpi_ = WindowDpi(window_);
  layout_ = std::make_unique<DialogLayout>(
      window_, IDC_RESULT_LIST, IDC_PREVIEW,
      std::vector<int>{IDC_PROGRESS, IDC_STATUS, IDC_RECORDS_DIR});
  maximize_on_show_ = RestoreWindowSize(window_);
  SetUpFrame();
  boxes_ = std::make_unique<MessageBoxQueue>(window_);

  SetItemText(window_, IDC_SOURCE_DIR, code_page_id_, state_.source_dir);
  SetItemText(window_, IDC_SOURCE_MAIL_DIR, code_page_id_,
              state_.source_mail_dir);
  SetItemText(window_, IDC_TARGET_DIR, code_page_id_, state_.target_dir);
  SetItemText(window_, IDC_TARGET_MAIL_DIR, code_page_id_,
              state_.target_mail_dir);

  list_ = std::make_unique<ResultListView>(GetDlgItem(window_, IDC_RESULT_LIST),
                                           code_page_id_);
  layout_->Arrange();
  list_->Refit();

  CheckRadioButton(window_, IDC_MODE_SAME, IDC_MODE_CIPHER, IDC_MODE_SAME);
  SetPasswordMode(PasswordMode::kSameAsUserName);

  // The folder the records go to while nothing else is known.
  for (const std::string& dir : env_.record_dirs) {
    if (!MayHoldRecords(env_.disk, dir, state_)) continue;
    SetItemText(window_, IDC_RECORDS_DIR, code_page_id_, dir);
    break;
  }
  SendDlgItemMessageW(window_, IDC_PROGRESS, PBM_SETRANGE32, 0, kProgressRange);
  SetStatus("就绪");
  CountExistingAccountsLater();
  // The start button has the focus (Tab then follows the layout from the
  // top); FALSE keeps the system from moving it to the first control.
  SetFocus(GetDlgItem(window_, IDC_START));
  return FALSE;
}

void MigrationDialog::OnCommand(int id, int code) {
  if (code != BN_CLICKED) return;
  switch (id) {
    case IDC_START:
      StartRun(SessionKind::kMigrate);
      break;
    case IDC_PREVIEW:
      StartRun(SessionKind::kPreview);
      break;
    case IDC_VERIFY_ONLY:
      StartRun(SessionKind::kVerify);
      break;
    case IDC_STOP:
      StopRun();
      break;
    case IDC_UNDO:
      StartUndo();
      break;
    case IDC_SAVE_REPORT:
      SaveReport();
      break;
    case IDM_COPY_LINES:
      list_->CopySelected(window_);
      break;
    case IDM_SELECT_ALL:
      list_->SelectAll();
      break;
    case IDC_SYNC:
      // A sync lists only what it changed unless the user says otherwise.
      CheckDlgButton(window_, IDC_CHANGES_ONLY,
                     Checked(IDC_SYNC) ? BST_CHECKED : BST_UNCHECKED);
      UpdateMirrorBox();
      break;
    case IDC_WATCH:
      UpdateMirrorBox();
      break;
    case IDC_MODE_SAME:
      SetPasswordMode(PasswordMode::kSameAsUserName);
      break;
    case IDC_MODE_SUFFIX:
      SetPasswordMode(PasswordMode::kUserNamePlusSuffix);
      break;
    case IDC_MODE_COMMON:
      SetPasswordMode(PasswordMode::kCommonPassword);
      break;
    case IDC_MODE_CIPHER:
      SetPasswordMode(PasswordMode::kSourceCipherText);
      break;
    case IDCANCEL:
      Close(IDCANCEL);
      break;
    default:
      // IDOK comes from Enter when no default button is enabled (during a
      // run); it must not end the dialog.
      break;
  }
}

// The mirror belongs to a sync (or a watch, whose passes are syncs): its
// box is offered only with one of them.
void MigrationDialog::UpdateMirrorBox() {
  const bool offered = Checked(IDC_SYNC) || Checked(IDC_WATCH);
  EnableWindow(GetDlgItem(window_, IDC_MIRROR), offered);
}

void MigrationDialog::SetPasswordMode(PasswordMode mode) {
  password_mode_ = mode;
  EnableWindow(GetDlgItem(window_, IDC_SUFFIX_EDIT),
               mode == PasswordMode::kUserNamePlusSuffix);
  EnableWindow(GetDlgItem(window_, IDC_COMMON_EDIT),
               mode == PasswordMode::kCommonPassword);
}

void MigrationDialog::LockForRun(bool running, SessionKind kind) {
  for (int id : kLockedControls) {
    EnableWindow(GetDlgItem(window_, id), !running);
  }
  EnableWindow(GetDlgItem(window_, IDC_STOP), running);
  if (!running) UpdateMirrorBox();
  // The focus leaves a disabled button for the list (which can be read
  // and copied meanwhile), so Esc still reaches the dialog; it returns to
  // the start button, the default, at the end.
  SendMessageW(window_, WM_NEXTDLGCTL,
               reinterpret_cast<WPARAM>(
                   GetDlgItem(window_, running ? IDC_RESULT_LIST : IDC_START)),
               TRUE);
  if (running) {
    SendDlgItemMessageW(window_, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    SetStatus("正在读取源列表并统计邮件...");
    if (kind == SessionKind::kMigrate) {
      SetDlgItemTextW(window_, IDC_START,
                      StartCaption(texts_.start_running).c_str());
    }
    return;
  }
  SetDlgItemTextW(window_, IDC_START, StartCaption(texts_.start_idle).c_str());
  SetPasswordMode(password_mode_);
  EnableWindow(GetDlgItem(window_, IDC_SAVE_REPORT), LastReport() != nullptr);
}

void MigrationDialog::StopRun() {
  if (!running_) return;
  if (undoing_) {
    undo_session_->RequestStop();
  } else if (StopWatch()) {
    return;
  } else if (session_ != nullptr) {
    session_->RequestStop();
  } else {
    return;
  }
  EnableWindow(GetDlgItem(window_, IDC_STOP), FALSE);
  // An undo copies nothing: the removals under way finish (and a
  // configuration file's save, which a stop does not cut).
  SetStatus(undoing_ ? code_page_->ToUtf8(texts_.undo_stopping)
                     : "正在停止：等待进行中的复制完成并保存配置...");
}

void MigrationDialog::ShowProgress() {
  if (undoing_) {
    ShowUndoProgress();
    return;
  }
  if (session_ == nullptr) return;
  ProgressSnapshot snapshot = session_->progress().Snapshot();
  SendDlgItemMessageW(window_, IDC_PROGRESS, PBM_SETPOS,
                      static_cast<WPARAM>(snapshot.Fraction() * kProgressRange),
                      0);
  if (running_ && !session_->stop_requested()) {
    SetStatus(ProgressStatusText(snapshot));
  }
}

void MigrationDialog::SetStatus(const std::string& utf8) {
  SetItemUtf8(window_, IDC_STATUS, utf8);
}

void MigrationDialog::OnRunEnded(std::unique_ptr<EndMessage> end) {
  DrainLines();
  // The worker posted this as its last act: it is ending, not waiting.
  WaitForSingleObject(worker_, INFINITE);
  CloseHandle(worker_);
  worker_ = nullptr;
  EnableWindow(GetDlgItem(window_, IDC_STOP), FALSE);
  // The run stays active (its button, a refused close) while its end
  // message is open.
  std::wstring text;
  if (end != nullptr && !close_pending_)
    text = WideOf(code_page_id_, end->text);
  // The end box of a run or an undo with an HTML page offers to open it.
  std::function<void()> open_page;
  const std::string page =
      undoing_              ? (undo_session_ ? undo_session_->html_path() : "")
      : session_ == nullptr ? ""
                            : session_->result().html_path;
  if (!text.empty() && !page.empty()) {
    text += L"\n\n要在浏览器中打开 HTML 报告吗？";
    open_page = [this, page] {
      ShellExecuteW(window_, L"open", WideOf(code_page_id_, page).c_str(),
                    nullptr, nullptr, SW_SHOWNORMAL);
    };
  }
  boxes_->Show(
      std::move(text), end != nullptr ? end->kind : MessageKind::kInformation,
      [this] { undoing_ ? FinishUndo() : FinishRun(); }, std::move(open_page));
}

void MigrationDialog::FinishRun() {
  running_ = false;
  const SessionResult& result = session_->result();
  const SessionKind kind = session_->options().kind;
  LockForRun(false, kind);
  ShowProgress();
  SetStatus(EndStatusText(*session_));
  if (!result.log_path.empty()) {
    SetItemText(window_, IDC_RECORDS_DIR, code_page_id_,
                DirectoryOf(code_page_id_, result.log_path));
  }
  if (kind != SessionKind::kVerify) {
    // The plan a migration confirms; a migration makes it stale.
    preview_counts_ = kind == SessionKind::kPreview && result.outcome.loaded
                          ? ProgressSummaryText(session_->progress().Snapshot())
                          : std::string();
    if (!preview_counts_.empty()) previewed_ = true;
  }
  if (kind == SessionKind::kMigrate) {
    // After a stop the one instruction is the end message's: start again
    // to continue. The note on existing accounts returns after a run that
    // was not stopped.
    stopped_ = result.outcome.stopped;
    CountExistingAccountsLater();
  }
  if (close_pending_) EndDialog(window_, IDCANCEL);
}

RunSession* MigrationDialog::LastReport() {
  if (session_ != nullptr && session_->result().outcome.loaded) {
    return session_.get();
  }
  return reported_.get();
}

void MigrationDialog::SaveReport() {
  RunSession* session = LastReport();
  if (session == nullptr || running_) return;
  std::wstring error;
  if (!SaveReportAs(
          window_, code_page_id_, ControlText(IDC_RECORDS_DIR),
          session->BaseName(),
          [session](ReportFormat format) { return session->Report(format); },
          &error)) {
    if (!error.empty()) ShowMessageBox(window_, error, MessageKind::kError);
  }
}

std::wstring MigrationDialog::StartCaption(const std::string& caption) const {
  // Alt+S starts, as the other buttons have their keys; a running
  // caption names no key (the button is disabled).
  return WideOf(code_page_id_, caption) +
         (caption == texts_.start_idle ? L"(&S)" : L"");
}

std::string MigrationDialog::ControlText(int id) {
  // Read as Unicode and converted with the run's code page, not through
  // the system's.
  return code_page_->ToAnsi(ItemUtf8(window_, id));
}

bool MigrationDialog::Checked(int id) {
  return IsDlgButtonChecked(window_, id) == BST_CHECKED;
}

}  // namespace vm
