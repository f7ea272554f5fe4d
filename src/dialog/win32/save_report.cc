#include "dialog/win32/save_report.h"

#include <commdlg.h>

#include <algorithm>
#include <cwctype>

#include "platform/wide_text_win32.h"

namespace vm {

namespace {

bool EndsWithCsv(const std::wstring& name) {
  if (name.size() < 4) return false;
  std::wstring end = name.substr(name.size() - 4);
  for (wchar_t& c : end) c = static_cast<wchar_t>(std::towlower(c));
  return end == L".csv";
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

bool SaveReportAs(HWND owner, unsigned int code_page, const std::string& folder,
                  const std::string& base_name,
                  const std::function<std::string(bool json)>& contents,
                  std::wstring* error) {
  error->clear();
  wchar_t file[MAX_PATH] = {};
  FillBuffer(code_page, base_name + ".json", file);
  wchar_t initial[MAX_PATH] = {};
  FillBuffer(code_page, folder, initial);
  static const wchar_t kFilter[] =
      L"JSON 报告 (*.json)\0*.json\0CSV 表格 (*.csv)\0*.csv\0";
  OPENFILENAMEW dialog = {};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = kFilter;
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file;
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrInitialDir = initial[0] != 0 ? initial : nullptr;
  dialog.lpstrTitle = L"保存报告";
  dialog.lpstrDefExt = L"json";
  dialog.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST |
                 OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!GetSaveFileNameW(&dialog)) return false;
  // The type chosen decides, unless the name says otherwise.
  const std::wstring name = file;
  const bool json = !EndsWithCsv(name) && dialog.nFilterIndex != 2;
  const std::string text = contents(json);
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
