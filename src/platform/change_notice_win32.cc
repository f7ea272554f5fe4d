#include <windows.h>

#include <utility>

#include "platform/change_notice.h"
#include "platform/code_page.h"
#include "platform/wide_text_win32.h"

namespace vm {

namespace {

constexpr DWORD kWatched =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
    FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;

// ReadDirectoryChangesW over the whole tree, one request always
// outstanding: once the first is made the system keeps counting changes on
// the handle between two requests, so a change made during a pass is told
// by the next Wait. What changed is not read (any notice means a pass);
// a request that ends with no entries means the buffer overflowed.
class TreeNotice : public ChangeNotice {
 public:
  TreeNotice(HANDLE dir, HANDLE done, HANDLE wake)
      : dir_(dir), done_(done), wake_(wake) {}
  ~TreeNotice() override {
    if (pending_) {
      CancelIoEx(dir_, &overlapped_);
      DWORD ignored = 0;
      GetOverlappedResult(dir_, &overlapped_, &ignored, TRUE);
    }
    CloseHandle(dir_);
    CloseHandle(done_);
    CloseHandle(wake_);
  }

  // Makes the first request; false when the folder cannot be watched.
  bool Start() { return Request(); }

  NoticeWait Wait(int64_t millis) override {
    const DWORD timeout = millis < 0              ? 0
                          : millis > 0x7fffffffLL ? 0x7fffffffUL
                                                  : static_cast<DWORD>(millis);
    // A folder that can no longer be watched leaves the timer's waits.
    const HANDLE handles[2] = {wake_, done_};
    const DWORD count = pending_ || Request() ? 2 : 1;
    const DWORD waited = WaitForMultipleObjects(count, handles, FALSE, timeout);
    if (waited == WAIT_OBJECT_0) return NoticeWait::kWoken;
    if (waited == WAIT_TIMEOUT) return NoticeWait::kTimedOut;
    if (waited != WAIT_OBJECT_0 + 1) return NoticeWait::kOverflow;
    pending_ = false;
    DWORD bytes = 0;
    const bool read = GetOverlappedResult(dir_, &overlapped_, &bytes, FALSE);
    // The next request goes out before the pass starts, so nothing the
    // pass misses goes untold.
    Request();
    return read && bytes > 0 ? NoticeWait::kChanged : NoticeWait::kOverflow;
  }

  void Wake() override { SetEvent(wake_); }
  bool TellsChanges() const override { return true; }

 private:
  bool Request() {
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = done_;
    ResetEvent(done_);
    pending_ =
        ReadDirectoryChangesW(dir_, buffer_, sizeof(buffer_), TRUE, kWatched,
                              nullptr, &overlapped_, nullptr) != 0;
    return pending_;
  }

  HANDLE dir_;
  HANDLE done_;  // manual reset: the request ended
  HANDLE wake_;  // manual reset, never reset: Wake stays set
  OVERLAPPED overlapped_{};
  bool pending_ = false;
  alignas(DWORD) char buffer_[64 * 1024];
};

}  // namespace

std::unique_ptr<ChangeNotice> WatchFolderTree(const CodePage& code_page,
                                              const std::string& dir) {
  std::wstring wide;
  if (!code_page.IsValidAnsi(dir) ||
      !ToWidePath(CP_UTF8, code_page.ToUtf8(dir), &wide)) {
    return NoticeTimer();
  }
  HANDLE handle =
      CreateFileW(wide.c_str(), FILE_LIST_DIRECTORY,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return NoticeTimer();
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (done == nullptr || wake == nullptr) {
    if (done != nullptr) CloseHandle(done);
    if (wake != nullptr) CloseHandle(wake);
    CloseHandle(handle);
    return NoticeTimer();
  }
  auto notice = std::make_unique<TreeNotice>(handle, done, wake);
  if (!notice->Start()) return NoticeTimer();
  return notice;
}

}  // namespace vm
