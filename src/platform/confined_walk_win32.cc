#include "platform/confined_walk_win32.h"

#include <cstring>

#include "platform/file_error_win32.h"
#include "platform/file_handle_win32.h"
#include "platform/wide_text_win32.h"

namespace vm {
namespace {

constexpr wchar_t kLongPrefix[] = L"\\\\?\\";

// Data access, so that the sharing mode binds others (a handle with
// attribute access only does not); traversal for the walk below.
constexpr DWORD kFolderAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
// Without FILE_SHARE_DELETE: nobody renames, removes or replaces the entry
// while it is held.
constexpr DWORD kHeldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kAsItself =
    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

void Separators(std::wstring* path) {
  for (wchar_t& c : *path) {
    if (c == L'/') c = L'\\';
  }
}

bool IsLongForm(const std::wstring& path) {
  return path.starts_with(kLongPrefix);
}

void TrimSeparators(std::wstring* path) {
  // "\\?\C:\" keeps the separator that makes it the drive's root.
  while (path->size() > 7 && path->back() == L'\\') path->pop_back();
}

}  // namespace

std::wstring FullForm(const std::wstring& path) {
  std::wstring given = path;
  Separators(&given);
  std::wstring full = LongPathForm(given);
  if (!IsLongForm(full)) {
    std::vector<wchar_t> buffer(32768);
    const DWORD length =
        GetFullPathNameW(given.c_str(), static_cast<DWORD>(buffer.size()),
                         buffer.data(), nullptr);
    if (length == 0 || length >= buffer.size()) return std::wstring();
    full = LongPathForm(std::wstring(buffer.data(), length));
    if (!IsLongForm(full)) return std::wstring();
  }
  TrimSeparators(&full);
  return full;
}

std::wstring SpeltForm(const std::wstring& path) {
  std::wstring spelt = path;
  Separators(&spelt);
  if (!IsLongForm(spelt) && spelt.size() >= 3 && spelt[1] == L':' &&
      spelt[2] == L'\\') {
    spelt = kLongPrefix + spelt;
  }
  TrimSeparators(&spelt);
  return spelt;
}

bool HasParentPart(const std::wstring& path) {
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != L'\\' && path[i] != L'/') continue;
    const std::wstring part = path.substr(start, i - start);
    start = i + 1;
    if (part.size() >= 2 &&
        part.find_first_not_of(L". ") == std::wstring::npos &&
        part.find(L"..") != std::wstring::npos) {
      return true;
    }
  }
  return false;
}

bool SplitBeneath(const std::wstring& path, const std::wstring& folder,
                  std::vector<std::wstring>* parts) {
  parts->clear();
  const size_t n = folder.size();
  if (folder.empty() || path.size() < n ||
      CompareStringOrdinal(path.data(), static_cast<int>(n), folder.data(),
                           static_cast<int>(n), TRUE) != CSTR_EQUAL ||
      (path.size() > n && path[n] != L'\\' && folder.back() != L'\\')) {
    return false;
  }
  size_t start = n;
  for (size_t i = n; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != L'\\') continue;
    if (i > start) parts->push_back(path.substr(start, i - start));
    start = i + 1;
  }
  return true;
}

std::wstring JoinParts(const std::wstring& folder,
                       const std::vector<std::wstring>& parts, size_t count) {
  std::wstring path = folder;
  for (size_t i = 0; i < count && i < parts.size(); ++i) {
    if (path.back() != L'\\') path += L'\\';
    path += parts[i];
  }
  return path;
}

HeldFolders::~HeldFolders() {
  for (HANDLE folder : held_) CloseHandle(folder);
}

DWORD RefuseLink(HANDLE handle, const std::wstring& path, DWORD* attributes) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return GetLastError();
  *attributes = info.dwFileAttributes;
  const DWORD by_name = GetFileAttributesW(path.c_str());
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      (by_name != INVALID_FILE_ATTRIBUTES &&
       (by_name & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
    return kLinkRefused;
  }
  return ERROR_SUCCESS;
}

