#include "app/win32/migration_dialog.h"

#include "app/win32/about_dialog.h"
#include "app/win32/resource.h"
#include "migrate/texts.h"
#include "platform/clock.h"
#include "platform/code_page.h"

namespace vm {
namespace {

// Sent by the worker so that its message boxes belong to the user
// interface thread; lparam points to the text.
constexpr UINT kShowMessage = WM_APP + 1;

constexpr char kMessageCaption[] = "VelquorMigrate";

}  // namespace

MigrationDialog::MigrationDialog(HINSTANCE instance, const AppState& state,
                                 const Texts& texts, FileSystem* fs,
                                 SharedConfigStates* config_states)
    : instance_(instance),
      state_(state),
      texts_(texts),
      icon_(LoadIconA(instance, MAKEINTRESOURCEA(IDR_APP_ICON))) {
  target_.fs = fs;
  target_.clock = SystemClock();
  target_.states = config_states;
  target_.target_dir = state.target_dir;
  // Names are in the system's ANSI code page.
  if (std::unique_ptr<CodePage> ansi = OpenCodePage("")) {
    target_.names = NameOps(ansi->LeadBytes());
  }
}

MigrationDialog::~MigrationDialog() = default;

void MigrationDialog::RunModal() {
  DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_MIGRATION_DIALOG), nullptr,
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
    case WM_CLOSE:
      Close(IDCANCEL);
      return TRUE;
    case kShowMessage:
      MessageBoxA(window_,
                  reinterpret_cast<const std::string*>(lparam)->c_str(),
                  kMessageCaption, MB_OK);
      return TRUE;
    case WM_DESTROY:
      // No run is active here: Close refuses while one is.
      source_domains_.clear();
      log_.reset();
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

  HWND list_box = GetDlgItem(window_, IDC_RESULT_LIST);
  log_view_ = std::make_unique<ListBoxView>(list_box);
  log_measurer_ = std::make_unique<ListBoxMeasurer>(list_box);
  log_ = std::make_unique<ProgressLog>(log_view_.get(), log_measurer_.get());

  CheckRadioButton(window_, IDC_MODE_SAME, IDC_MODE_CIPHER, IDC_MODE_SAME);
  SetPasswordMode(PasswordMode::kSameAsUserName);
  return TRUE;
}

void MigrationDialog::OnCommand(int id, int code) {
  if (code != BN_CLICKED) return;
  switch (id) {
    case IDC_START:
      StartMigration();
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

void MigrationDialog::StartMigration() {
  if (running_.exchange(true)) return;
  // Disabled by the click itself, so a second click can never start a
  // second worker on the same lists.
  HWND start = GetDlgItem(window_, IDC_START);
  EnableWindow(start, FALSE);
  HANDLE thread = CreateThread(nullptr, 0, WorkerMain, this, 0, nullptr);
  if (thread == nullptr) {
    running_ = false;
    EnableWindow(start, TRUE);
    return;
  }
  CloseHandle(thread);
}

void MigrationDialog::Close(int result) {
  if (running_) {
    // The worker still uses the lists this window frees on destroy.
    MessageBeep(MB_ICONEXCLAMATION);
    return;
  }
  EndDialog(window_, result);
}

DWORD WINAPI MigrationDialog::WorkerMain(void* dialog) {
  static_cast<MigrationDialog*>(dialog)->RunOnWorker();
  return 0;
}

void MigrationDialog::RunOnWorker() {
  RunSettings settings;
  settings.source_dir = state_.source_dir;
  settings.target_mail_dir = state_.target_mail_dir;
  settings.target_installed = state_.target_installed;
  std::unique_ptr<CodePage> ansi = OpenCodePage("");  // the system's
  settings.code_page = ansi.get();
  MigrationRun(this, texts_, settings, &target_, &stats_);
  // The last touch of this object: from here the dialog may close.
  running_ = false;
}

void MigrationDialog::SetStartCaption(const std::string& caption) {
  SetDlgItemTextA(window_, IDC_START, caption.c_str());
}

void MigrationDialog::EnableStart(bool enabled) {
  EnableWindow(GetDlgItem(window_, IDC_START), enabled);
}

int MigrationDialog::AppendLogLine(const std::string& line) {
  return log_->AppendLogLine(line);
}

void MigrationDialog::RemoveLastLine() { log_->RemoveLastLine(); }

void MigrationDialog::SelectLastLine() { log_->SelectLastLine(); }

int MigrationDialog::LineCount() { return log_->LineCount(); }

void MigrationDialog::ResetLog() { log_->Reset(); }

PasswordMode MigrationDialog::GetPasswordMode() { return password_mode_; }

std::string MigrationDialog::SuffixText() {
  return ControlText(IDC_SUFFIX_EDIT);
}

std::string MigrationDialog::CommonPasswordText() {
  return ControlText(IDC_COMMON_EDIT);
}

std::string MigrationDialog::ControlText(int id) {
  HWND control = GetDlgItem(window_, id);
  int length = GetWindowTextLengthA(control);
  if (length <= 0) return std::string();
  std::string text(static_cast<size_t>(length) + 1, '\0');
  int got = GetWindowTextA(control, text.data(), length + 1);
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return text;
}

void MigrationDialog::ShowMessage(const std::string& text) {
  SendMessageA(window_, kShowMessage, 0, reinterpret_cast<LPARAM>(&text));
}

SourceDomainList* MigrationDialog::GetSourceDomains() {
  return &source_domains_;
}

}  // namespace vm
