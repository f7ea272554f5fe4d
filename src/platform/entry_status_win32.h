#ifndef VM_PLATFORM_ENTRY_STATUS_WIN32_H_
#define VM_PLATFORM_ENTRY_STATUS_WIN32_H_

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/file_identity.h"

namespace vm {

// A file time (100-nanosecond ticks since 1601) as a StampTime.
StampTime TimeOfTicks(LONGLONG ticks);

// The statuses of the entries `names` of the folder `dir` (full wide
// paths and names) by one listing of the folder through one handle:
// (*statuses)[i] is set for an entry spelled exactly as asked that is no
// reparse point, with what StatusOf of the disk takes for it (the file
// number and times the listing carries). None is set when the folder
// cannot be listed or is itself a reparse point.
void ListedStatuses(const std::wstring& dir,
                    const std::vector<std::wstring>& names,
                    std::vector<std::optional<EntryStatus>>* statuses);

}  // namespace vm

#endif  // VM_PLATFORM_ENTRY_STATUS_WIN32_H_
