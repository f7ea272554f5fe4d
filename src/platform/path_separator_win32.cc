#include "platform/path_separator_win32.h"

#include <windows.h>

#include <string>

namespace vm {

// The position of the last separator of the path, npos when it has none.
// A double-byte character's second byte may be 0x5C, the backslash: it
// separates nothing.
size_t LastSeparator(UINT code_page, const std::string& path) {
  size_t last = std::string::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    if (IsDBCSLeadByteEx(code_page, static_cast<BYTE>(path[i]))) {
      ++i;
    } else if (path[i] == '\\' || path[i] == '/') {
      last = i;
    }
  }
  return last;
}
}  // namespace vm
