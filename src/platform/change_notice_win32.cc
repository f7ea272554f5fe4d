#include <windows.h>

#include <cstddef>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/change_notice.h"
#include "platform/code_page.h"
#include "platform/wide_text_win32.h"

namespace vm {

namespace {

constexpr DWORD kWatched =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
    FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;

// Whether this process runs under Wine, whose tree requests tell the
// changes only in the folders the process opened since the request, each
// level down from the watched one; Windows tells the whole tree.
bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr &&
         GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Lists `dir` and every folder beneath it (links and junctions not
// followed), which under Wine brings them into the tree request made
// before. Deep trees are walked without recursion.
void ListTree(const std::wstring& dir) {
  std::vector<std::wstring> pending{dir};
  while (!pending.empty()) {
    const std::wstring folder = std::move(pending.back());
    pending.pop_back();
    WIN32_FIND_DATAW found;
    const HANDLE find =
        FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found,
                         FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) continue;
    do {
      const std::wstring name = found.cFileName;
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
          (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
          name != L"." && name != L"..") {
        pending.push_back(folder + L"\\" + name);
      }
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
}

// ReadDirectoryChangesW over the whole tree, one request always
// outstanding: once the first is made the system keeps counting changes on
// the handle between two requests, so a change made during a pass is told
// by the next Wait. What changed is not read (any notice means a pass);
// a request that ends with no entries means the buffer overflowed.
class TreeNotice : public ChangeNotice {
 public:
  TreeNotice(const CodePage* code_page, std::wstring path, HANDLE dir,
             HANDLE done, HANDLE wake)
      : code_page_(code_page),
        path_(std::move(path)),
        dir_(dir),
        done_(done),
        wake_(wake) {}
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
  bool Start() {
    if (!Request()) return false;
    if (wine_) ListTree(path_);
    return true;
  }

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
    if (waited != WAIT_OBJECT_0 + 1) {
      known_ = false;
      return NoticeWait::kOverflow;
    }
    return Consume() ? NoticeWait::kChanged : NoticeWait::kOverflow;
  }

  void Wake() override { SetEvent(wake_); }
  bool TellsChanges() const override { return true; }

  bool TakeNamed(std::vector<std::string>* names) override {
    // A notice already in counts, though no Wait took it yet.
    if (pending_ && WaitForSingleObject(done_, 0) == WAIT_OBJECT_0) Consume();
    names->assign(named_.begin(), named_.end());
    named_.clear();
    const bool known = known_;
    known_ = true;
    return known;
  }

 private:
  // Takes the request that ended: what it tells, then the next request.
  // False when it ended without names (a lost count).
  bool Consume() {
    pending_ = false;
    DWORD bytes = 0;
    const bool read = GetOverlappedResult(dir_, &overlapped_, &bytes, FALSE);
    const bool told = read && bytes > 0;
    std::vector<std::wstring> added;
    if (told) {
      Note(bytes, &added);
    } else {
      known_ = false;
    }
    // The next request goes out before the pass starts, so nothing the
    // pass misses goes untold.
    Request();
    if (!wine_) return told;
    // Under Wine a folder made since is told only once listed; a lost
    // count may hide such folders anywhere.
    if (!told) ListTree(path_);
    for (const std::wstring& name : added) {
      const std::wstring folder = path_ + L"\\" + name;
      const DWORD attributes = GetFileAttributesW(folder.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES &&
          (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
          (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        ListTree(folder);
      }
    }
    return told;
  }

  // Notes the first part of every name the request's `bytes` tell (the
  // folder right beneath the watched one), and gives the names, relative
  // to the watched folder, told as added by a new name or a rename.
  void Note(DWORD bytes, std::vector<std::wstring>* added) {
    DWORD offset = 0;
    while (offset + sizeof(FILE_NOTIFY_INFORMATION) <= bytes) {
      const auto* info =
          reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer_ + offset);
      if (offsetof(FILE_NOTIFY_INFORMATION, FileName) + info->FileNameLength >
          bytes - offset) {
        known_ = false;
        return;
      }
      const std::wstring name(info->FileName,
                              info->FileNameLength / sizeof(WCHAR));
      // Spelled as the run's code page spells it, exactly, or not known.
      const std::string utf8 = WideToUtf8(name.substr(0, name.find(L'\\')));
      const std::string first = code_page_->ToAnsi(utf8);
      if (first.empty() || code_page_->ToUtf8(first) != utf8) {
        known_ = false;
      } else {
        named_.insert(first);
      }
      if (info->Action == FILE_ACTION_ADDED ||
          info->Action == FILE_ACTION_RENAMED_NEW_NAME) {
        added->push_back(name);
      }
      if (info->NextEntryOffset == 0) return;
      offset += info->NextEntryOffset;
    }
  }

  bool Request() {
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = done_;
    ResetEvent(done_);
    pending_ =
        ReadDirectoryChangesW(dir_, buffer_, sizeof(buffer_), TRUE, kWatched,
                              nullptr, &overlapped_, nullptr) != 0;
    return pending_;
  }

  const CodePage* code_page_;
  const std::wstring path_;
  const bool wine_ = UnderWine();
  HANDLE dir_;
  HANDLE done_;  // manual reset: the request ended
  HANDLE wake_;  // manual reset, never reset: Wake stays set
  OVERLAPPED overlapped_{};
  bool pending_ = false;
  alignas(DWORD) char buffer_[64 * 1024];
  // What the notices named since TakeNamed was last called, and whether
  // that is all that changed.
  std::set<std::string> named_;
  bool known_ = false;
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
  auto notice =
      std::make_unique<TreeNotice>(&code_page, wide, handle, done, wake);
  if (!notice->Start()) return NoticeTimer();
  return notice;
}

}  // namespace vm
