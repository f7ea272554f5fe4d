#include "dialog/win32/window_text.h"

#include "platform/wide_text_win32.h"

namespace vm {

std::wstring WideOf(unsigned int code_page, const std::string& ansi) {
  std::wstring wide;
  ToWide(code_page, ansi, &wide, false);
  return wide;
}

void SetItemText(HWND dialog, int id, unsigned int code_page,
                 const std::string& ansi) {
  SetDlgItemTextW(dialog, id, WideOf(code_page, ansi).c_str());
}

void SetItemUtf8(HWND dialog, int id, const std::string& utf8) {
  SetDlgItemTextW(dialog, id, Utf8ToWide(utf8).c_str());
}

std::string ItemUtf8(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  const int length = GetWindowTextLengthW(control);
  if (length <= 0) return std::string();
  std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(control, wide.data(), length + 1);
  if (got <= 0) return std::string();
  // An unpaired surrogate becomes U+FFFD, which no code page of a run
  // holds: a password with one is refused, never migrated as '?'.
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), got, nullptr,
                                        0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), got, utf8.data(), bytes, nullptr,
                      nullptr);
  return utf8;
}

}  // namespace vm
