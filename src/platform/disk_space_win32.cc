#include "platform/disk_space.h"

#include <windows.h>

#include "platform/code_page.h"
#include "platform/path_separator_win32.h"
#include "platform/wide_text_win32.h"

namespace vm {

// The path reaches the wide-character call through the run's code page,
// whatever the system's is; in UTF-8 a backslash byte is always a separator.
bool FreeDiskSpace(const CodePage& code_page, const std::string& dir,
                   uint64_t* bytes) {
  if (!code_page.IsValidAnsi(dir)) return false;
  std::string path = code_page.ToUtf8(dir);
  while (!path.empty()) {
    std::wstring wide;
    if (!ToWidePath(CP_UTF8, path + "\\", &wide)) return false;
    ULARGE_INTEGER available;
    if (GetDiskFreeSpaceExW(wide.c_str(), &available, nullptr, nullptr)) {
      *bytes = available.QuadPart;
      return true;
    }
    size_t slash = LastSeparator(CP_UTF8, path);
    if (slash == std::string::npos) return false;
    path.resize(slash);
  }
  return false;
}

}  // namespace vm
