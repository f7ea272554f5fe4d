#include "dialog/win32/migration_dialog.h"

#include <commctrl.h>
#include <shlobj.h>

#include "dialog/win32/about_dialog.h"
#include "dialog/win32/message_box.h"
#include "dialog/win32/resource.h"
#include "dialog/win32/save_report.h"
#include "migrate/texts.h"
#include "platform/clock.h"
#include "platform/path_separator_win32.h"
#include "platform/registry.h"
#include "platform/wide_text_win32.h"
#include "vm_version.h"

namespace vm {
namespace {

// Sent by the worker so that its message boxes belong to the user
// interface thread; wparam is the MessageKind, lparam points to the text.
constexpr UINT kShowMessage = WM_APP + 1;
// Posted when the progress model has news (at most one waits at a time).
constexpr UINT kProgress = WM_APP + 2;
// Posted by the worker as its last act.
constexpr UINT kRunEnded = WM_APP + 3;
// Posted by the account count with the number in wparam.
constexpr UINT kExistingCounted = WM_APP + 4;
// Sent by the worker when another run holds the target: lparam points to
// the question, wparam to the bool that takes the answer.
constexpr UINT kAskWait = WM_APP + 5;
// Posted when result-list changes land in an empty queue.
constexpr UINT kLines = WM_APP + 6;
// How long a start waits for another run, once the user agreed to wait.
constexpr int64_t kWaitSeconds = 600;

constexpr int kProgressRange = 1000;

// What a run locks: the options it reads and the buttons that start
// another one.
constexpr int kLockedControls[] = {
    IDC_START,         IDC_PREVIEW,     IDC_VERIFY_ONLY, IDC_SAVE_REPORT,
    IDC_MODE_SAME,     IDC_MODE_SUFFIX, IDC_MODE_COMMON, IDC_MODE_CIPHER,
    IDC_SUFFIX_EDIT,   IDC_COMMON_EDIT, IDC_SYNC,        IDC_VERIFY,
    IDC_VERIFY_CONTENT};

// The folder part of a path in the system's ANSI code page, before its
// last separator.
std::string DirectoryOf(const std::string& path) {
  const size_t last = LastSeparator(GetACP(), path);
  return last == std::string::npos ? std::string() : path.substr(0, last);
}

}  // namespace

MigrationDialog::MigrationDialog(HINSTANCE instance, const AppState& state,
                                 const Texts& texts, FileSystem* fs,
                                 SharedConfigStates* config_states)
    : instance_(instance),
      state_(state),
      texts_(texts),
      code_page_(OpenCodePage("")),
      icon_(LoadIconA(instance, MAKEINTRESOURCEA(IDR_APP_ICON))),
      lines_([this] { PostMessageA(window_, kLines, 0, 0); }) {
  env_.disk = fs;
  env_.code_page = code_page_.get();
  env_.texts = &texts;
  env_.clock = SystemClock();
  env_.config_states = config_states;
  env_.steady_seconds = [] { return GetTickCount64() / 1000.0; };
  env_.state = state;
  env_.version = VM_VERSION;
  env_.code_page_name = "CP" + std::to_string(GetACP());
  env_.lock_target = [this](const TargetLockRequest& request,
                            const StopRequest* stop) {
    return TakeTargetLock(
        request, *code_page_, texts_,
        [this](const std::string& holder) { return AskToWait(holder); }, stop);
  };
  // The records go beside the program; where it may not write there (a
  // program folder of a standard user) or it lies inside an installation,
  // under the common application data folder.
  const std::string folder = code_page_->ToAnsi("迁移报告");
  std::string program_dir = DirectoryOf(ProgramPath());
  if (!program_dir.empty())
    env_.record_dirs.push_back(program_dir + "\\" + folder);
  char common[MAX_PATH] = {};
  if (SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0,
                                 common))) {
    env_.record_dirs.push_back(std::string(common) + "\\VelquorMigrate\\" +
                               folder);
  }
}

