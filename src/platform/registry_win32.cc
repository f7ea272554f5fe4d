#include "platform/registry.h"

#include <windows.h>

namespace vm {
namespace {

// Values are read the way the server tools have always read them: the key
// opened with full access, the value into a zeroed 256-byte buffer.
constexpr DWORD kValueBufferSize = 256;

class WindowsRegistry : public Registry {
 public:
  bool ReadString(const std::string& key, const std::string& value,
                  std::string* result, bool* found) override {
    result->clear();
    *found = false;
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS,
                      &handle) != ERROR_SUCCESS) {
      return false;
    }
    char buffer[kValueBufferSize + 1] = {};
    DWORD size = kValueBufferSize;
    DWORD type = 0;
    LONG status = RegQueryValueExA(handle, value.c_str(), nullptr, &type,
                                   reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(handle);
    if (status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
      // The extra byte past the 256 keeps a value without its terminator
      // NUL-terminated.
      *result = buffer;
      *found = true;
    }
    return true;
  }
};

}  // namespace

std::unique_ptr<Registry> OpenSystemRegistry() {
  return std::make_unique<WindowsRegistry>();
}

std::string ProgramPath() {
  char buffer[MAX_PATH] = {};
  DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  // A path that did not fit is truncated by the call; treat it as unknown
  // rather than hand out a wrong path.
  if (length == 0 || length >= MAX_PATH) return std::string();
  return std::string(buffer, length);
}

}  // namespace vm
