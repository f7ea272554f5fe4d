#include "migrate/listing_sizes.h"

#include <optional>

namespace vm {

bool TellSizes(FileSystem* fs, const std::string& dir, const SizeTeller& tell,
               std::vector<DirEntry>* files) {
  std::vector<std::string> names;
  std::vector<size_t> untold;
  for (size_t i = 0; i < files->size(); ++i) {
    DirEntry& file = (*files)[i];
    if (file.sized) continue;
    if (tell && tell(file.path, file.file, &file.size)) {
      file.sized = true;
      continue;
    }
    names.push_back(file.name);
    untold.push_back(i);
  }
  if (names.empty()) return true;
  std::vector<std::optional<EntryStatus>> statuses;
  fs->StatusesIn(dir, names, &statuses);
  for (size_t k = 0; k < untold.size(); ++k) {
    DirEntry& file = (*files)[untold[k]];
    if (!statuses[k] || statuses[k]->is_directory) {
      // Gone or replaced since the listing, or not to be looked at alone.
      return fs->List(dir + "\\*", files);
    }
    file.size = statuses[k]->size;
    file.sized = true;
  }
  return true;
}

}  // namespace vm
