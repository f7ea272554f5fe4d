#ifndef VM_PLATFORM_CODE_PAGE_H_
#define VM_PLATFORM_CODE_PAGE_H_

#include <array>
#include <memory>
#include <string>

namespace vm {

// Conversion between UTF-8 and the ANSI code page the core's byte strings
// are in. Invalid input sequences are replaced, never cause a failure that
// loses the rest of the text.
class CodePage {
 public:
  virtual ~CodePage() = default;
  virtual std::string ToAnsi(const std::string& utf8) const = 0;
  virtual std::string ToUtf8(const std::string& ansi) const = 0;
  // True when every byte sequence of `ansi` is valid in this code page.
  virtual bool IsValidAnsi(const std::string& ansi) const = 0;
  // For each byte, whether it starts a two-byte character whose second
  // byte may be an ASCII byte (GBK, Big5, Shift JIS); none for UTF-8 and
  // single-byte code pages.
  virtual std::array<bool, 256> LeadBytes() const = 0;
};

// The code page of that name ("GBK", "CP936", "UTF-8", ...). On Windows an
// empty name means the system's ANSI code page. Null when unknown.
std::unique_ptr<CodePage> OpenCodePage(const std::string& name);

}  // namespace vm

#endif  // VM_PLATFORM_CODE_PAGE_H_
