#include "platform/disk_space.h"

#include <sys/statvfs.h>

#include "platform/code_page.h"

namespace vm {

bool FreeDiskSpace(const CodePage& code_page, const std::string& dir,
                   uint64_t* bytes) {
  std::string path = code_page.ToUtf8(dir);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  // Assigning through assign() keeps GCC 12's -O3 restrict warning quiet.
  if (path.empty()) path.assign(1, '.');
  for (;;) {
    struct statvfs info;
    if (::statvfs(path.c_str(), &info) == 0) {
      *bytes = static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
      return true;
    }
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
      if (path == ".") return false;
      path.assign(1, '.');
    } else if (slash == 0) {
      if (path == "/") return false;
      path.assign(1, '/');
    } else {
      path.resize(slash);
    }
  }
}

}  // namespace vm
