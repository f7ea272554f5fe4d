#include "platform/code_page.h"

#include <windows.h>

#include <cctype>
#include <cstdlib>

#include "platform/code_page_win32.h"
#include "platform/wide_text_win32.h"
#include "util/ascii.h"

namespace vm {
namespace {

// Maps the names the front ends accept to Windows code page numbers; 0 when
// the name is not known.
UINT CodePageNumber(const std::string& name) {
  const std::string lower = AsciiLowered(name);
  if (lower.empty()) return GetACP();
  if (lower == "gbk" || lower == "gb2312" || lower == "cp936") return 936;
  if (lower == "utf-8" || lower == "utf8") return CP_UTF8;
  if (lower == "big5" || lower == "cp950") return 950;
  if (lower == "shift_jis" || lower == "cp932") return 932;
  if (lower == "latin1" || lower == "iso-8859-1" || lower == "cp1252")
    return 1252;
  std::string digits = lower.rfind("cp", 0) == 0 ? lower.substr(2) : lower;
  if (digits.empty() || digits.size() > 5) return 0;
  for (char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
  }
  return static_cast<UINT>(std::atoi(digits.c_str()));
}

// `text` in UTF-16, any invalid byte as U+FFFD.
std::wstring Lenient(UINT code_page, const std::string& text) {
  std::wstring wide;
  ToWide(code_page, text, &wide, false);
  return wide;
}

// `wide` in the code page, '?' for what it cannot hold.
std::string Narrow(UINT code_page, const std::wstring& wide) {
  std::string text;
  FromWide(code_page, wide, &text);
  return text;
}

class WindowsCodePage : public CodePage {
 public:
  explicit WindowsCodePage(UINT code_page) : code_page_(code_page) {}

  // Invalid input is never fatal: U+FFFD or '?' stands for what does not
  // convert.
  std::string ToAnsi(const std::string& utf8) const override {
    return Narrow(code_page_, Lenient(CP_UTF8, utf8));
  }

  std::string ToUtf8(const std::string& ansi) const override {
    return Narrow(CP_UTF8, Lenient(code_page_, ansi));
  }

  bool IsValidAnsi(const std::string& ansi) const override {
    std::wstring wide;
    return ToWide(code_page_, ansi, &wide);
  }

  std::array<bool, 256> LeadBytes() const override {
    std::array<bool, 256> lead{};
    for (int c = 0x80; c < 0x100; ++c) {
      lead[c] = IsDBCSLeadByteEx(code_page_, static_cast<BYTE>(c)) != 0;
    }
    return lead;
  }

 private:
  UINT code_page_;
};

}  // namespace

unsigned int CodePageId(const std::string& name) {
  UINT number = CodePageNumber(name);
  return number != 0 && IsValidCodePage(number) ? number : 0;
}

std::unique_ptr<CodePage> OpenCodePage(const std::string& name) {
  UINT number = CodePageId(name);
  if (number == 0) return nullptr;
  return std::make_unique<WindowsCodePage>(number);
}

}  // namespace vm
