#include "platform/registry.h"

#include <windows.h>

#include <string>
#include <vector>

#include "platform/wide_text_win32.h"

namespace vm {
namespace {

// The string value `name` of an open key; false when it is absent or not a
// string. A REG_EXPAND_SZ value comes with its %variables% expanded.
bool ReadValue(HKEY key, const std::string& name, std::string* result) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return false;
  }
  // One byte more than the value: a value stored without its terminator
  // stays NUL-terminated.
  std::vector<char> buffer(size + 1, '\0');
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type,
                       reinterpret_cast<BYTE*>(buffer.data()),
                       &size) != ERROR_SUCCESS) {
    return false;
  }
  std::string text = buffer.data();
  if (type == REG_EXPAND_SZ) {
    DWORD needed = ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
    if (needed == 0) return false;
    std::vector<char> expanded(needed + 1, '\0');
    if (ExpandEnvironmentStringsA(text.c_str(), expanded.data(), needed + 1) ==
        0) {
      return false;
    }
    text = expanded.data();
  }
  *result = std::move(text);
  return true;
}

class WindowsRegistry : public Registry {
 public:
  bool ReadString(const std::string& key, const std::string& value,
                  std::string* result, bool* found) override {
    result->clear();
    *found = false;
    bool opened = false;
    // A 32-bit installer's keys lie in the 32-bit view on 64-bit Windows
    // (what a 32-bit program sees), so that view is read first. Reading
    // needs query access only, which a user without elevation has.
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      HKEY handle = nullptr;
      if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0,
                        KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS) {
        continue;
      }
      opened = true;
      *found = ReadValue(handle, value, result);
      RegCloseKey(handle);
      if (*found) break;
    }
    return opened;
  }
};

}  // namespace

std::unique_ptr<Registry> OpenSystemRegistry() {
  return std::make_unique<WindowsRegistry>();
}

std::string ProgramPath() {
  // The buffer grows until the path fits: a path longer than MAX_PATH is
  // no reason to lose it.
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(),
                                            static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::string();
    if (length < buffer.size()) {
      buffer.resize(length);
      break;
    }
    if (buffer.size() >= 32768) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  // A folder the ANSI code page cannot name is no path of the program's:
  // a best-fit look-alike would name another.
  std::string path;
  if (!FromWide(CP_ACP, buffer, &path)) return std::string();
  return path;
}

}  // namespace vm
