#ifndef VM_DIALOG_WIN32_WINDOW_SIZE_STORE_H_
#define VM_DIALOG_WIN32_WINDOW_SIZE_STORE_H_

#include <windows.h>

namespace vm {

// The main window's restored size, kept for the user who resized it under
// HKEY_CURRENT_USER\Software\VelquorMigrate (values WindowWidth and
// WindowHeight, in pixels at 96 DPI, and WindowMaximized), so it follows
// the user and not the machine's records folder.
inline constexpr wchar_t kWindowSizeKey[] = L"Software\\VelquorMigrate";

// Shows `window` at the size it had when it was last closed, scaled to its
// DPI, never smaller than now and never larger than its monitor's work
// area, centred there. Nothing stored: centred at its size. True when it
// was maximised: the caller maximises it once shown (a dialog is shown in
// its normal state, which would undo a maximise made before).
bool RestoreWindowSize(HWND window);

// Keeps the window's restored (not maximised) size and whether it is
// maximised.
void SaveWindowSize(HWND window);

}  // namespace vm

#endif  // VM_DIALOG_WIN32_WINDOW_SIZE_STORE_H_
