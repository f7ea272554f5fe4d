#ifndef VM_CONFIG_FIELD_TEXT_H_
#define VM_CONFIG_FIELD_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "util/ascii.h"  // EqualsIgnoringAsciiCase: how field names compare

namespace vm {

// Reads a decimal integer as the C library does: leading white space, an
// optional sign, then digits up to the first other byte; 0 without digits.
// Values beyond the type's range saturate.
int64_t ParseDecimal64(std::string_view text);
int32_t ParseDecimal32(std::string_view text);

// The text up to its first NUL byte: what a fixed-size text field holds.
std::string_view UpToNul(std::string_view text);

}  // namespace vm

#endif  // VM_CONFIG_FIELD_TEXT_H_
