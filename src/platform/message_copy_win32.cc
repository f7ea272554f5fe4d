#include "platform/message_copy_win32.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/file_handle_win32.h"

namespace vm {
namespace {

constexpr uint64_t kCopyBlock = 1 << 20;

// Attributes a copy keeps, as a file copy of the system keeps them.
constexpr DWORD kCopiedAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// What tells that a file changed: its size and its last-write time.
struct Snapshot {
  uint64_t size = 0;
  FILETIME written = {};
  DWORD attributes = 0;
};

bool Take(HANDLE file, Snapshot* snapshot) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return false;
  snapshot->size =
      (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  snapshot->written = info.ftLastWriteTime;
  snapshot->attributes = info.dwFileAttributes;
  return true;
}

bool Same(const Snapshot& a, const Snapshot& b) {
  return a.size == b.size && CompareFileTime(&a.written, &b.written) == 0;
}

// Copies `in` to `out` up to the end of `in`; *copied counts the bytes,
// and a non-null `digest` is fed them.
bool CopyBytes(HANDLE in, HANDLE out, uint64_t size, uint64_t* copied,
               Md5* digest) {
  *copied = 0;
  std::vector<char> buffer(
      static_cast<size_t>(std::clamp<uint64_t>(size, 1, kCopyBlock)));
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in, buffer.data(), static_cast<DWORD>(buffer.size()), &got,
                  nullptr)) {
      return false;
    }
    if (got == 0) return true;
    if (digest != nullptr) digest->Update(std::string_view(buffer.data(), got));
    DWORD done = 0;
    while (done < got) {
      DWORD written = 0;
      if (!WriteFile(out, buffer.data() + done, got - done, &written,
                     nullptr) ||
          written == 0) {
        return false;
      }
      done += written;
    }
    *copied += got;
  }
}

// Removes the temporary file, which may have been made read-only. Only a
// temporary this copy made (CREATE_NEW) is removed; in a target, the
// confined view holds every folder on the way while the copy runs.
void RemoveTemporary(const std::wstring& temp) {
  SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(temp.c_str());
}

CopyOutcome Failed(DWORD code, const char* reason = nullptr,
                   FileErrorKind kind = FileErrorKind::kOther) {
  CopyOutcome outcome;
  outcome.code = code;
  outcome.reason = reason;
  outcome.kind = kind;
  return outcome;
}

// Writes the source into the new file `temp` and flushes it; the outcome's
// result is kCopied when `temp` holds exactly the source as it was.
CopyOutcome WriteTemporary(HANDLE in, const Snapshot& before,
                           const std::wstring& temp, Md5* digest) {
  FileHandle out(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr,
                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out.valid()) return Failed(GetLastError());
  uint64_t copied = 0;
  if (!CopyBytes(in, out.get(), before.size, &copied, digest)) {
    return Failed(GetLastError());
  }
  // Read by handle: whatever became of the source's name, these are the
  // bytes that were read.
  Snapshot after;
  if (!Take(in, &after)) return Failed(GetLastError());
  if (copied != before.size || !Same(before, after)) {
    return Failed(ERROR_SUCCESS, "the source changed while it was copied",
                  FileErrorKind::kSourceChanged);
  }
  if (!SetFileTime(out.get(), nullptr, nullptr, &before.written) ||
      !FlushFileBuffers(out.get()) || !out.Close()) {
    return Failed(GetLastError());
  }
  const DWORD kept = before.attributes & kCopiedAttributes;
  if (kept != 0 && !SetFileAttributesW(temp.c_str(), kept)) {
    return Failed(GetLastError());
  }
  CopyOutcome outcome;
  outcome.result = CopyResult::kCopied;
  return outcome;
}

}  // namespace

CopyOutcome CopyThroughTemporary(const std::wstring& from,
                                 const std::wstring& to,
                                 const std::wstring& temp, Md5* digest) {
  // A link is opened as itself, so that it is refused rather than
  // followed out of the source tree.
  FileHandle in(CreateFileW(
      from.c_str(), GENERIC_READ,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN,
      nullptr));
  if (!in.valid()) return Failed(GetLastError());
  Snapshot before;
  if (!Take(in.get(), &before)) return Failed(GetLastError());
  if ((before.attributes &
       (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY |
        FILE_ATTRIBUTE_DEVICE)) != 0 ||
      GetFileType(in.get()) != FILE_TYPE_DISK) {
    return Failed(ERROR_SUCCESS, "not a regular file",
                  FileErrorKind::kNotRegular);
  }
  CopyOutcome outcome = WriteTemporary(in.get(), before, temp, digest);
  if (outcome.result != CopyResult::kCopied) {
    // CREATE_NEW failed only when the file was not made: nothing of ours
    // is at that name then, but a removal finds nothing either.
    if (outcome.code != ERROR_FILE_EXISTS) RemoveTemporary(temp);
    return outcome;
  }
  // Without MOVEFILE_REPLACE_EXISTING: a file that arrived under the name
  // meanwhile is kept. A target's name comes here only from its confined
  // view, which holds the folders on the way and found no link at it.
  if (MoveFileExW(temp.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
    return outcome;
  }
  const DWORD code = GetLastError();
  RemoveTemporary(temp);
  if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) {
    outcome.result = CopyResult::kTargetExists;
    return outcome;
  }
  return Failed(code);
}

}  // namespace vm
