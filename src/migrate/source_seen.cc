#include "migrate/source_seen.h"

#include <string_view>

#include "migrate/source_mailbox.h"
#include "platform/clock.h"
#include "util/ascii.h"

namespace vm {

SourceSeen SeeSource(FileSystem* fs, const std::string& box,
                     const Clock& clock) {
  SourceSeen seen = SeeSourceFolder(fs, box, clock);
  SeeFolderList(fs, box, nullptr, &seen);
  return seen;
}

SourceSeen SeeSourceFolder(FileSystem* fs, const std::string& box,
                           const Clock& clock) {
  SourceSeen seen;
  // The time first: a change after it can only make the folder newer.
  seen.at = clock.NowStamp();
  seen.taken = fs->StatusOf(box, &seen.box) && seen.box.is_directory;
  return seen;
}

void SeeFolderList(FileSystem* fs, const std::string& box,
                   const std::vector<DirEntry>* entries, SourceSeen* seen) {
  seen->has_folder_list = false;
  if (!seen->taken) return;
  if (entries == nullptr) {
    seen->has_folder_list =
        fs->StatusOf(FolderListPath(box), &seen->folder_list);
    return;
  }
  const std::string list = FolderListPath(box);
  const std::string_view name = std::string_view(list).substr(box.size() + 1);
  for (const DirEntry& entry : *entries) {
    // The name is ASCII: a byte of a double-byte character never matches.
    if (!entry.is_directory && EqualsIgnoringAsciiCase(entry.name, name)) {
      seen->has_folder_list = fs->StatusOf(entry.path, &seen->folder_list);
      return;
    }
  }
}

}  // namespace vm
