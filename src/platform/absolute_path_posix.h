#ifndef VM_PLATFORM_ABSOLUTE_PATH_POSIX_H_
#define VM_PLATFORM_ABSOLUTE_PATH_POSIX_H_

#include <functional>
#include <string>

#include "util/name_ops.h"

namespace vm {

// `path` (ANSI; "/" and "\" both separate, a "\" that is the second byte of
// a double-byte character does not) made absolute against `working_folder`
// (ANSI, absolute, as getcwd gives it) when it is relative, and written
// "/" followed by its parts joined with "\": no empty or "." part is kept,
// and a ".." takes the part before it away where the kernel would, which is
// when that part is a folder and not a link (`is_plain_folder`, asked with
// the path up to that part); a ".." after a link, or after something that
// is not there, stays, so the path leads where it led. "/.." is "/".
std::string AbsolutePosixPath(
    const std::string& path, const std::string& working_folder,
    const NameOps& names,
    const std::function<bool(const std::string&)>& is_plain_folder);

}  // namespace vm

#endif  // VM_PLATFORM_ABSOLUTE_PATH_POSIX_H_
