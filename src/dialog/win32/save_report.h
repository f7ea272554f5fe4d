#ifndef VM_APP_WIN32_SAVE_REPORT_H_
#define VM_APP_WIN32_SAVE_REPORT_H_

#include <windows.h>

#include <functional>
#include <string>

#include "session/report_file.h"

namespace vm {

// Asks where to save a report, offering the HTML page, JSON and CSV
// (`base_name` plus the extension as the proposed name, in `folder`; both
// in `code_page`), and writes `contents(format)` there.
// False when the user cancelled (*error empty) or the file could not be
// written (*error names it).
bool SaveReportAs(
    HWND owner, unsigned int code_page, const std::string& folder,
    const std::string& base_name,
    const std::function<std::string(ReportFormat format)>& contents,
    std::wstring* error);

}  // namespace vm

#endif  // VM_APP_WIN32_SAVE_REPORT_H_
