#include "platform/disk_space.h"

#include <windows.h>

namespace vm {

// Paths are in the system's ANSI code page already.
bool FreeDiskSpace(const CodePage&, const std::string& dir, uint64_t* bytes) {
  std::string path = dir;
  while (!path.empty()) {
    ULARGE_INTEGER available;
    if (GetDiskFreeSpaceExA((path + "\\").c_str(), &available, nullptr,
                            nullptr)) {
      *bytes = available.QuadPart;
      return true;
    }
    size_t slash = path.find_last_of('\\');
    if (slash == std::string::npos) return false;
    path.resize(slash);
  }
  return false;
}

}  // namespace vm
