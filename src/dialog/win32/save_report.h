#ifndef VM_APP_WIN32_SAVE_REPORT_H_
#define VM_APP_WIN32_SAVE_REPORT_H_

#include <windows.h>

#include <functional>
#include <string>

namespace vm {

// Asks where to save a report, offering JSON and CSV (`base_name` plus
// the extension as the proposed name, in `folder`), and writes
// `contents(json)` there.
// False when the user cancelled (*error empty) or the file could not be
// written (*error names it, ANSI).
bool SaveReportAs(HWND owner, const std::string& folder,
                  const std::string& base_name,
                  const std::function<std::string(bool json)>& contents,
                  std::string* error);

}  // namespace vm

#endif  // VM_APP_WIN32_SAVE_REPORT_H_
