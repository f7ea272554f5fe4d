#ifndef VM_PLATFORM_COPY_BY_PATH_POSIX_H_
#define VM_PLATFORM_COPY_BY_PATH_POSIX_H_

#include <sys/stat.h>

#include <string>

#include "platform/file_system.h"

namespace vm {

class CopyWriter;
class FoldedNameCache;
class PathResolver;

// Copies the open message `in` (status `st`) to the new file `to`, a path
// in the code page, as the disk file system's CopyNew does: into the
// folder itself, never through a link to some other place (the folder is
// opened as spelled; only when that fails is its name looked for without
// case), and never over a file whose name differs only in case.
// `shown_from` and `shown_to` name the files in error texts.
CopyResult CopyToNewPath(const CopyWriter& copier, FoldedNameCache& names,
                         const PathResolver& paths, int in,
                         const struct stat& st, const std::string& to,
                         const std::string& shown_from,
                         const std::string& shown_to, FileStamp* stamp,
                         std::string* error);

}  // namespace vm

#endif  // VM_PLATFORM_COPY_BY_PATH_POSIX_H_
