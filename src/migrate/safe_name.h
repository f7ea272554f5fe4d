#ifndef VM_MIGRATE_SAFE_NAME_H_
#define VM_MIGRATE_SAFE_NAME_H_

#include <string>

#include "util/name_ops.h"

namespace vm {

// True when `name` can be used as one directory name under a directory we
// own without leaving it or meaning something else on any platform: not
// empty, not "." or "..", no path separator, drive colon, character Windows
// forbids (< > " | ? * and control bytes), no trailing dot or blank (Windows
// drops them, so two names could meet), and not a device name such as CON,
// NUL, COM1 or LPT1, with or without an extension.
//
// The name is read in the run's code page: a lead byte and the byte after
// it form one character, so a trail byte 0x5C is not taken for a backslash.
bool IsSafeDirectoryName(const std::string& name, const NameOps& names);

}  // namespace vm

#endif  // VM_MIGRATE_SAFE_NAME_H_
