#ifndef VM_MIGRATE_DOUBTFUL_FOLDERS_H_
#define VM_MIGRATE_DOUBTFUL_FOLDERS_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace vm {

class Clock;
struct SyncEntry;

// A folder whose status was taken within the file system clock's precision
// of its last change is doubtful: a second change in the same tick would
// leave the same times. The record keeps a digest of its listing instead,
// and the next sync lists that folder alone and compares.

// Whether a status taken at `at` may be trusted to show a later change:
// not when its folder was changed within the file system clock's precision
// of that moment (or after it), where a second change in the same tick
// would leave the same times.
bool Settled(const EntryStatus& status, StampTime at);

// The digest of what a listing holds (its entries' names, sizes and kinds,
// in any order), for a folder whose status cannot be trusted yet (see
// Settled): the next sync lists that folder alone and compares.
std::string ListingDigest(const std::vector<DirEntry>& entries);

// Whether the status of `path` is `recorded`.
bool StatusIs(FileSystem* fs, const std::string& path,
              const EntryStatus& recorded);

// The target folders of `e` as the statuses `now` (taken at `at`, one for
// each of e.targets, under `target_box`) and, for a doubtful one, its
// listing show them: true when each is as recorded. A doubtful folder found
// so, and settled now, is trusted in `*confirmed` (made from `e` when it is
// the first).
bool TargetsAsRecorded(FileSystem* fs, const SyncEntry& e,
                       const std::string& target_box,
                       const std::vector<std::optional<EntryStatus>>& now,
                       StampTime at, std::unique_ptr<SyncEntry>* confirmed);

// The source folder of `e`: its status as recorded or, when doubtful, its
// listing; a doubtful one found so, and settled now, is trusted in
// `*confirmed` as for TargetsAsRecorded.
bool SourceAsRecorded(FileSystem* fs, const SyncEntry& e,
                      const std::string& source_box, const Clock& clock,
                      std::unique_ptr<SyncEntry>* confirmed);

}  // namespace vm

#endif  // VM_MIGRATE_DOUBTFUL_FOLDERS_H_
