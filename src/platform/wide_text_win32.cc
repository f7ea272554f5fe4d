#include "platform/wide_text_win32.h"

#include <windows.h>

#include <vector>

namespace vm {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveLetter(wchar_t c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// The path the system makes of `path` ("." and ".." resolved, "/" taken
// for "\"); empty when it cannot.
std::wstring FullPath(const std::wstring& path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()),
                         buffer.data(), nullptr);
    if (length == 0) return std::wstring();
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(length + 1);
  }
}

}  // namespace

bool ToWide(unsigned int code_page, std::string_view text, std::wstring* wide,
            bool strict) {
  wide->clear();
  if (text.empty()) return true;
  const DWORD flags = strict ? MB_ERR_INVALID_CHARS : 0;
  const int size = static_cast<int>(text.size());
  const int length =
      MultiByteToWideChar(code_page, flags, text.data(), size, nullptr, 0);
  if (length <= 0) return false;
  wide->assign(static_cast<size_t>(length), L'\0');
  if (MultiByteToWideChar(code_page, flags, text.data(), size, wide->data(),
                          length) != length) {
    wide->clear();
    return false;
  }
  return true;
}

bool FromWide(unsigned int code_page, std::wstring_view view,
              std::string* text) {
  text->clear();
  std::wstring wide(view);
  bool exact = true;
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
  const int size = static_cast<int>(wide.size());
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* fallback = utf8 ? nullptr : "?";
  BOOL* used = utf8 ? nullptr : &used_default;
  const int length = WideCharToMultiByte(code_page, flags, wide.data(), size,
                                         nullptr, 0, fallback, used);
  if (length <= 0) return false;
  text->assign(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(code_page, flags, wide.data(), size, text->data(), length,
                      fallback, used);
  std::wstring back;
  return exact && !used_default && ToWide(code_page, *text, &back) &&
         back == wide;
}

std::string WideToUtf8(std::wstring_view wide) {
  std::string utf8;
  FromWide(CP_UTF8, wide, &utf8);
  return utf8;
}

std::wstring Utf8ToWide(std::string_view utf8) {
  std::wstring wide;
  ToWide(CP_UTF8, utf8, &wide, false);
  return wide;
}

std::wstring LongPathForm(const std::wstring& path) {
  const bool prefixed =
      path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
      (path[2] == L'?' || path[2] == L'.') && IsSeparator(path[3]);
  const bool drive = path.size() >= 3 && IsDriveLetter(path[0]) &&
                     path[1] == L':' && IsSeparator(path[2]);
  const bool unc = !prefixed && path.size() >= 3 && IsSeparator(path[0]) &&
                   IsSeparator(path[1]);
  if (!drive && !unc) return path;
  const std::wstring full = FullPath(path);
  if (full.size() < 3) return path;
  if (IsSeparator(full[0]) && IsSeparator(full[1])) {
    // A device the name stands for (C:\x\CON is \\.\CON) keeps its form.
    if (full[2] == L'.' || full[2] == L'?') return full;
    return L"\\\\?\\UNC\\" + full.substr(2);
  }
  return L"\\\\?\\" + full;
}

bool ToWidePath(unsigned int code_page, const std::string& path,
                std::wstring* wide) {
  wide->clear();
  if (path.empty() || path.find('\0') != std::string::npos ||
      !ToWide(code_page, path, wide)) {
    return false;
  }
  *wide = LongPathForm(*wide);
  return true;
}

}  // namespace vm
