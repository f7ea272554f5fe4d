#ifndef VM_PLATFORM_CODE_PAGE_WIN32_H_
#define VM_PLATFORM_CODE_PAGE_WIN32_H_

#include <string>

namespace vm {

// The Windows code page number of a name OpenCodePage accepts (the system's
// ANSI code page for an empty name); 0 when the name is unknown or the code
// page is not installed. For the Windows implementations that convert with
// the run's code page themselves.
unsigned int CodePageId(const std::string& name);

}  // namespace vm

#endif  // VM_PLATFORM_CODE_PAGE_WIN32_H_
