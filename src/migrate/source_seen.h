#ifndef VM_MIGRATE_SOURCE_SEEN_H_
#define VM_MIGRATE_SOURCE_SEEN_H_

#include <string>
#include <vector>

#include "platform/file_identity.h"
#include "platform/file_system.h"

namespace vm {

class Clock;

// What a run saw of a source mailbox folder as it listed it: the folder's
// status, taken just before the listing, with the time it was taken
// first, and that of its folder list (Folders.ini), taken after the
// folder's and before the list is read.
struct SourceSeen {
  bool taken = false;  // false: the folder's status could not be taken
  EntryStatus box;
  bool has_folder_list = false;
  EntryStatus folder_list;
  StampTime at;
};

// Takes the statuses of SourceSeen for the mailbox folder `box`.
SourceSeen SeeSource(FileSystem* fs, const std::string& box,
                     const Clock& clock);
// The same in two steps around a listing of the folder: the folder's
// status before it, the folder list's after it, by the name the listing
// `entries` spells it with (none when it holds none; null: the listing
// failed, and the name is looked for as spelled, then in any case). A
// folder list that is not there is then not looked for by every
// spelling, which reads the whole folder once more.
SourceSeen SeeSourceFolder(FileSystem* fs, const std::string& box,
                           const Clock& clock);
void SeeFolderList(FileSystem* fs, const std::string& box,
                   const std::vector<DirEntry>* entries, SourceSeen* seen);

}  // namespace vm

#endif  // VM_MIGRATE_SOURCE_SEEN_H_
