#include "app/win32/about_dialog.h"

#include "app/win32/resource.h"

namespace vm {
namespace {

INT_PTR CALLBACK AboutProc(HWND window, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
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

void ShowAboutDialog(HINSTANCE instance, HWND owner) {
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_ABOUT_DIALOG), owner,
                  AboutProc, 0);
}

}  // namespace vm
