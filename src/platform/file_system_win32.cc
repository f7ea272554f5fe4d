#include "platform/file_system.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "platform/atomic_replace_win32.h"
#include "platform/code_page_win32.h"
#include "platform/confined_view_win32.h"
#include "platform/copy_temporary.h"
#include "platform/entry_status_win32.h"
#include "platform/file_error.h"
#include "platform/file_error_win32.h"
#include "platform/file_handle_win32.h"
#include "platform/file_write_win32.h"
#include "platform/message_copy_win32.h"
#include "platform/path_separator_win32.h"
#include "platform/wide_text_win32.h"
#include "platform/wildcard.h"

namespace vm {
namespace {

constexpr DWORD kReadBlock = 65536;

// Paths are byte strings in the run's code page, which need not be the
// system's: every name goes to the wide-character calls through an explicit
// conversion, never through the system's ANSI code page, and in the long
// form, so that no path fails for its length alone.

// 100-nanosecond intervals from 1601 to 1970.
constexpr int64_t kUnixEpochFileTime = 116444736000000000;

class WindowsFileSystem : public FileSystem {
 public:
  explicit WindowsFileSystem(UINT code_page) : code_page_(code_page) {}

  bool Exists(const std::string& ansi_path) override {
    std::wstring path;
    return Wide(ansi_path, &path, nullptr) &&
           GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  bool ModifiedTime(const std::string& ansi_path, int64_t* seconds) override {
    std::wstring path;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!Wide(ansi_path, &path, nullptr) ||
        !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
      return false;
    }
    ULARGE_INTEGER ticks;
    ticks.LowPart = data.ftLastWriteTime.dwLowDateTime;
    ticks.HighPart = data.ftLastWriteTime.dwHighDateTime;
    *seconds =
        (static_cast<int64_t>(ticks.QuadPart) - kUnixEpochFileTime) / 10000000;
    return true;
  }

  bool ReadFile(const std::string& ansi_path, std::string* contents,
                std::string* error) override {
    contents->clear();
    std::wstring path;
    if (!Wide(ansi_path, &path, error)) return false;
    FileHandle file(
        CreateFileW(path.c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
      SetError(error, GetLastError());
      return false;
    }
    std::string block(kReadBlock, '\0');
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(file.get(), block.data(), kReadBlock, &got, nullptr)) {
        SetError(error, GetLastError());
        contents->clear();
        return false;
      }
      if (got == 0) break;
      contents->append(block.data(), got);
    }
    return true;
  }

  bool WriteFile(const std::string& ansi_path, const std::string& contents,
                 std::string* error) override {
    std::wstring path;
    return Wide(ansi_path, &path, error) &&
           Succeeded(WriteWholeFile(path, contents, 0), error);
  }

  bool AppendFile(const std::string& ansi_path, const std::string& contents,
                  std::string* error) override {
    std::wstring path;
    if (!Wide(ansi_path, &path, error)) return false;
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the
    // end of the file, wherever another writer left it.
    FileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid() || !WriteAll(file.get(), contents) || !file.Close()) {
      return Succeeded(GetLastError(), error);
    }
    return true;
  }

  bool ReplaceContents(const std::string& ansi_path,
                       const std::string& contents,
                       std::string* error) override {
    std::wstring path;
    return Wide(ansi_path, &path, error) &&
           Succeeded(ReplaceWholeFile(path, contents), error);
  }

