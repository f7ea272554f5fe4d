#ifndef VM_PLATFORM_CONFINED_VIEW_WIN32_H_
#define VM_PLATFORM_CONFINED_VIEW_WIN32_H_

#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace vm {

// FileSystem::Confined for the Windows disk `disk`, whose paths are in
// `code_page`: see there. `disk` is not owned and must outlive the view.
std::unique_ptr<FileSystem> NewConfinedView(
    FileSystem* disk, unsigned int code_page,
    const std::vector<std::string>& roots, std::string* error);

}  // namespace vm

#endif  // VM_PLATFORM_CONFINED_VIEW_WIN32_H_
