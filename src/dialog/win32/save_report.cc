#include "dialog/win32/save_report.h"

#include <commdlg.h>

#include <algorithm>
#include <cwctype>
#include <string_view>

#include "platform/wide_text_win32.h"

namespace vm {

namespace {

bool EndsWith(const std::wstring& name, std::wstring_view end) {
  if (name.size() < end.size()) return false;
  std::wstring last = name.substr(name.size() - end.size());
  for (wchar_t& c : last) c = static_cast<wchar_t>(std::towlower(c));
  return last == end;
}

// The name's extension decides; else the type chosen in the dialog.
ReportFormat FormatOf(const std::wstring& name, DWORD filter) {
  if (EndsWith(name, L".html") || EndsWith(name, L".htm")) {
    return ReportFormat::kHtml;
  }
  if (EndsWith(name, L".json")) return ReportFormat::kJson;
  if (EndsWith(name, L".csv")) return ReportFormat::kCsv;
  return filter == 2   ? ReportFormat::kJson
         : filter == 3 ? ReportFormat::kCsv
                       : ReportFormat::kHtml;
}

// `text` (ANSI) in the dialog's buffer; a text too long for it leaves it
// empty rather than cut.
void FillBuffer(UINT code_page, const std::string& text,
                wchar_t (&buffer)[MAX_PATH]) {
  std::wstring wide;
  ToWide(code_page, text, &wide, false);
  if (wide.size() >= MAX_PATH) return;
  std::copy(wide.begin(), wide.end(), buffer);
  buffer[wide.size()] = L'\0';
}

}  // namespace

bool SaveReportAs(
    HWND owner, unsigned int code_page, const std::string& folder,
    const std::string& base_name,
    const std::function<std::string(ReportFormat format)>& contents,
    std::wstring* error) {
  error->clear();
  wchar_t file[MAX_PATH] = {};
  FillBuffer(code_page, base_name + ".html", file);
  wchar_t initial[MAX_PATH] = {};
  FillBuffer(code_page, folder, initial);
  static const wchar_t kFilter[] =
      L"HTML 报告，可打印 (*.html)\0*.html;*.htm\0JSON 报告 (*.json)\0*.json\0"
      L"CSV 表格 (*.csv)\0*.csv\0";
  OPENFILENAMEW dialog = {};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = kFilter;
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file;
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrInitialDir = initial[0] != 0 ? initial : nullptr;
  dialog.lpstrTitle = L"保存报告";
  dialog.lpstrDefExt = L"html";
  dialog.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST |
                 OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!GetSaveFileNameW(&dialog)) return false;
  const std::wstring name = file;
  const std::string text = contents(FormatOf(name, dialog.nFilterIndex));
  HANDLE handle = CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  bool ok = handle != INVALID_HANDLE_VALUE &&
            WriteFile(handle, text.data(), static_cast<DWORD>(text.size()),
                      &written, nullptr) &&
            written == text.size();
  if (handle != INVALID_HANDLE_VALUE) ok = CloseHandle(handle) && ok;
  if (!ok) *error = L"无法写入报告文件：" + name;
  return ok;
}

}  // namespace vm