  DirMade MakeDir(const std::string& ansi_path, std::string* error) override {
    std::wstring path;
    if (!Wide(ansi_path, &path, error)) return DirMade::kFailed;
    if (CreateDirectoryW(path.c_str(), nullptr)) return DirMade::kMade;
    const DWORD code = GetLastError();
    // A junction or symbolic link is no directory of ours.
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
            FILE_ATTRIBUTE_DIRECTORY) {
      return DirMade::kExisted;
    }
    SetError(error, code);
    return DirMade::kFailed;
  }

  CopyResult CopyNew(const std::string& ansi_from, const std::string& ansi_to,
                     std::string* error) override {
    return Copy(ansi_from, ansi_to, error, nullptr);
  }

  // The copy reads every byte through this process, so it digests them in
  // passing.
  CopyResult CopyNewRecorded(const std::string& from, const std::string& to,
                             std::string* error, CopiedFile* copied) override {
    Md5 digest;
    const CopyResult result = Copy(from, to, error, &digest);
    *copied = CopiedFile{};
    if (result == CopyResult::kCopied) {
      copied->size = digest.size();
      copied->md5 = digest.Hex();
    }
    return result;
  }

  // CopyNew, feeding the bytes copied to a non-null `digest`.
  CopyResult Copy(const std::string& ansi_from, const std::string& ansi_to,
                  std::string* error, Md5* digest) {
    std::wstring from;
    std::wstring to;
    std::wstring temp;
    if (!Wide(ansi_from, &from, error) || !Wide(ansi_to, &to, error) ||
        !Wide(TemporaryFor(ansi_to), &temp, error)) {
      return CopyResult::kFailed;
    }
    // Checked first so that a failing source can never lead us to remove a
    // target that was there before.
    if (GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES) {
      return CopyResult::kTargetExists;
    }
    // Flushed on the copying thread: SyncVolume cannot flush a volume
    // without administrator rights.
    const CopyOutcome outcome = CopyThroughTemporary(from, to, temp, digest);
    if (outcome.result == CopyResult::kFailed) {
      if (outcome.reason == nullptr) {
        SetError(error, outcome.code);
      } else if (error != nullptr) {
        *error = FileErrorText(
            {outcome.kind, 0},
            std::string("not copied, ") + outcome.reason + ": " + ansi_from);
      }
    }
    return outcome.result;
  }

  bool List(const std::string& pattern,
            std::vector<DirEntry>* entries) override {
    entries->clear();
    size_t separator = LastSeparator(code_page_, pattern);
    std::string prefix = separator == std::string::npos
                             ? std::string()
                             : pattern.substr(0, separator) + "\\";
    std::wstring wide_pattern;
    std::wstring directory;
    if (!Wide(pattern, &wide_pattern, nullptr) ||
        !Wide(prefix.empty() ? "." : prefix, &directory, nullptr)) {
      return false;
    }
    std::wstring wildcard;
    ToWide(code_page_, pattern.substr(prefix.size()), &wildcard);
    const std::string utf8_wildcard = WideToUtf8(wildcard);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(wide_pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
      // A readable directory without a matching entry is an empty list;
      // a pattern under a file, or under nothing, is a failure (Wine
      // reports both as "file not found" too).
      if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
      DWORD attributes = GetFileAttributesW(directory.c_str());
      return attributes != INVALID_FILE_ATTRIBUTES &&
             (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      // FindFirstFileW also matches the 8.3 short name, so that "*.del"
      // finds "x.delete"; the long name is checked again with the plain
      // rules, in UTF-8 whatever the code page, so every platform
      // enumerates the same entries.
      if (!WildcardMatchUtf8(utf8_wildcard, WideToUtf8(name))) {
        continue;
      }
      DirEntry entry;
      entry.unconvertible_name = !FromWide(code_page_, name, &entry.name);
      entry.path = prefix + entry.name;
      entry.size =
          (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
      entry.is_directory =
          (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      entry.is_special =
          (data.dwFileAttributes &
           (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0;
      if (entry.is_special) entry.is_directory = false;
      entries->push_back(std::move(entry));
    } while (FindNextFileW(find, &data));
    DWORD code = GetLastError();
    FindClose(find);
    return code == ERROR_NO_MORE_FILES;
  }

  bool SyncVolume(const std::string&, std::string*) override {
    return true;  // every copy is flushed as it is made
  }

  bool RemoveFile(const std::string& ansi_path, std::string* error) override {
    std::wstring path;
    if (!Wide(ansi_path, &path, error)) return false;
    // Only outside every target: a view removes within its roots by handle.
    return DeleteFileW(path.c_str()) || Gone(path, error);
  }

  bool RemoveEmptyDir(const std::string& ansi_path,
                      std::string* error) override {
    std::wstring path;
    if (!Wide(ansi_path, &path, error)) return false;
    // Only outside every target: a view removes within its roots by handle.
    return RemoveDirectoryW(path.c_str()) || Gone(path, error);
  }

  // A rename that never replaces (no MOVEFILE_REPLACE_EXISTING): an
  // existing entry of the new name, a directory too, refuses it. Every
  // handle inside the folder was closed by the copy that opened it.
  PublishResult PublishDir(const std::string& ansi_from,
                           const std::string& ansi_to,
                           std::string* error) override {
    std::wstring from, to;
    if (!Wide(ansi_from, &from, error) || !Wide(ansi_to, &to, error)) {
      return PublishResult::kFailed;
    }
    // Only outside every target: a view publishes within its roots by
    // handle, and refuses a rename into or out of them.
    if (MoveFileExW(from.c_str(), to.c_str(), 0)) {
      return PublishResult::kPublished;
    }
    const DWORD code = GetLastError();
    SetError(error, code);
    return code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS
               ? PublishResult::kTargetExists
               : PublishResult::kFailed;
  }
  bool PublishesDirs() override { return true; }

  PublishResult RenameNew(const std::string& ansi_from,
                          const std::string& ansi_to,
                          std::string* error) override {
    std::wstring from;
    if (!Wide(ansi_from, &from, error)) return PublishResult::kFailed;
    const DWORD attributes = GetFileAttributesW(from.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
      SetError(error, attributes == INVALID_FILE_ATTRIBUTES
                          ? GetLastError()
                          : static_cast<DWORD>(ERROR_ACCESS_DENIED));
      return PublishResult::kFailed;
    }
    return PublishDir(ansi_from, ansi_to, error);
  }

  // After a removal failed: true when nothing is at `path` (already gone
  // counts as removed), else false with the removal's error.
  bool Gone(const std::wstring& path, std::string* error) const {
    const DWORD code = GetLastError();
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
        (GetLastError() == ERROR_FILE_NOT_FOUND ||
         GetLastError() == ERROR_PATH_NOT_FOUND)) {
      return true;
    }
    SetError(error, code);
    return false;
  }

  bool CanRead(const std::string& ansi_path) override {
    std::wstring path;
    if (!Wide(ansi_path, &path, nullptr)) return false;
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                       FILE_ATTRIBUTE_DEVICE)) != 0) {
      return false;
    }
    FileHandle file(
        CreateFileW(path.c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid();
  }

  bool CanWrite(const std::string& ansi_path) override {
    std::wstring path;
    if (!Wide(ansi_path, &path, nullptr)) return false;
    // Opening asks the access check a write would meet, and writes nothing:
    // a folder for adding entries, a file for writing without truncation.
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!folder && (attributes & FILE_ATTRIBUTE_READONLY) != 0) return false;
    FileHandle handle(CreateFileW(
        path.c_str(),
        folder ? FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY : GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, folder ? FILE_FLAG_BACKUP_SEMANTICS : 0, nullptr));
    return handle.valid();
  }

  bool StatusOf(const std::string& ansi_path, EntryStatus* status) override {
    std::wstring path;
    if (!Wide(ansi_path, &path, nullptr)) return false;
    // The entry itself: a reparse point is opened, not followed, and has
    // no status here.
    FileHandle handle(CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    FILE_BASIC_INFO basic;
    if (!handle.valid() || !GetFileInformationByHandle(handle.get(), &info) ||
        !GetFileInformationByHandleEx(handle.get(), FileBasicInfo, &basic,
                                      sizeof(basic)) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      return false;
    }
    status->id = {info.dwVolumeSerialNumber,
                  (static_cast<uint64_t>(info.nFileIndexHigh) << 32) |
                      info.nFileIndexLow};
    status->is_directory =
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    status->size =
        (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    status->modified = TimeOfTicks(basic.LastWriteTime.QuadPart);
    status->changed = TimeOfTicks(basic.ChangeTime.QuadPart);
    return true;
  }

  // By one listing of the folder; names that are more than one entry go
  // by StatusOf.
  void StatusesIn(const std::string& dir, const std::vector<std::string>& names,
                  std::vector<std::optional<EntryStatus>>* statuses) override {
    std::wstring folder;
    std::vector<std::wstring> entries(names.size());
    bool plain = Wide(dir, &folder, nullptr);
    for (size_t i = 0; plain && i < names.size(); ++i) {
      std::wstring& entry = entries[i];
      plain = ToWide(code_page_, names[i], &entry) && !entry.empty() &&
              entry != L"." && entry != L".." &&
              entry.find_first_of(L"\\/:") == std::wstring::npos;
    }
    if (!plain) return FileSystem::StatusesIn(dir, names, statuses);
    ListedStatuses(folder, entries, statuses);
  }

  std::unique_ptr<FileSystem> Confined(const std::vector<std::string>& roots,
                                       std::string* error) override {
    return NewConfinedView(this, code_page_, roots, error);
  }

  std::string AbsolutePath(const std::string& ansi_path) const override {
    std::wstring path;
    if (!ToWide(code_page_, ansi_path, &path, true)) return ansi_path;
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
      const DWORD length =
          GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()),
                           buffer.data(), nullptr);
      if (length == 0) return ansi_path;
      if (length < buffer.size()) {
        std::string full;
        return FromWide(code_page_, std::wstring_view(buffer.data(), length),
                        &full)
                   ? full
                   : ansi_path;
      }
      buffer.resize(length + 1);
    }
  }

  bool Locate(const std::string& path, FileLocation* where) override {
    std::wstring wide;
    if (path.find('\0') != std::string::npos ||
        !ToWide(code_page_, path, &wide) || wide.empty()) {
      where->exists = false;
      where->chain.clear();
      return false;
    }
    return LocateNative(WideToUtf8(wide), where);
  }

 private:
  // The path for the wide-character calls; false, with the reason, when
  // the code page has no such text.
  bool Wide(const std::string& path, std::wstring* wide,
            std::string* error) const {
    if (ToWidePath(code_page_, path, wide)) return true;
    SetError(error, ERROR_NO_UNICODE_TRANSLATION);
    return false;
  }

  // The system's message for the code, in the run's code page.
  void SetError(std::string* error, DWORD code) const {
    SetWin32Error(code_page_, error, code);
  }

  bool Succeeded(DWORD code, std::string* error) const {
    if (code == ERROR_SUCCESS) return true;
    SetError(error, code);
    return false;
  }

  // A name for a copy in progress in the folder of `to`, unique in the
  // machine: the process and a count of its copies.
  std::string TemporaryFor(const std::string& to) {
    const size_t separator = LastSeparator(code_page_, to);
    const std::string folder = separator == std::string::npos
                                   ? std::string()
                                   : to.substr(0, separator + 1);
    return folder + kCopyTempInfix + std::to_string(GetCurrentProcessId()) +
           "." + std::to_string(copies_.fetch_add(1));
  }

  const UINT code_page_;
  std::atomic<unsigned> copies_{0};
};

}  // namespace

std::unique_ptr<FileSystem> NewDiskFileSystem() {
  return std::make_unique<WindowsFileSystem>(GetACP());
}

std::unique_ptr<FileSystem> NewDiskFileSystem(
    const std::string& code_page_name) {
  UINT code_page = CodePageId(code_page_name);
  if (code_page == 0) return nullptr;
  return std::make_unique<WindowsFileSystem>(code_page);
}

}  // namespace vm
