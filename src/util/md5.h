#ifndef VM_UTIL_MD5_H_
#define VM_UTIL_MD5_H_

#include <string>
#include <string_view>

namespace vm {

// The MD5 digest (RFC 1321) of `bytes` as 32 lowercase hexadecimal digits,
// high nibble first. A password field is "{md5}" + Md5Hex(password).
std::string Md5Hex(std::string_view bytes);

}  // namespace vm

#endif  // VM_UTIL_MD5_H_
