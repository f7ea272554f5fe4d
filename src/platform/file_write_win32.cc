#include "platform/file_write_win32.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace vm {

bool WriteAll(HANDLE file, const std::string& contents) {
  size_t done = 0;
  while (done < contents.size()) {
    DWORD chunk =
        static_cast<DWORD>(std::min<size_t>(contents.size() - done, 1u << 20));
    DWORD written = 0;
    if (!::WriteFile(file, contents.data() + done, chunk, &written, nullptr) ||
        written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

// Creates or truncates the file and writes it whole; ERROR_SUCCESS or the
// code of the step that failed.
DWORD WriteWholeFile(const std::wstring& path, const std::string& contents,
                     DWORD flags) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | flags, nullptr));
  if (!file.valid()) return GetLastError();
  if (!WriteAll(file.get(), contents) ||
      ((flags & FILE_FLAG_WRITE_THROUGH) != 0 &&
       !FlushFileBuffers(file.get())) ||
      !file.Close()) {
    return GetLastError();
  }
  return ERROR_SUCCESS;
}

namespace {

// Moves the file pointer to `offset` and makes that the end of the file.
bool SetLength(HANDLE file, int64_t offset) {
  LARGE_INTEGER at;
  at.QuadPart = offset;
  return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// Reads the first `size` bytes of the open file into *bytes.
bool ReadStart(HANDLE file, int64_t size, std::string* bytes) {
  LARGE_INTEGER start;
  start.QuadPart = 0;
  if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
  bytes->resize(static_cast<size_t>(size));
  size_t done = 0;
  while (done < bytes->size()) {
    DWORD chunk =
        static_cast<DWORD>(std::min<size_t>(bytes->size() - done, 1u << 20));
    DWORD read = 0;
    if (!::ReadFile(file, bytes->data() + done, chunk, &read, nullptr) ||
        read == 0) {
      return false;
    }
    done += read;
  }
  return true;
}

}  // namespace

// Rewrites an existing file through its own handle, so that it keeps its
// security descriptor, attributes and streams; it is cut to the new length
// only after every byte is written. No byte is overwritten before the file
// is sure to hold the whole text: a longer text first extends the file to
// its new length, which allocates the space, so a full volume fails the
// save with the file as it was. Should a write fail even so, the old bytes
// are put back.
DWORD RewriteInPlace(const std::wstring& path, const std::string& contents) {
  HANDLE opened =
      CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                  nullptr, OPEN_EXISTING, FILE_FLAG_WRITE_THROUGH, nullptr);
  if (opened == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    // A file we may write but not read cannot be put back.
    opened = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_FLAG_WRITE_THROUGH, nullptr);
  }
  FileHandle file(opened);
  if (!file.valid()) return GetLastError();
  LARGE_INTEGER old_size;
  if (!GetFileSizeEx(file.get(), &old_size)) return GetLastError();
  const int64_t size = static_cast<int64_t>(contents.size());
  std::string old;
  const bool readable = ReadStart(file.get(), old_size.QuadPart, &old);
  if (size > old_size.QuadPart && !SetLength(file.get(), size)) {
    DWORD code = GetLastError();
    SetLength(file.get(), old_size.QuadPart);
    return code;
  }
  LARGE_INTEGER start;
  start.QuadPart = 0;
  if (!SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN) ||
      !WriteAll(file.get(), contents) || !SetLength(file.get(), size) ||
      !FlushFileBuffers(file.get())) {
    DWORD code = GetLastError();
    if (readable && SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN) &&
        WriteAll(file.get(), old)) {
      SetLength(file.get(), old_size.QuadPart);
    }
    return code;
  }
  if (!file.Close()) return GetLastError();
  return ERROR_SUCCESS;
}

// Whether the file could be replaced now: it can be opened for deletion,
// so nobody holds it open without delete sharing. Else the reason.
bool CanReplace(const std::wstring& path, DWORD* code) {
  *code = ERROR_SUCCESS;
  HANDLE file =
      CreateFileW(path.c_str(), DELETE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *code = GetLastError();
    return false;
  }
  CloseHandle(file);
  return true;
}

std::wstring ReplaceTemporaryFor(const std::wstring& path) {
  return path + L".vm" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(GetCurrentThreadId()) + L".tmp";
}

bool IsTransientReplaceError(DWORD code) {
  return code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED ||
         code == ERROR_LOCK_VIOLATION ||
         code == ERROR_UNABLE_TO_REMOVE_REPLACED ||
         code == ERROR_UNABLE_TO_MOVE_REPLACEMENT;
}

}  // namespace vm
