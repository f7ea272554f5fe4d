#include "migrate/safe_name.h"

#include <cstring>

namespace vm {

namespace {

bool IsForbiddenByte(unsigned char c) {
  return c < 0x20 || c == 0x7f || std::strchr("\\/:<>\"|?*", c) != nullptr;
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }

bool IsDeviceName(const std::string& name) {
  // The device is named by the part before the first dot, blanks dropped.
  std::string base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = AsciiUpper(c);
  static const char* const kDevices[] = {"CON",    "PRN",     "AUX",   "NUL",
                                         "CONIN$", "CONOUT$", "CLOCK$"};
  for (const char* device : kDevices) {
    if (base == device) return true;
  }
  if (base.size() == 4 &&
      (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0)) {
    return base[3] >= '0' && base[3] <= '9';
  }
  return false;
}

}  // namespace

bool IsSafeDirectoryName(const std::string& name, const NameOps& names) {
  if (name.empty() || name == "." || name == "..") return false;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (names.IsLeadByte(c)) {
      // Only a valid trail byte makes one character with the lead byte; a
      // lead byte before anything else would hide a ":" or a control byte
      // from this check while the system reads it on its own.
      unsigned char trail =
          i + 1 < name.size() ? static_cast<unsigned char>(name[i + 1]) : 0;
      if (trail < 0x40 || trail == 0x7f || trail == 0xff) return false;
      ++i;
      continue;
    }
    if (IsForbiddenByte(c)) return false;
  }
  char last = name.back();
  if (last == '.' || last == ' ') return false;
  return !IsDeviceName(name);
}

}  // namespace vm
