#ifndef VM_PLATFORM_PATH_SEPARATOR_WIN32_H_
#define VM_PLATFORM_PATH_SEPARATOR_WIN32_H_

#include <string>

namespace vm {

// The position of the last separator ('\\' or '/') of a path in the given
// Windows code page, npos when it has none; the second byte of a
// double-byte character is never taken for one.
size_t LastSeparator(unsigned int code_page, const std::string& path);

}  // namespace vm

#endif  // VM_PLATFORM_PATH_SEPARATOR_WIN32_H_
