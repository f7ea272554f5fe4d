#ifndef VM_APP_WIN32_FOLDER_PICKER_H_
#define VM_APP_WIN32_FOLDER_PICKER_H_

#include <string>

namespace vm {

// Shows the system's folder dialog titled `title`, opening at the folder
// `initial` names (see InitialFolder); texts and paths are in `code_page`,
// the run's. True when the user confirmed a folder; *result then holds its
// path ending in a backslash. False, with *result unchanged, on cancel,
// when the dialog cannot start, or when the code page cannot hold the
// folder's path.
bool PickFolder(unsigned int code_page, std::string* result,
                const std::string& initial, const std::string& title);

// The folder the dialog opens at: the folder holding `initial`, the
// program's own path ("C:\Tools\VelquorMigrate.exe" opens at
// "C:\Tools"); a folder path ending in a backslash opens at itself.
std::string InitialFolder(unsigned int code_page, const std::string& initial);

// The shell's path in the run's code page; false when the code page cannot
// hold every character (a best-fit look-alike would name another folder).
bool ToAnsiPath(unsigned int code_page, const wchar_t* wide, std::string* ansi);

// The browser's path as returned to the caller: a backslash appended when
// it is not empty and does not end in one.
std::string WithTrailingBackslash(const std::string& path);

}  // namespace vm

#endif  // VM_APP_WIN32_FOLDER_PICKER_H_
