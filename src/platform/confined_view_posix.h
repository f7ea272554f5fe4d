#ifndef VM_PLATFORM_CONFINED_VIEW_POSIX_H_
#define VM_PLATFORM_CONFINED_VIEW_POSIX_H_

#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace vm {

class CodePage;
class CopyWriter;
class FoldedNameCache;
class NameOps;
class PathResolver;

// What a confined view shares with the disk file system it confines; none
// is owned, all outlive the view.
struct DiskParts {
  FileSystem* disk;  // takes every path outside the roots
  const CodePage* code_page;
  const NameOps* name_ops;
  FoldedNameCache* folded_names;
  const PathResolver* paths;
  const CopyWriter* copier;
};

// FileSystem::Confined of the POSIX disk file system (see there): null,
// with the reason, when a root cannot be opened (a link, not a folder, ...).
std::unique_ptr<FileSystem> NewConfinedView(
    const DiskParts& parts, const std::vector<std::string>& roots,
    std::string* error);

}  // namespace vm

#endif  // VM_PLATFORM_CONFINED_VIEW_POSIX_H_
