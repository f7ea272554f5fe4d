#ifndef VM_PLATFORM_DISK_SPACE_H_
#define VM_PLATFORM_DISK_SPACE_H_

#include <cstdint>
#include <string>

namespace vm {

class CodePage;

// The bytes a non-privileged writer may still use on the volume holding
// `dir` (an ANSI path with backslashes, as the core forms them). A `dir`
// that does not exist yet is measured at its nearest existing ancestor.
// False when no ancestor can be queried.
bool FreeDiskSpace(const CodePage& code_page, const std::string& dir,
                   uint64_t* bytes);

}  // namespace vm

#endif  // VM_PLATFORM_DISK_SPACE_H_
