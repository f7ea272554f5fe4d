#ifndef VM_PLATFORM_ATOMIC_REPLACE_WIN32_H_
#define VM_PLATFORM_ATOMIC_REPLACE_WIN32_H_

#include <windows.h>

#include <string>

namespace vm {

// Replaces the whole contents of the file at `path` (a long-form wide
// path) so that a reader, or a crash, sees the old text or the new one,
// never a mix: the new text is written to a temporary file beside it
// (ReplaceTemporaryFor), flushed, and takes the file's place with
// ReplaceFileW, which keeps the replaced file's security descriptor and
// attributes; a new file is renamed into place and takes what its folder
// passes on. A replace refused for a passing reason is tried again a few
// times; where none can succeed (a folder that may not be written, a
// holder without delete sharing), the file is rewritten in place.
// ERROR_SUCCESS, or the code of the step that failed.
DWORD ReplaceWholeFile(const std::wstring& path, const std::string& contents);

}  // namespace vm

#endif  // VM_PLATFORM_ATOMIC_REPLACE_WIN32_H_
