#ifndef VM_APP_WIN32_ABOUT_DIALOG_H_
#define VM_APP_WIN32_ABOUT_DIALOG_H_

#include <windows.h>

namespace vm {

// The About box (template 100), shown modally over `owner`.
void ShowAboutDialog(HINSTANCE instance, HWND owner);

// Centres a dialog over its owner, or over the screen's work area when it
// has none, as the dialog framework does for every dialog it opens.
void CenterDialog(HWND dialog);

}  // namespace vm

#endif  // VM_APP_WIN32_ABOUT_DIALOG_H_
