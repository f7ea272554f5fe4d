#ifndef VM_DIALOG_WIN32_WINDOW_TEXT_H_
#define VM_DIALOG_WIN32_WINDOW_TEXT_H_

#include <windows.h>

#include <string>

namespace vm {

// The dialog program's byte strings (paths, names, the texts table) are in
// the run's code page, whatever the system's ANSI code page is: an English
// Windows shows GBK texts as they are. Every window text goes through the
// wide calls, converted here.

// `ansi` (in `code_page`) in UTF-16; an invalid byte shows as U+FFFD.
std::wstring WideOf(unsigned int code_page, const std::string& ansi);

// Sets a control's text from the run's code page, or from UTF-8 (the
// dialog's own literals).
void SetItemText(HWND dialog, int id, unsigned int code_page,
                 const std::string& ansi);
void SetItemUtf8(HWND dialog, int id, const std::string& utf8);

// A control's text as typed, in UTF-8.
std::string ItemUtf8(HWND dialog, int id);

}  // namespace vm

#endif  // VM_DIALOG_WIN32_WINDOW_TEXT_H_
