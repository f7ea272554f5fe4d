#ifndef VM_PLATFORM_MESSAGE_COPY_WIN32_H_
#define VM_PLATFORM_MESSAGE_COPY_WIN32_H_

#include <windows.h>

#include <string>

#include "platform/file_error.h"
#include "platform/file_system.h"
#include "util/md5.h"

namespace vm {

// What CopyThroughTemporary did: the result, and for a failure either the
// system's code or, when the system saw no error, a reason in words.
struct CopyOutcome {
  CopyResult result = CopyResult::kFailed;
  DWORD code = ERROR_SUCCESS;
  const char* reason = nullptr;  // for a failure the code does not tell
  FileErrorKind kind = FileErrorKind::kOther;
};

// Copies the regular file `from` to `to` (wide paths for the system) so
// that nothing incomplete ever lies under `to`: the bytes go to the new
// file `temp` in the same folder, which is flushed and then renamed to
// `to`, never in place of a file there. The copy fails, leaving nothing,
// when the source is no regular file, or changed while it was read (its
// size or last-write time at the end differ from the start, or it gave
// another number of bytes than its size). The copy keeps the source's
// last-write time and attributes. `temp` is removed on every failure. A
// non-null `digest` is fed the bytes as they are copied.
CopyOutcome CopyThroughTemporary(const std::wstring& from,
                                 const std::wstring& to,
                                 const std::wstring& temp, Md5* digest);

}  // namespace vm

#endif  // VM_PLATFORM_MESSAGE_COPY_WIN32_H_
