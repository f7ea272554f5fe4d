#include "platform/atomic_replace_win32.h"

#include "platform/file_write_win32.h"

namespace vm {
namespace {

// Virus scanners and indexers open freshly written files for a moment; a
// replace refused for that reason usually succeeds a little later.
constexpr int kReplaceAttempts = 5;
constexpr DWORD kReplaceRetryMillis = 50;

}  // namespace

DWORD ReplaceWholeFile(const std::wstring& path, const std::string& contents) {
  // Every removal and rename below acts on `path` and its temporary by
  // name. A target's file comes here only from its confined view, which
  // holds every folder on the way without delete sharing (none can be
  // renamed or swapped for a link meanwhile) and has found neither name a
  // link; other callers write records, refused inside either installation.
  DWORD attributes = GetFileAttributesW(path.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES &&
                      (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  const std::wstring temp = ReplaceTemporaryFor(path);
  DWORD code = WriteWholeFile(temp, contents, FILE_FLAG_WRITE_THROUGH);
  if (code != ERROR_SUCCESS) {
    DeleteFileW(temp.c_str());
    // A folder we may not write, holding a file we may: the file can
    // still be rewritten where it is.
    if (exists && code == ERROR_ACCESS_DENIED) {
      return RewriteInPlace(path, contents);
    }
    return code;
  }
  if (!exists) {
    // A new file takes the permissions its folder passes on.
    if (MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
      return ERROR_SUCCESS;
    }
    code = GetLastError();
    DeleteFileW(temp.c_str());
    return code;
  }
  // Unlike a rename, ReplaceFileW gives the new file the replaced file's
  // security descriptor and attributes, so the server that owns the file
  // can still read it. The attributes are also set beforehand, for
  // systems whose ReplaceFileW does not carry them over (Wine).
  SetFileAttributesW(temp.c_str(), attributes & kKeptAttributes);
  for (int attempt = 0; attempt < kReplaceAttempts; ++attempt) {
    if (attempt > 0) Sleep(kReplaceRetryMillis);
    // Tried only when nobody holds the file open without delete sharing:
    // a ReplaceFileW refused for that reason may leave a stray file of
    // its own in the folder.
    if (CanReplace(path, &code) && ReplaceFileW(path.c_str(), temp.c_str(),
                                                nullptr, 0, nullptr, nullptr)) {
      return ERROR_SUCCESS;
    }
    if (code == ERROR_SUCCESS) code = GetLastError();
    if (!IsTransientReplaceError(code)) break;
  }
  if (code == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
    // The replaced file is gone and the new text is in the temporary
    // file: finish the move.
    if (MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
      return ERROR_SUCCESS;
    }
    return GetLastError();
  }
  DeleteFileW(temp.c_str());
  if (!IsTransientReplaceError(code)) return code;
  // Someone holds the target open without delete sharing: the replace
  // can never succeed while they do, but writing through their sharing
  // can.
  return RewriteInPlace(path, contents);
}

}  // namespace vm