MigrationDialog::~MigrationDialog() {
  // The window is gone; a count still reading the target uses env_.
  if (counter_ != nullptr) {
    WaitForSingleObject(counter_, INFINITE);
    CloseHandle(counter_);
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
    SetWindowLongPtrA(window, DWLP_USER, lparam);
  } else {
    dialog = reinterpret_cast<MigrationDialog*>(
        GetWindowLongPtrA(window, DWLP_USER));
  }
  if (dialog == nullptr) return FALSE;
  return dialog->HandleMessage(message, wparam, lparam);
}

INT_PTR MigrationDialog::HandleMessage(UINT message, WPARAM wparam,
                                       LPARAM lparam) {
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
      // The note on accounts the target holds already stands out.
      if (GetDlgCtrlID(reinterpret_cast<HWND>(lparam)) != IDC_SYNC_HINT) {
        return FALSE;
      }
      SetTextColor(reinterpret_cast<HDC>(wparam), RGB(0xB0, 0, 0));
      SetBkMode(reinterpret_cast<HDC>(wparam), TRANSPARENT);
      return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_CLOSE:
      Close(IDCANCEL);
      return TRUE;
    case kShowMessage:
      ShowMessageBox(window_, *reinterpret_cast<const std::string*>(lparam),
                     static_cast<MessageKind>(wparam));
      return TRUE;
    case kProgress:
      progress_posted_ = false;
      ShowProgress();
      return TRUE;
    case kRunEnded:
      OnRunEnded();
      return TRUE;
    case kExistingCounted:
      OnExistingCounted(static_cast<int>(wparam));
      return TRUE;
    case kLines:
      DrainLines();
      return TRUE;
    case kAskWait:
      *reinterpret_cast<bool*>(wparam) =
          AskYesNo(window_, *reinterpret_cast<const std::string*>(lparam));
      return TRUE;
    case WM_DESTROY:
      // No run is active here: Close refuses while one is. A count still
      // running is waited for once the window is gone (destructor).
      source_domains_.clear();
      list_.reset();
      return FALSE;
  }
  return FALSE;
}

BOOL MigrationDialog::OnInitDialog() {
  CenterDialog(window_);
  HMENU system_menu = GetSystemMenu(window_, FALSE);
  char about[256] = {};
  if (system_menu != nullptr &&
      LoadStringA(instance_, IDS_ABOUT_MENU_ENTRY, about, sizeof(about)) > 0) {
    AppendMenuA(system_menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(system_menu, MF_STRING, IDM_ABOUT, about);
  }
  SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageA(window_, WM_SETICON, ICON_SMALL,
               reinterpret_cast<LPARAM>(icon_));

  SetDlgItemTextA(window_, IDC_SOURCE_DIR, state_.source_dir.c_str());
  SetDlgItemTextA(window_, IDC_SOURCE_MAIL_DIR, state_.source_mail_dir.c_str());
  SetDlgItemTextA(window_, IDC_TARGET_DIR, state_.target_dir.c_str());
  SetDlgItemTextA(window_, IDC_TARGET_MAIL_DIR, state_.target_mail_dir.c_str());

  list_ = std::make_unique<ResultListView>(GetDlgItem(window_, IDC_RESULT_LIST),
                                           CP_ACP);

  CheckRadioButton(window_, IDC_MODE_SAME, IDC_MODE_CIPHER, IDC_MODE_SAME);
  SetPasswordMode(PasswordMode::kSameAsUserName);

  // The folder the records go to while nothing else is known.
  for (const std::string& dir : env_.record_dirs) {
    if (!MayHoldRecords(env_.disk, dir, state_)) continue;
    SetDlgItemTextA(window_, IDC_RECORDS_DIR, dir.c_str());
    break;
  }
  SendDlgItemMessageA(window_, IDC_PROGRESS, PBM_SETRANGE32, 0, kProgressRange);
  SetStatus("就绪");
  CountExistingAccountsLater();
  return TRUE;
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
    case IDC_SAVE_REPORT:
      SaveReport();
      break;
    case IDM_COPY_LINES:
      list_->CopySelected(window_);
      break;
    case IDM_SELECT_ALL:
      list_->SelectAll();
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

INT_PTR MigrationDialog::OnNotify(NMHDR* header) {
  if (header->idFrom != IDC_RESULT_LIST || list_ == nullptr) return FALSE;
  switch (header->code) {
    case LVN_GETDISPINFOW:
      list_->OnGetDispInfo(reinterpret_cast<NMLVDISPINFOW*>(header));
      return TRUE;
    case LVN_KEYDOWN:
      list_->OnKey(reinterpret_cast<NMLVKEYDOWN*>(header)->wVKey, window_);
      return TRUE;
  }
  return FALSE;
}

void MigrationDialog::OnContextMenu(HWND control, LPARAM position) {
  if (GetDlgCtrlID(control) != IDC_RESULT_LIST) return;
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, IDM_COPY_LINES, L"复制(&C)\tCtrl+C");
  AppendMenuW(menu, MF_STRING, IDM_SELECT_ALL, L"全选(&A)\tCtrl+A");
  POINT at = {static_cast<short>(LOWORD(position)),
              static_cast<short>(HIWORD(position))};
  if (at.x == -1 && at.y == -1) {  // from the keyboard
    at = {0, 0};
    ClientToScreen(control, &at);
  }
  TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, window_,
                 nullptr);
  DestroyMenu(menu);
}

