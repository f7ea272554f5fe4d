#ifndef VM_MIGRATE_TARGET_LISTING_H_
#define VM_MIGRATE_TARGET_LISTING_H_

#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace vm {

// A target mailbox as a read-ahead listed it, a little before the run came
// to it: its entries, and the entries of each of its folders. A mirror
// takes it instead of listing the mailbox again. It is not more than a
// listing: what is in it may have gone since, and what came since is not
// in it, which a mirror allows for (it moves a file only once its proof
// holds, and counts none that is gone).
struct TargetListing {
  std::string box;  // the mailbox folder listed
  bool listed = false;
  std::vector<DirEntry> entries;
  // By place in `entries`: that folder's entries, when it was listed whole,
  // by FileSystem::ListNames (a file's size may be untold).
  std::vector<std::optional<std::vector<DirEntry>>> folders;
  size_t count = 0;  // entries in all
};

}  // namespace vm

#endif  // VM_MIGRATE_TARGET_LISTING_H_
