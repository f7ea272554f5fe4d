#ifndef VM_CONFIG_FIELD_TEXT_H_
#define VM_CONFIG_FIELD_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace vm {

// ASCII letters compared without case, every other byte exact: how element
// names compare. (Names of users and domains compare through NameOps.)
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

// Reads a decimal integer as the C library does: leading white space, an
// optional sign, then digits up to the first other byte; 0 without digits.
// Values beyond the type's range saturate.
int64_t ParseDecimal64(std::string_view text);
int32_t ParseDecimal32(std::string_view text);

// The text up to its first NUL byte: what a fixed-size text field holds.
std::string_view UpToNul(std::string_view text);

}  // namespace vm

#endif  // VM_CONFIG_FIELD_TEXT_H_
