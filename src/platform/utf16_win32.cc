#include "platform/utf16_win32.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace vm {

std::wstring ToWide(UINT code_page, const std::string& text, DWORD flags,
                    bool* ok) {
  *ok = true;
  if (text.empty()) return std::wstring();
  int length = MultiByteToWideChar(code_page, flags, text.data(),
                                   static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) {
    *ok = false;
    return std::wstring();
  }
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(code_page, flags, text.data(),
                      static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string FromWide(UINT code_page, const std::wstring& wide) {
  if (wide.empty()) return std::string();
  int length = WideCharToMultiByte(code_page, 0, wide.data(),
                                   static_cast<int>(wide.size()), nullptr, 0,
                                   nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()),
                      text.data(), length, nullptr, nullptr);
  return text;
}

// Paths are byte strings in the run's code page, which need not be the
// system's: every name goes to the wide-character calls through an explicit
// conversion, never through the system's ANSI code page.

// The path in UTF-16. False when its bytes are not valid in the code page
// (or hold a NUL): such a path fails, it never names some other file.
bool ToWide(UINT code_page, const std::string& path, std::wstring* wide) {
  wide->clear();
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  int size = static_cast<int>(path.size());
  int length = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, path.data(),
                                   size, nullptr, 0);
  if (length <= 0) return false;
  wide->assign(static_cast<size_t>(length), L'\0');
  return MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, path.data(), size,
                             wide->data(), length) == length;
}

// A name from the disk in the code page. False when the code page cannot
// hold it exactly (no best-fit look-alikes): *text then has '?', which no
// Windows name contains, for each character it lacks.
bool FromWide(UINT code_page, std::wstring wide, std::string* text) {
  text->clear();
  bool exact = true;
  // An unpaired surrogate, which NTFS allows, has no form in any code page.
  for (size_t i = 0; i < wide.size(); ++i) {
    if (IS_HIGH_SURROGATE(wide[i]) && i + 1 < wide.size() &&
        IS_LOW_SURROGATE(wide[i + 1])) {
      ++i;
    } else if (IS_HIGH_SURROGATE(wide[i]) || IS_LOW_SURROGATE(wide[i])) {
      wide[i] = L'?';
      exact = false;
    }
  }
  if (wide.empty()) return exact;
  const bool utf8 = code_page == CP_UTF8;
  BOOL used_default = FALSE;
  int size = static_cast<int>(wide.size());
  DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* fallback = utf8 ? nullptr : "?";
  BOOL* used = utf8 ? nullptr : &used_default;
  int length = WideCharToMultiByte(code_page, flags, wide.data(), size, nullptr,
                                   0, fallback, used);
  if (length <= 0) return false;
  text->assign(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(code_page, flags, wide.data(), size, text->data(), length,
                      fallback, used);
  std::wstring back;
  return exact && !used_default && ToWide(code_page, *text, &back) &&
         back == wide;
}

std::string ToUtf8(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  int size = static_cast<int>(wide.size());
  int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0,
                                   nullptr, nullptr);
  std::string utf8(static_cast<size_t>(std::max(length, 0)), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length,
                      nullptr, nullptr);
  return utf8;
}

std::wstring Utf8ToWide(const std::string& utf8) {
  bool ok = false;
  return ToWide(CP_UTF8, utf8, 0, &ok);
}

}  // namespace vm
