#include "platform/file_system.h"

#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "platform/code_page.h"
#include "platform/wildcard.h"

namespace vm {
namespace {

constexpr DWORD kReadBlock = 65536;
// Virus scanners and indexers open freshly written files for a moment; a
// replace refused for that reason usually succeeds a little later.
constexpr int kReplaceAttempts = 5;
constexpr DWORD kReplaceRetryMillis = 50;

void SetError(std::string* error, DWORD code) {
  if (error == nullptr) return;
  char* text = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  if (length == 0 || text == nullptr) {
    *error = "error " + std::to_string(code);
  } else {
    *error = std::string(text, length);
    while (!error->empty() && (error->back() == '\n' || error->back() == '\r' ||
                               error->back() == ' ')) {
      error->pop_back();
    }
  }
  if (text != nullptr) LocalFree(text);
}

// Closes the handle when it goes out of scope unless Close() was called and
// checked first.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (valid()) CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  bool Close() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return CloseHandle(handle) != 0;
  }

 private:
  HANDLE handle_;
};

// Writes every byte; a short write is a failure.
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
DWORD WriteWholeFile(const std::string& path, const std::string& contents,
                     DWORD flags) {
  FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
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

// Rewrites an existing file through its own handle, so that it keeps its
// security descriptor, attributes and streams; it is cut to the new length
// only after every byte is written.
DWORD RewriteInPlace(const std::string& path, const std::string& contents) {
  FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, FILE_FLAG_WRITE_THROUGH,
                              nullptr));
  if (!file.valid()) return GetLastError();
  if (!WriteAll(file.get(), contents) || !SetEndOfFile(file.get()) ||
      !FlushFileBuffers(file.get()) || !file.Close()) {
    return GetLastError();
  }
  return ERROR_SUCCESS;
}

bool Succeeded(DWORD code, std::string* error) {
  if (code == ERROR_SUCCESS) return true;
  SetError(error, code);
  return false;
}

// Attributes a saved file keeps besides what ReplaceFileW carries over.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

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

// The path in UTF-16, from the ANSI code page the *A calls use.
bool ToWidePath(const std::string& path, std::wstring* wide) {
  int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.data(),
                                   static_cast<int>(path.size()), nullptr, 0);
  if (length <= 0) return false;
  wide->assign(static_cast<size_t>(length), L'\0');
  return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.data(),
                             static_cast<int>(path.size()), wide->data(),
                             length) == length;
}

