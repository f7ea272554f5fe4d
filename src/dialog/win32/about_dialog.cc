#include "dialog/win32/about_dialog.h"

#include "dialog/win32/resource.h"
#include "vm_version.h"

namespace vm {
namespace {

INT_PTR CALLBACK AboutProc(HWND window, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      // The version every other view shows: --version, the report, the
      // version resources.
      SetDlgItemTextW(window, IDC_ABOUT_VERSION,
                      L"velquor-migrate " VM_VERSION_TEXT);
      CenterDialog(window);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        EndDialog(window, LOWORD(wparam));
        return TRUE;
      }
      break;
  }
  return FALSE;
}

}  // namespace

void CenterDialog(HWND dialog) {
  RECT area;
  HWND owner = GetWindow(dialog, GW_OWNER);
  if (owner == nullptr || !GetWindowRect(owner, &area)) {
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  RECT rect;
  GetWindowRect(dialog, &rect);
  int width = rect.right - rect.left;
  int height = rect.bottom - rect.top;
  int x = area.left + (area.right - area.left - width) / 2;
  int y = area.top + (area.bottom - area.top - height) / 2;
  SetWindowPos(dialog, nullptr, x > 0 ? x : 0, y > 0 ? y : 0, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void ShowAboutDialog(HINSTANCE instance, HWND owner) {
  DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_ABOUT_DIALOG), owner,
                  AboutProc, 0);
}

}  // namespace vm
