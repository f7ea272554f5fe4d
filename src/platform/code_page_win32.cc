#include "platform/code_page.h"

#include <windows.h>

#include <cctype>
#include <cstdlib>

#include "platform/code_page_win32.h"
#include "platform/utf16_win32.h"
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

class WindowsCodePage : public CodePage {
 public:
  explicit WindowsCodePage(UINT code_page) : code_page_(code_page) {}

  // Invalid input is never fatal: without MB_ERR_INVALID_CHARS the calls
  // substitute U+FFFD or the code page's default character.
  std::string ToAnsi(const std::string& utf8) const override {
    bool ok = false;
    return FromWide(code_page_, ToWide(CP_UTF8, utf8, 0, &ok));
  }

  std::string ToUtf8(const std::string& ansi) const override {
    bool ok = false;
    return FromWide(CP_UTF8, ToWide(code_page_, ansi, 0, &ok));
  }

  bool IsValidAnsi(const std::string& ansi) const override {
    bool ok = false;
    ToWide(code_page_, ansi, MB_ERR_INVALID_CHARS, &ok);
    return ok;
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