DWORD OpenFolderHeld(const std::wstring& path, HANDLE* folder) {
  *folder = INVALID_HANDLE_VALUE;
  FileHandle opened(CreateFileW(path.c_str(), kFolderAccess, kHeldSharing,
                                nullptr, OPEN_EXISTING, kAsItself, nullptr));
  if (!opened.valid()) {
    // The name may still be a link to a folder opened as itself, which
    // folder access cannot open.
    const DWORD code = GetLastError();
    const DWORD by_name = GetFileAttributesW(path.c_str());
    return by_name != INVALID_FILE_ATTRIBUTES &&
                   (by_name & FILE_ATTRIBUTE_REPARSE_POINT) != 0
               ? kLinkRefused
               : code;
  }
  DWORD attributes = 0;
  const DWORD code = RefuseLink(opened.get(), path, &attributes);
  if (code != ERROR_SUCCESS) return code;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ERROR_DIRECTORY;
  *folder = opened.Release();
  return ERROR_SUCCESS;
}

DWORD WalkDown(const std::wstring& folder,
               const std::vector<std::wstring>& parts, size_t count,
               HeldFolders* held) {
  for (size_t i = 0; i < count && i < parts.size(); ++i) {
    HANDLE next = INVALID_HANDLE_VALUE;
    const DWORD code = OpenFolderHeld(JoinParts(folder, parts, i + 1), &next);
    if (code != ERROR_SUCCESS) {
      // A part that is missing or no folder leaves no path below it.
      return code == ERROR_FILE_NOT_FOUND || code == ERROR_DIRECTORY
                 ? ERROR_PATH_NOT_FOUND
                 : code;
    }
    held->Hold(next);
  }
  return ERROR_SUCCESS;
}

DWORD InspectEntry(const std::wstring& path, bool* exists, DWORD* attributes) {
  *exists = false;
  *attributes = 0;
  FileHandle entry(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                               kHeldSharing | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, kAsItself, nullptr));
  if (!entry.valid()) {
    const DWORD code = GetLastError();
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND
               ? ERROR_SUCCESS
               : code;
  }
  *exists = true;
  return RefuseLink(entry.get(), path, attributes);
}

DWORD RemoveByHandle(const std::wstring& path, bool folder) {
  FileHandle entry(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                               kHeldSharing, nullptr, OPEN_EXISTING, kAsItself,
                               nullptr));
  if (!entry.valid()) {
    const DWORD code = GetLastError();
    const DWORD by_name = GetFileAttributesW(path.c_str());
    if (by_name != INVALID_FILE_ATTRIBUTES &&
        (by_name & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      return kLinkRefused;
    }
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND
               ? ERROR_SUCCESS
               : code;
  }
  DWORD attributes = 0;
  const DWORD code = RefuseLink(entry.get(), path, &attributes);
  if (code != ERROR_SUCCESS) return code;
  const bool is_folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // The codes DeleteFileW and RemoveDirectoryW give for the wrong kind.
  if (is_folder != folder)
    return folder ? ERROR_DIRECTORY : ERROR_ACCESS_DENIED;
  FILE_DISPOSITION_INFO dispose = {TRUE};
  if (!SetFileInformationByHandle(entry.get(), FileDispositionInfo, &dispose,
                                  sizeof(dispose)) ||
      !entry.Close()) {
    return GetLastError();
  }
  return ERROR_SUCCESS;
}

DWORD RenameByHandle(const std::wstring& from, const std::wstring& to,
                     bool folder) {
  FileHandle entry(
      CreateFileW(from.c_str(), DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                  kHeldSharing, nullptr, OPEN_EXISTING, kAsItself, nullptr));
  if (!entry.valid()) return GetLastError();
  DWORD attributes = 0;
  DWORD code = RefuseLink(entry.get(), from, &attributes);
  if (code != ERROR_SUCCESS) return code;
  if (((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != folder)
    return folder ? ERROR_DIRECTORY : ERROR_ACCESS_DENIED;
  // The name in the system's own form ("\??\C:\..."), which every layer
  // takes as it is.
  const std::wstring name = L"\\??\\" + (IsLongForm(to) ? to.substr(4) : to);
  const size_t bytes = name.size() * sizeof(wchar_t);
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + bytes);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(bytes);
  std::memcpy(rename->FileName, name.data(), bytes);
  if (!SetFileInformationByHandle(entry.get(), FileRenameInfo, rename,
                                  static_cast<DWORD>(buffer.size()))) {
    return GetLastError();
  }
  return entry.Close() ? ERROR_SUCCESS : GetLastError();
}

}  // namespace vm
