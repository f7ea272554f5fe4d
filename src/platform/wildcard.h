#ifndef VM_PLATFORM_WILDCARD_H_
#define VM_PLATFORM_WILDCARD_H_

#include <string_view>

#include "util/name_ops.h"

namespace vm {

// Matches `name` against a directory wildcard with the Windows rules: '*'
// matches any run of characters, '?' exactly one, ASCII letters compare
// without case, every other byte exactly. As on Windows, a pattern ending in
// ".*" also matches a name without a dot there, so "*.*" matches every name.
// Here both are ANSI byte strings whose characters `names` (the run's code
// page) splits: '?' takes one whole character.
bool WildcardMatch(std::string_view pattern, std::string_view name,
                   const NameOps& names);

// The same for names in UTF-8, as a POSIX directory or the UTF-8 form of a
// Windows name holds them.
bool WildcardMatchUtf8(std::string_view pattern, std::string_view name);

}  // namespace vm

#endif  // VM_PLATFORM_WILDCARD_H_
