#include "platform/file_identity.h"

#include <windows.h>

#include "platform/utf16_win32.h"

namespace vm {

namespace {

// Opens a file or folder for reading its attributes only; links and
// junctions are followed.
HANDLE OpenForIdentity(const std::wstring& path) {
  return CreateFileW(
      path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The folder holding `path` ("C:\a" for "C:\a\b", "C:\" for "C:\a");
// empty at a root.
std::wstring FolderOf(std::wstring path) {
  while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/')) {
    path.pop_back();
  }
  size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos || path.back() == L':') return L"";
  std::wstring folder = path.substr(0, slash);
  if (folder.empty() || folder == L"\\\\?" || folder == L"\\\\?\\UNC") {
    return L"";
  }
  if (folder.back() == L':') folder.push_back(L'\\');
  return folder;
}

// The path with every link and junction resolved, or `path` itself when
// the system cannot tell.
std::wstring FinalPath(HANDLE handle, const std::wstring& path) {
  wchar_t buffer[32768];
  DWORD length = GetFinalPathNameByHandleW(
      handle, buffer, sizeof(buffer) / sizeof(buffer[0]),
      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= sizeof(buffer) / sizeof(buffer[0])) {
    return path;
  }
  return std::wstring(buffer, length);
}

}  // namespace

bool LocateNative(const std::string& utf8_path, FileLocation* where) {
  where->exists = false;
  where->chain.clear();
  std::wstring given = Utf8ToWide(utf8_path);
  if (given.empty()) return false;
  // "C:" alone is the drive's current folder; a path joined to it (the way
  // every path is formed) names its root.
  if (given.size() == 2 && given[1] == L':') given.push_back(L'\\');
  wchar_t full[32768];
  DWORD length = GetFullPathNameW(given.c_str(), sizeof(full) / sizeof(full[0]),
                                  full, nullptr);
  if (length == 0 || length >= sizeof(full) / sizeof(full[0])) return false;
  // The nearest part of the path that exists.
  std::wstring existing(full, length);
  bool exists = true;
  HANDLE handle = OpenForIdentity(existing);
  while (handle == INVALID_HANDLE_VALUE) {
    exists = false;
    existing = FolderOf(existing);
    if (existing.empty()) return false;
    handle = OpenForIdentity(existing);
  }
  std::wstring folder = FinalPath(handle, existing);
  CloseHandle(handle);
  while (!folder.empty()) {
    handle = OpenForIdentity(folder);
    if (handle == INVALID_HANDLE_VALUE) break;
    BY_HANDLE_FILE_INFORMATION info;
    bool known = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!known) break;
    where->chain.push_back({info.dwVolumeSerialNumber,
                            (static_cast<uint64_t>(info.nFileIndexHigh) << 32) |
                                info.nFileIndexLow});
    folder = FolderOf(folder);
  }
  where->exists = exists && !where->chain.empty();
  return !where->chain.empty();
}

}  // namespace vm
