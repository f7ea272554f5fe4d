#ifndef VM_PLATFORM_FILE_WRITE_WIN32_H_
#define VM_PLATFORM_FILE_WRITE_WIN32_H_

#include <windows.h>

#include <string>

#include "platform/file_handle_win32.h"

// The writing of whole files under the Windows file system: a file written
// new, an existing one rewritten in place, and the checks a replace makes.
namespace vm {

// Writes every byte; a short write is a failure.
bool WriteAll(HANDLE file, const std::string& contents);

// Creates or truncates the file and writes it whole; ERROR_SUCCESS or the
// code of the step that failed.
DWORD WriteWholeFile(const std::wstring& path, const std::string& contents,
                     DWORD flags);

// Rewrites an existing file through its own handle, keeping its security
// descriptor, attributes and streams; see the definition.
DWORD RewriteInPlace(const std::wstring& path, const std::string& contents);

// The temporary file a replace of `path` writes first, beside it: unique
// to the process and thread that replace it.
std::wstring ReplaceTemporaryFor(const std::wstring& path);

// Attributes a saved file keeps besides what ReplaceFileW carries over.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Whether the file could be replaced now; else the reason in *code.
bool CanReplace(const std::wstring& path, DWORD* code);

// A replace refused for a reason that may pass (a scanner holding the file).
bool IsTransientReplaceError(DWORD code);

}  // namespace vm

#endif  // VM_PLATFORM_FILE_WRITE_WIN32_H_