void MigrationDialog::SetPasswordMode(PasswordMode mode) {
  password_mode_ = mode;
  EnableWindow(GetDlgItem(window_, IDC_SUFFIX_EDIT),
               mode == PasswordMode::kUserNamePlusSuffix);
  EnableWindow(GetDlgItem(window_, IDC_COMMON_EDIT),
               mode == PasswordMode::kCommonPassword);
}

bool MigrationDialog::OnSysCommand(WPARAM command) {
  if ((command & 0xFFF0) != IDM_ABOUT) return false;
  ShowAboutDialog(instance_, window_);
  return true;
}

bool MigrationDialog::OnPaint() {
  if (!IsIconic(window_)) return false;
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window_, &paint);
  SendMessageA(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  int icon_width = GetSystemMetrics(SM_CXICON);
  int icon_height = GetSystemMetrics(SM_CYICON);
  RECT client;
  GetClientRect(window_, &client);
  int x = (client.right - client.left - icon_width + 1) / 2;
  int y = (client.bottom - client.top - icon_height + 1) / 2;
  DrawIcon(dc, x, y, icon_);
  EndPaint(window_, &paint);
  return true;
}

void MigrationDialog::StartRun(SessionKind kind) {
  if (running_) return;
  SessionOptions options;
  options.kind = kind;
  options.sync = Checked(IDC_SYNC);
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
    const std::string typed = ControlUtf8(edit);
    if (code_page_->ToUtf8(code_page_->ToAnsi(typed)) != typed) {
      ShowMessageBox(
          window_,
          code_page_->ToAnsi("密码文本中有代码页 " + env_.code_page_name +
                             " 无法表示的字符，请改用其他字符。"),
          MessageKind::kWarning);
      return;
    }
  }
  options.suffix = ControlText(IDC_SUFFIX_EDIT);
  options.password = ControlText(IDC_COMMON_EDIT);
  options.jobs = 4;
  // Refused before anything starts, so the list of the last run stays.
  std::string problem = PasswordOptionProblem(options, texts_);
  if (!problem.empty()) {
    ShowMessageBox(window_, problem, MessageKind::kWarning);
    return;
  }
  running_ = true;
  finishing_ = false;
  close_pending_ = false;
  // The next session exists before the last one goes (see RunSession);
  // a session that never loaded leaves the last report as it was.
  auto next = std::make_unique<RunSession>(
      env_, options, [this](const ProgressSnapshot&) {
        if (!progress_posted_.exchange(true)) {
          PostMessageA(window_, kProgress, 0, 0);
        }
      });
  next->progress().SetWork(
      kind == SessionKind::kPreview  ? ProgressWork::kPreview
      : kind == SessionKind::kVerify ? ProgressWork::kVerify
                                     : ProgressWork::kCopy);
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

