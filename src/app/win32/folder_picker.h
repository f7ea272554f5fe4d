#ifndef VM_APP_WIN32_FOLDER_PICKER_H_
#define VM_APP_WIN32_FOLDER_PICKER_H_

#include <string>

namespace vm {

// Shows the shell's folder browser, rooted at the computer's drives, with
// `initial` selected (a trailing backslash removed first). True when the
// user confirmed a folder; *result then holds its path ending in a
// backslash (unchanged when the folder has no file-system path). False,
// with *result unchanged, on cancel, when the browser cannot start, or when
// the system's ANSI code page cannot hold the folder's path.
bool PickFolder(std::string* result, std::string initial);

// The folder the browser is told to select: `initial` without one
// trailing backslash.
std::string InitialSelection(const std::string& initial);

// The shell's path in the system's ANSI code page, the program's; false when
// the code page cannot hold every character (a best-fit look-alike would
// name another folder).
bool ToAnsiPath(const wchar_t* wide, std::string* ansi);

// The browser's path as returned to the caller: a backslash appended when
// it is not empty and does not end in one.
std::string WithTrailingBackslash(const std::string& path);

}  // namespace vm

#endif  // VM_APP_WIN32_FOLDER_PICKER_H_
