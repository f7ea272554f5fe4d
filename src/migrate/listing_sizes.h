#ifndef VM_MIGRATE_LISTING_SIZES_H_
#define VM_MIGRATE_LISTING_SIZES_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace vm {

// Tells, where it can without a look at the file, the size of the file
// `path` whose file number a listing told as `file`; false when it cannot
// (MirrorProofs::WrittenSize tells the files the tool wrote).
using SizeTeller =
    std::function<bool(const std::string& path, uint64_t file, uint64_t*)>;

// Tells the size of each file of `files`, a listing of the folder `dir` by
// names (FileSystem::ListNames), that the listing left untold: by `tell`,
// else by a look at the file, as a listing with sizes would have. A file
// gone or replaced by a folder before it was looked at has the folder
// listed again, with sizes. False when that listing fails.
bool TellSizes(FileSystem* fs, const std::string& dir, const SizeTeller& tell,
               std::vector<DirEntry>* files);

}  // namespace vm

#endif  // VM_MIGRATE_LISTING_SIZES_H_