void MigrationDialog::LockForRun(bool running, SessionKind kind) {
  for (int id : kLockedControls) {
    EnableWindow(GetDlgItem(window_, id), !running);
  }
  EnableWindow(GetDlgItem(window_, IDC_STOP), running);
  // The focus leaves a disabled button for the list (which can be read
  // and copied meanwhile), so Esc still reaches the dialog; it returns to
  // the start button, the default, at the end.
  SendMessageA(window_, WM_NEXTDLGCTL,
               reinterpret_cast<WPARAM>(
                   GetDlgItem(window_, running ? IDC_RESULT_LIST : IDC_START)),
               TRUE);
  if (running) {
    SendDlgItemMessageA(window_, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    SetStatus("正在读取源列表并统计邮件...");
    if (kind == SessionKind::kMigrate) {
      SetDlgItemTextA(window_, IDC_START, texts_.start_running.c_str());
    }
    return;
  }
  SetDlgItemTextA(window_, IDC_START, texts_.start_idle.c_str());
  SetPasswordMode(password_mode_);
  EnableWindow(GetDlgItem(window_, IDC_SAVE_REPORT), LastReport() != nullptr);
}

void MigrationDialog::StopRun() {
  if (!running_ || session_ == nullptr) return;
  session_->RequestStop();
  EnableWindow(GetDlgItem(window_, IDC_STOP), FALSE);
  SetStatus("正在停止：等待进行中的复制完成并保存配置...");
}

void MigrationDialog::ShowProgress() {
  if (session_ == nullptr) return;
  ProgressSnapshot snapshot = session_->progress().Snapshot();
  SendDlgItemMessageA(window_, IDC_PROGRESS, PBM_SETPOS,
                      static_cast<WPARAM>(snapshot.Fraction() * kProgressRange),
                      0);
  if (running_ && !session_->stop_requested()) {
    SetStatus(ProgressStatusText(snapshot));
  }
}

void MigrationDialog::SetStatus(const std::string& utf8) {
  SetDlgItemTextW(window_, IDC_STATUS, Utf8ToWide(utf8).c_str());
}

void MigrationDialog::OnRunEnded() {
  DrainLines();
  // The worker posted this as its last act: it is ending, not waiting.
  WaitForSingleObject(worker_, INFINITE);
  CloseHandle(worker_);
  worker_ = nullptr;
  running_ = false;
  const SessionResult& result = session_->result();
  const SessionKind kind = session_->options().kind;
  LockForRun(false, kind);
  ShowProgress();
  if (result.outcome.loaded) {
    const char* word = result.outcome.stopped          ? "已停止。"
                       : kind == SessionKind::kPreview ? "预览已结束。"
                       : kind == SessionKind::kVerify  ? "校验已结束。"
                                                       : "迁移已结束。";
    SetStatus(word + ProgressSummaryText(session_->progress().Snapshot()));
  } else {
    SetStatus("未开始");
  }
  if (!result.log_path.empty()) {
    SetDlgItemTextA(window_, IDC_RECORDS_DIR,
                    DirectoryOf(result.log_path).c_str());
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

void MigrationDialog::CountExistingAccountsLater() {
  // A count under way (it may wait for a configuration lock) is never
  // waited for: a new one starts when its answer arrives.
  if (counter_ != nullptr) {
    recount_ = true;
    return;
  }
  counter_ = CreateThread(nullptr, 0, CountMain, this, 0, nullptr);
}

void MigrationDialog::OnExistingCounted(int count) {
  // The thread posted this as its last act.
  WaitForSingleObject(counter_, INFINITE);
  CloseHandle(counter_);
  counter_ = nullptr;
  ShowExistingAccounts(count);
  if (recount_) {
    recount_ = false;
    CountExistingAccountsLater();
  }
}

void MigrationDialog::DrainLines() {
  std::vector<LineChange> changes = lines_.Take();
  if (list_ != nullptr) list_->Apply(changes);  // null: the window is going
}

DWORD WINAPI MigrationDialog::CountMain(void* dialog) {
  auto* self = static_cast<MigrationDialog*>(dialog);
  int count = CountExistingAccounts(self->env_);
  PostMessageA(self->window_, kExistingCounted, static_cast<WPARAM>(count), 0);
  return 0;
}

void MigrationDialog::ShowExistingAccounts(int count) {
  existing_ = count;
  std::string hint;
  if (count > 0 && !stopped_) {
    hint = "目标中已有本源的帐户 " + std::to_string(count) +
           " 个。切换时请勾选“只复制新邮件”，把新到的邮件复制过去。";
  }
  SetDlgItemTextW(window_, IDC_SYNC_HINT, Utf8ToWide(hint).c_str());
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
  std::string error;
  if (!SaveReportAs(
          window_, ControlText(IDC_RECORDS_DIR), session->BaseName(),
          [session](bool json) { return session->Report(json); }, &error)) {
    if (!error.empty()) ShowMessageBox(window_, error, MessageKind::kError);
  }
}

void MigrationDialog::Close(int result) {
  if (!running_) {
    EndDialog(window_, result);
    return;
  }
  if (finishing_ || close_pending_) {
    // The run is saying how it ended, or already stopping to close.
    MessageBeep(MB_ICONEXCLAMATION);
    return;
  }
  bool stop = AskYesNo(
      window_,
      code_page_->ToAnsi(
          "正在迁移。要停止并关闭窗口吗？\n已完成的帐户和邮件都会保存，"
          "下次点击“开始转移”将继续迁移。"));
  if (!stop) return;
  if (!running_) {  // it ended while the question was open
    EndDialog(window_, result);
    return;
  }
  close_pending_ = true;
  StopRun();
}

int64_t MigrationDialog::AskToWait(const std::string& holder) {
  const std::string question =
      texts_.run_lock_busy + holder + "\n\n" + texts_.run_lock_ask_wait;
  bool wait = false;
  SendMessageA(window_, kAskWait, reinterpret_cast<WPARAM>(&wait),
               reinterpret_cast<LPARAM>(&question));
  if (!wait) return 0;
  ShowMessage(MessageKind::kNotice, texts_.run_lock_waiting + holder +
                                        texts_.run_lock_wait_limit +
                                        std::to_string(kWaitSeconds));
  return kWaitSeconds;
}

DWORD WINAPI MigrationDialog::WorkerMain(void* dialog) {
  static_cast<MigrationDialog*>(dialog)->RunOnWorker();
  return 0;
}

void MigrationDialog::RunOnWorker() {
  session_->Run(this);
  finishing_ = true;
  EnableWindow(GetDlgItem(window_, IDC_STOP), FALSE);
  EndMessage end = session_->End();
  if (!close_pending_ && !end.text.empty()) {
    SendMessageA(window_, kShowMessage, static_cast<WPARAM>(end.kind),
                 reinterpret_cast<LPARAM>(&end.text));
  }
  // The last touch of this object from this thread.
  PostMessageA(window_, kRunEnded, 0, 0);
}

int MigrationDialog::AppendLogLine(const std::string& line) {
  return lines_.Append(line);
}

void MigrationDialog::RemoveLastLine() { lines_.RemoveLast(); }

void MigrationDialog::SelectLastLine() { lines_.FollowEnd(); }

int MigrationDialog::LineCount() { return lines_.Count(); }

void MigrationDialog::ResetLog() { lines_.Reset(); }

std::string MigrationDialog::ControlUtf8(int id) {
  HWND control = GetDlgItem(window_, id);
  int length = GetWindowTextLengthW(control);
  if (length <= 0) return std::string();
  std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
  int got = GetWindowTextW(control, wide.data(), length + 1);
  if (got <= 0) return std::string();
  int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), got, nullptr, 0,
                                  nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), got, utf8.data(), bytes, nullptr,
                      nullptr);
  return utf8;
}

std::string MigrationDialog::ControlText(int id) {
  // Read as Unicode and converted with the run's code page, not through
  // the system's.
  return code_page_->ToAnsi(ControlUtf8(id));
}

bool MigrationDialog::Checked(int id) {
  return IsDlgButtonChecked(window_, id) == BST_CHECKED;
}

void MigrationDialog::ShowMessage(MessageKind kind, const std::string& text) {
  if (kind == MessageKind::kNotice) {
    AppendLogLine(text);
    SelectLastLine();
    return;
  }
  SendMessageA(window_, kShowMessage, static_cast<WPARAM>(kind),
               reinterpret_cast<LPARAM>(&text));
}

SourceDomainList* MigrationDialog::GetSourceDomains() {
  return &source_domains_;
}

}  // namespace vm
