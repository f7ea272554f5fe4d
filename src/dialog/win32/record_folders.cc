#include "dialog/win32/record_folders.h"

#include <windows.h>
// After <windows.h>, which it needs.
#include <shlobj.h>

#include <cstring>

#include "dialog/win32/migration_app.h"
#include "platform/path_separator_win32.h"
#include "platform/registry.h"
#include "platform/wide_text_win32.h"

namespace vm {

std::string DirectoryOf(unsigned int code_page, const std::string& path) {
  const size_t last = LastSeparator(code_page, path);
  return last == std::string::npos ? std::string() : path.substr(0, last);
}

std::vector<std::string> DialogRecordFolders(unsigned int code_page,
                                             const std::string& name) {
  std::vector<std::string> folders;
  const std::string program_dir =
      DirectoryOf(code_page, ProgramPath(kDialogCodePage));
  if (!program_dir.empty()) folders.push_back(program_dir + "\\" + name);
  wchar_t common[MAX_PATH] = {};
  std::string common_ansi;
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0,
                                 common)) &&
      FromWide(code_page, common, &common_ansi)) {
    folders.push_back(common_ansi + "\\VelquorMigrate\\" + name);
  }
  return folders;
}

std::string InstalledGuideAddress() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  std::wstring folder(path, length);
  const size_t last = folder.find_last_of(L"\\/");
  if (last == std::wstring::npos) return std::string();
  const std::string utf8 = WideToUtf8(folder.substr(0, last));
  // Every byte outside the plain ones escaped, as an address needs.
  std::string address = "file:///";
  for (unsigned char c : utf8) {
    if (c == '\\') {
      address += '/';
    } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
               (c >= '0' && c <= '9') || std::strchr("-._~:/", c) != nullptr) {
      address += static_cast<char>(c);
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      address += '%';
      address += kHex[c >> 4];
      address += kHex[c & 15];
    }
  }
  return address + "/user-guide.html";
}

}  // namespace vm
