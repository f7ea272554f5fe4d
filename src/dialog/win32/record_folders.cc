#include "dialog/win32/record_folders.h"

#include <windows.h>
// After <windows.h>, which it needs.
#include <shlobj.h>

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

}  // namespace vm
