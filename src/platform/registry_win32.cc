#include "platform/registry.h"

#include <windows.h>

#include <string>
#include <vector>

#include "platform/code_page_win32.h"
#include "platform/wide_text_win32.h"

namespace vm {
namespace {

// The string value `name` of an open key, in UTF-16; false when it is
// absent or not a string. A REG_EXPAND_SZ value comes with its %variables%
// expanded.
bool ReadValue(HKEY key, const std::wstring& name, std::wstring* result) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return false;
  }
  // One character more than the value: a value stored without its
  // terminator stays NUL-terminated.
  std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
  if (RegQueryValueExW(key, name.c_str(), nullptr, &type,
                       reinterpret_cast<BYTE*>(buffer.data()),
                       &size) != ERROR_SUCCESS) {
    return false;
  }
  std::wstring text = buffer.data();
  if (type == REG_EXPAND_SZ) {
    DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (needed == 0) return false;
    std::vector<wchar_t> expanded(needed + 1, L'\0');
    if (ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed + 1) ==
        0) {
      return false;
    }
    text = expanded.data();
  }
  *result = std::move(text);
  return true;
}

// Reads in UTF-16 and converts with the program's code page: a value that
// code page cannot hold exactly is no value (a '?' or look-alike would name
// another folder).
class WindowsRegistry : public Registry {
 public:
  explicit WindowsRegistry(UINT code_page) : code_page_(code_page) {}

  bool ReadString(const std::string& key, const std::string& value,
                  std::string* result, bool* found) override {
    result->clear();
    *found = false;
    bool opened = false;
    std::wstring wide_key;
    std::wstring wide_value;
    if (!ToWide(code_page_, key, &wide_key) ||
        !ToWide(code_page_, value, &wide_value)) {
      return false;
    }
    // A 32-bit installer's keys lie in the 32-bit view on 64-bit Windows
    // (what a 32-bit program sees), so that view is read first. Reading
    // needs query access only, which a user without elevation has.
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
      HKEY handle = nullptr;
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide_key.c_str(), 0,
                        KEY_QUERY_VALUE | view, &handle) != ERROR_SUCCESS) {
        continue;
      }
      opened = true;
      std::wstring wide;
      *found = ReadValue(handle, wide_value, &wide) &&
               FromWide(code_page_, wide, result);
      if (!*found) result->clear();
      RegCloseKey(handle);
      if (*found) break;
    }
    return opened;
  }

 private:
  UINT code_page_;
};

}  // namespace

std::unique_ptr<Registry> OpenSystemRegistry(
    const std::string& code_page_name) {
  const UINT code_page = CodePageId(code_page_name);
  return std::make_unique<WindowsRegistry>(code_page != 0 ? code_page
                                                          : GetACP());
}

std::string ProgramPath(const std::string& code_page_name) {
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
  const UINT code_page = CodePageId(code_page_name);
  if (!FromWide(code_page != 0 ? code_page : GetACP(), buffer, &path)) {
    return std::string();
  }
  return path;
}

}  // namespace vm
