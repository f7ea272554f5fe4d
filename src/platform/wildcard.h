#ifndef VM_PLATFORM_WILDCARD_H_
#define VM_PLATFORM_WILDCARD_H_

#include <string_view>

namespace vm {

// How a byte string splits into characters, so that '?' takes one whole
// character.
enum class CharEncoding {
  kUtf8,       // names as a POSIX file system stores them
  kDoubleByte  // an ANSI code page such as GBK: a byte 0x81-0xFE leads a pair
};

// Matches `name` against a directory wildcard with the Windows rules: '*'
// matches any run of characters, '?' exactly one, ASCII letters compare
// without case, every other byte exactly. As on Windows, a pattern ending in
// ".*" also matches a name without a dot there, so "*.*" matches every name.
bool WildcardMatch(std::string_view pattern, std::string_view name,
                   CharEncoding encoding);

}  // namespace vm

#endif  // VM_PLATFORM_WILDCARD_H_