bool IsTransientReplaceError(DWORD code) {
  return code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED ||
         code == ERROR_LOCK_VIOLATION ||
         code == ERROR_UNABLE_TO_REMOVE_REPLACED ||
         code == ERROR_UNABLE_TO_MOVE_REPLACEMENT;
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

class WindowsFileSystem : public FileSystem {
 public:
  bool Exists(const std::string& path) override {
    return _access(path.c_str(), 0) == 0;
  }

  bool ModifiedTime(const std::string& path, int64_t* seconds) override {
    struct _stat64 status;
    if (_stat64(path.c_str(), &status) != 0) return false;
    *seconds = static_cast<int64_t>(status.st_mtime);
    return true;
  }

  bool ReadFile(const std::string& path, std::string* contents,
                std::string* error) override {
    contents->clear();
    FileHandle file(
        CreateFileA(path.c_str(), GENERIC_READ,
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

  bool WriteFile(const std::string& path, const std::string& contents,
                 std::string* error) override {
    return Succeeded(WriteWholeFile(path, contents, 0), error);
  }

  bool ReplaceContents(const std::string& path, const std::string& contents,
                       std::string* error) override {
    DWORD attributes = GetFileAttributesA(path.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES &&
                        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    std::string temp = path + ".vm" + std::to_string(GetCurrentProcessId()) +
                       "-" + std::to_string(GetCurrentThreadId()) + ".tmp";
    DWORD code = WriteWholeFile(temp, contents, FILE_FLAG_WRITE_THROUGH);
    if (code != ERROR_SUCCESS) {
      DeleteFileA(temp.c_str());
      // A folder we may not write, holding a file we may: the file can
      // still be rewritten where it is.
      if (exists && code == ERROR_ACCESS_DENIED) {
        return Succeeded(RewriteInPlace(path, contents), error);
      }
      return Succeeded(code, error);
    }
    if (!exists) {
      // A new file takes the permissions its folder passes on.
      if (MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
        return true;
      }
      code = GetLastError();
      DeleteFileA(temp.c_str());
      return Succeeded(code, error);
    }
    std::wstring wide_path;
    std::wstring wide_temp;
    if (!ToWidePath(path, &wide_path) || !ToWidePath(temp, &wide_temp)) {
      DeleteFileA(temp.c_str());
      return Succeeded(ERROR_NO_UNICODE_TRANSLATION, error);
    }
    // Unlike a rename, ReplaceFileW gives the new file the replaced file's
    // security descriptor and attributes, so the server that owns the file
    // can still read it. The attributes are also set beforehand, for
    // systems whose ReplaceFileW does not carry them over (Wine).
    SetFileAttributesA(temp.c_str(), attributes & kKeptAttributes);
    for (int attempt = 0; attempt < kReplaceAttempts; ++attempt) {
      if (attempt > 0) Sleep(kReplaceRetryMillis);
      // Tried only when nobody holds the file open without delete sharing:
      // a ReplaceFileW refused for that reason may leave a stray file of
      // its own in the folder.
      if (CanReplace(wide_path, &code) &&
          ReplaceFileW(wide_path.c_str(), wide_temp.c_str(), nullptr, 0,
                       nullptr, nullptr)) {
        return true;
      }
      if (code == ERROR_SUCCESS) code = GetLastError();
      if (!IsTransientReplaceError(code)) break;
    }
    if (code == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
      // The replaced file is gone and the new text is in the temporary
      // file: finish the move.
      if (MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
        return true;
      }
      code = GetLastError();
      return Succeeded(code, error);
    }
    DeleteFileA(temp.c_str());
    if (!IsTransientReplaceError(code)) return Succeeded(code, error);
    // Someone holds the target open without delete sharing: the replace
    // can never succeed while they do, but writing through their sharing
    // can.
    return Succeeded(RewriteInPlace(path, contents), error);
  }

  bool CreateDir(const std::string& path) override {
    if (CreateDirectoryA(path.c_str(), nullptr)) return true;
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }

  CopyResult CopyNew(const std::string& from, const std::string& to,
                     std::string* error) override {
    // Checked first so that a failing source can never lead us to remove a
    // target that was there before.
    if (GetFileAttributesA(to.c_str()) != INVALID_FILE_ATTRIBUTES) {
      return CopyResult::kTargetExists;
    }
    // A link (reparse point) could lead out of the source tree.
    DWORD source = GetFileAttributesA(from.c_str());
    if (source != INVALID_FILE_ATTRIBUTES &&
        (source & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY |
                   FILE_ATTRIBUTE_DEVICE)) != 0) {
      if (error != nullptr) *error = "not copied, not a regular file: " + from;
      return CopyResult::kFailed;
    }
    if (CopyFileA(from.c_str(), to.c_str(), TRUE)) {
      // Flushed here, on the copying thread: SyncVolume cannot flush a
      // volume without administrator rights.
      FileHandle copy(CreateFileA(to.c_str(), GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
      if (copy.valid() && FlushFileBuffers(copy.get()) && copy.Close()) {
        return CopyResult::kCopied;
      }
      DWORD code = GetLastError();
      DeleteFileA(to.c_str());
      SetError(error, code);
      return CopyResult::kFailed;
    }
    DWORD code = GetLastError();
    if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) {
      return CopyResult::kTargetExists;
    }
    // The target did not exist before the call, so anything there now is
    // our partial copy.
    DeleteFileA(to.c_str());
    SetError(error, code);
    return CopyResult::kFailed;
  }

  bool List(const std::string& pattern,
            std::vector<DirEntry>* entries) override {
    entries->clear();
    std::string directory = DirectoryOf(pattern);
    std::string wildcard = pattern.substr(
        directory.empty() && pattern.find_first_of("\\/") == std::string::npos
            ? 0
            : directory.size() + 1);
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
      // A readable directory without a matching entry is an empty list;
      // a pattern under a file, or under nothing, is a failure (Wine
      // reports both as "file not found" too).
      if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
      DWORD attributes =
          GetFileAttributesA(directory.empty() ? "." : directory.c_str());
      return attributes != INVALID_FILE_ATTRIBUTES &&
             (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    do {
      std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      // FindFirstFileA also matches the 8.3 short name, so that "*.del"
      // finds "x.delete"; the long name is checked again with the plain
      // rules so every platform enumerates the same entries.
      if (!WildcardMatch(wildcard, name, CharEncoding::kDoubleByte)) continue;
      DirEntry entry;
      entry.name = name;
      entry.path = directory.empty() ? name : directory + "\\" + name;
      entry.size =
          (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
      entry.is_directory =
          (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      entry.is_special =
          (data.dwFileAttributes &
           (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0;
      if (entry.is_special) entry.is_directory = false;
      // The ANSI listing puts '?' (never part of a Windows name) for each
      // character the code page cannot hold.
      entry.unconvertible_name = name.find('?') != std::string::npos;
      entries->push_back(std::move(entry));
    } while (FindNextFileA(find, &data));
    DWORD code = GetLastError();
    FindClose(find);
    return code == ERROR_NO_MORE_FILES;
  }

  bool SyncVolume(const std::string&, std::string*) override {
    return true;  // every copy is flushed as it is made
  }

  bool RemoveFile(const std::string& path) override {
    if (DeleteFileA(path.c_str())) return true;
    return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
           (GetLastError() == ERROR_FILE_NOT_FOUND ||
            GetLastError() == ERROR_PATH_NOT_FOUND);
  }

  bool Locate(const std::string& path, FileLocation* where) override {
    std::wstring wide;
    if (!ToWidePath(path, &wide)) {
      where->exists = false;
      where->chain.clear();
      return false;
    }
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(),
                                     static_cast<int>(wide.size()), nullptr, 0,
                                     nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length > 0 ? length : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                        utf8.data(), length, nullptr, nullptr);
    return LocateNative(utf8, where);
  }
};

}  // namespace

std::unique_ptr<FileSystem> NewDiskFileSystem() {
  return std::make_unique<WindowsFileSystem>();
}

std::unique_ptr<FileSystem> NewDiskFileSystem(
    const std::string& code_page_name) {
  // The ANSI file calls take the system's code page whatever the name says;
  // the name is only checked.
  if (OpenCodePage(code_page_name) == nullptr) return nullptr;
  return std::make_unique<WindowsFileSystem>();
}

}  // namespace vm
