#ifndef VM_PLATFORM_FILE_ERROR_WIN32_H_
#define VM_PLATFORM_FILE_ERROR_WIN32_H_

#include <windows.h>

#include <string>

namespace vm {

// The code the Windows file layer gives for a link or reparse point found
// where a folder or file was expected: it is never followed. (Windows
// gives it for a chain of links too long to follow, as POSIX gives ELOOP.)
constexpr DWORD kLinkRefused = ERROR_CANT_RESOLVE_FILENAME;

// Sets a non-null *error to the system's message for `code`, in the code
// page, in the form FileErrorText gives (kind and number first).
void SetWin32Error(UINT code_page, std::string* error, DWORD code);

}  // namespace vm

#endif  // VM_PLATFORM_FILE_ERROR_WIN32_H_
