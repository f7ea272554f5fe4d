#include <windows.h>

#include <string>
#include <utility>

#include "platform/code_page.h"
#include "platform/run_lock.h"

namespace vm {
namespace {

constexpr DWORD kMaxHolderText = 4096;
// The locked byte lies far beyond any holder's text, which stays readable
// (a locked range cannot be read by other handles).
constexpr DWORD kLockOffsetHigh = 0x100;  // 2^40

std::wstring WideOf(const std::string& utf8) {
  int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(),
                                   static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                      wide.data(), length);
  return wide;
}

// A byte-range lock on the lock file. Windows drops it when the handle is
// closed, also by the death of the process.
class RangeRunLock : public RunLock {
 public:
  RangeRunLock(std::string path, HANDLE file)
      : path_(std::move(path)), file_(file) {}
  ~RangeRunLock() override {
    if (held_) Unlock();
    CloseHandle(file_);
  }

  LockResult TryLock(RunLockMode mode, const std::string& holder) override {
    const bool exclusive = mode == RunLockMode::kExclusive;
    if (!Range(exclusive)) {
      return GetLastError() == ERROR_LOCK_VIOLATION ? LockResult::kBusy
                                                    : LockResult::kFailed;
    }
    held_ = true;
    if (!exclusive) return LockResult::kLocked;
    exclusive_ = true;
    // Held all the same when the text cannot be written; a refused run
    // names no holder then.
    DWORD written = 0;
    if (Truncate()) {
      WriteFile(file_, holder.data(), static_cast<DWORD>(holder.size()),
                &written, nullptr);
    }
    return LockResult::kLocked;
  }

  void Unlock() override {
    if (exclusive_) Truncate();
    exclusive_ = false;
    held_ = false;
    OVERLAPPED at = {};
    at.OffsetHigh = kLockOffsetHigh;
    UnlockFileEx(file_, 0, 1, 0, &at);
  }

  bool HeldExclusively() override {
    if (!Range(false)) return GetLastError() == ERROR_LOCK_VIOLATION;
    OVERLAPPED at = {};
    at.OffsetHigh = kLockOffsetHigh;
    UnlockFileEx(file_, 0, 1, 0, &at);
    return false;
  }

  std::string HolderText() override {
    std::string text(kMaxHolderText, '\0');
    OVERLAPPED at = {};
    DWORD got = 0;
    if (!ReadFile(file_, text.data(), kMaxHolderText, &got, &at)) got = 0;
    text.resize(got);
    return text;
  }

  const std::string& where() const override { return path_; }

 private:
  bool Range(bool exclusive) {
    OVERLAPPED at = {};
    at.OffsetHigh = kLockOffsetHigh;
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY |
                        (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : DWORD{0});
    return LockFileEx(file_, flags, 0, 1, 0, &at) != 0;
  }

  bool Truncate() {
    LARGE_INTEGER zero = {};
    return SetFilePointerEx(file_, zero, nullptr, FILE_BEGIN) &&
           SetEndOfFile(file_);
  }

  std::string path_;
  HANDLE file_;
  bool held_ = false;
  bool exclusive_ = false;
};

}  // namespace

std::unique_ptr<RunLock> OpenRunLock(const CodePage& code_page,
                                     const std::string& dir, bool create,
                                     std::string* error, bool* missing) {
  *missing = false;
  if (dir.empty() || !code_page.IsValidAnsi(dir)) {
    *error = "cannot use the lock file in " + code_page.ToUtf8(dir) +
             ": the path is not valid in the code page";
    return nullptr;
  }
  // In UTF-8 a backslash byte is always a separator.
  const std::string path =
      code_page.ToUtf8(dir) + "\\" + std::string(RunLock::kFileName);
  const std::wstring wide = WideOf(path);
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  // A reparse point (a link) is opened as itself, and then refused.
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE file =
      CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                  create ? OPEN_ALWAYS : OPEN_EXISTING, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    // Enough for a shared hold and for reading a holder's text.
    file = CreateFileW(wide.c_str(), GENERIC_READ, share, nullptr,
                       OPEN_EXISTING, flags, nullptr);
    *missing =
        file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND;
  } else if (file == INVALID_HANDLE_VALUE) {
    *missing = GetLastError() == ERROR_PATH_NOT_FOUND ||
               (!create && GetLastError() == ERROR_FILE_NOT_FOUND);
  }
  DWORD err = GetLastError();
  BY_HANDLE_FILE_INFORMATION info;
  if (file != INVALID_HANDLE_VALUE &&
      (!GetFileInformationByHandle(file, &info) ||
       (info.dwFileAttributes &
        (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)) {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
    err = ERROR_INVALID_PARAMETER;
  }
  if (file == INVALID_HANDLE_VALUE) {
    *error = "cannot use the lock file " + path + ": " +
             (err == ERROR_INVALID_PARAMETER ? std::string("not a regular file")
                                             : "error " + std::to_string(err));
    return nullptr;
  }
  return std::make_unique<RangeRunLock>(path, file);
}

std::string ThisHostName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &size)) return "?";
  const int length = WideCharToMultiByte(
      CP_UTF8, 0, name, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(length > 0 ? length : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, name, static_cast<int>(size), utf8.data(),
                      length, nullptr, nullptr);
  return utf8;
}

int64_t ThisProcessId() { return static_cast<int64_t>(GetCurrentProcessId()); }

}  // namespace vm
