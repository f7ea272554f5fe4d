#ifndef VM_PLATFORM_DIRECTORY_LISTING_POSIX_H_
#define VM_PLATFORM_DIRECTORY_LISTING_POSIX_H_

#include <dirent.h>

#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/path_resolution_posix.h"
#include "util/name_ops.h"

namespace vm {

// FileSystem::List on POSIX: the entries of one directory matching
// directory + "\" + wildcard, their names converted to the code page (a
// name it cannot hold is a stand-in, flagged), sizes of regular files,
// links and other special files reported as special, never followed.
bool ListDirectory(const CodePage& code_page, const NameOps& names,
                   const PathResolver& paths, const std::string& pattern,
                   std::vector<DirEntry>* entries, bool sizes = true);

// The same for the directory `handle` already opened, whose entries'
// paths are `prefix` + name; `wildcard_ansi` is the pattern's last part.
// Without `sizes`, a regular file the listing tells as one, whose name
// the code page holds, is not looked at: its size is left untold and its
// file number is the listing's (FileSystem::ListNames).
bool ListOpenDirectory(const CodePage& code_page, const NameOps& names,
                       DIR* handle, const std::string& prefix,
                       const std::string& wildcard_ansi,
                       std::vector<DirEntry>* entries, bool sizes = true);

}  // namespace vm

#endif  // VM_PLATFORM_DIRECTORY_LISTING_POSIX_H_
