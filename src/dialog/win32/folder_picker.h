#ifndef VM_APP_WIN32_FOLDER_PICKER_H_
#define VM_APP_WIN32_FOLDER_PICKER_H_

#include <string>

namespace vm {

// Shows the system's folder dialog titled `title` (in the system's ANSI
// code page), opening at the folder `initial` names (see InitialFolder).
// True when the user confirmed a folder; *result then holds its path ending
// in a backslash. False, with *result unchanged, on cancel, when the dialog
// cannot start, or when the system's ANSI code page cannot hold the
// folder's path.
bool PickFolder(std::string* result, const std::string& initial,
                const std::string& title);

// The folder the dialog opens at: the folder holding `initial`, the
// program's own path ("C:\Tools\VelquorMigrate.exe" opens at
// "C:\Tools"); a folder path ending in a backslash opens at itself.
std::string InitialFolder(const std::string& initial);

// The shell's path in the system's ANSI code page, the program's; false when
// the code page cannot hold every character (a best-fit look-alike would
// name another folder).
bool ToAnsiPath(const wchar_t* wide, std::string* ansi);

// The browser's path as returned to the caller: a backslash appended when
// it is not empty and does not end in one.
std::string WithTrailingBackslash(const std::string& path);

}  // namespace vm

#endif  // VM_APP_WIN32_FOLDER_PICKER_H_
