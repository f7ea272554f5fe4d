#include "dialog/win32/migration_dialog.h"

// The main dialog's frame: system menu and icons, the layout as the
// window is resized or changes DPI, the minimised icon, the coloured note.

#include "dialog/win32/about_dialog.h"
#include "dialog/win32/dialog_messages.h"
#include "dialog/win32/resource.h"

namespace vm {

void MigrationDialog::SetUpFrame() {
  HMENU system_menu = GetSystemMenu(window_, FALSE);
  wchar_t about[256] = {};
  if (system_menu != nullptr &&
      LoadStringW(instance_, IDS_ABOUT_MENU_ENTRY, about, 256) > 0) {
    AppendMenuW(system_menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(system_menu, MF_STRING, IDM_ABOUT, about);
  }
  SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageW(window_, WM_SETICON, ICON_SMALL,
               reinterpret_cast<LPARAM>(icon_));
}

INT_PTR MigrationDialog::OnColorStatic(HDC dc, HWND control) {
  // The note on accounts the target holds already stands out.
  if (GetDlgCtrlID(control) != IDC_SYNC_HINT) return FALSE;
  SetTextColor(dc, RGB(0xB0, 0, 0));
  SetBkMode(dc, TRANSPARENT);
  return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
}

INT_PTR MigrationDialog::OnLayoutMessage(UINT message, WPARAM wparam,
                                         LPARAM lparam) {
  if (layout_ == nullptr) return FALSE;  // before WM_INITDIALOG
  if (message == WM_GETMINMAXINFO) {
    layout_->LimitSize(reinterpret_cast<MINMAXINFO*>(lparam));
    return TRUE;
  }
  if (message == WM_SHOWWINDOW) {
    // Posted: handled once the window is visible.
    if (wparam != 0 && maximize_on_show_) {
      PostMessageW(window_, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    }
    maximize_on_show_ = false;
    return FALSE;
  }
  if (message == kDpiChanged) {
    const int dpi = HIWORD(wparam);
    layout_->ChangeDpi(dpi_, dpi, *reinterpret_cast<RECT*>(lparam));
    dpi_ = dpi;
    return TRUE;
  }
  if (wparam != SIZE_MINIMIZED) {
    layout_->Arrange();
    if (list_ != nullptr) list_->Refit();
  }
  return FALSE;
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
  SendMessageW(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
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

}  // namespace vm
