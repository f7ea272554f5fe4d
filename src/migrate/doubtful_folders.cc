#include "migrate/doubtful_folders.h"

#include <algorithm>

#include "migrate/sync_record.h"
#include "platform/clock.h"
#include "util/md5.h"

namespace vm {

namespace {

// The precision a file system keeps its times in is not asked: times
// without nanoseconds may come from one keeping two-second steps, the
// others from one whose clock ticks in milliseconds; the margin is wide,
// since a folder it leaves untrusted only costs a listing.
constexpr int64_t kCoarseWindowNanos = 2'000'000'000;
constexpr int64_t kFineWindowNanos = 1'000'000'000;

int64_t Nanos(StampTime t) {
  return t.seconds * 1'000'000'000 + static_cast<int64_t>(t.nanoseconds);
}

// Whether the folder `dir` holds what a listing of `listed` entries with
// ListingDigest `digest` held.
bool ListingIs(FileSystem* fs, const std::string& dir, uint64_t listed,
               const std::string& digest) {
  std::vector<DirEntry> entries;
  return fs->List(dir + "\\*", &entries) && entries.size() == listed &&
         ListingDigest(entries) == digest;
}

// The entry Unchanged confirms, made from `e` the first time it is asked.
SyncEntry* Confirming(const SyncEntry& e, std::unique_ptr<SyncEntry>* made) {
  if (*made == nullptr) *made = std::make_unique<SyncEntry>(e);
  return made->get();
}

}  // namespace

bool Settled(const EntryStatus& status, StampTime at) {
  const bool coarse =
      status.modified.nanoseconds == 0 && status.changed.nanoseconds == 0;
  const int64_t window = coarse ? kCoarseWindowNanos : kFineWindowNanos;
  const int64_t latest =
      std::max(Nanos(status.modified), Nanos(status.changed));
  return latest < Nanos(at) - window;
}

std::string ListingDigest(const std::vector<DirEntry>& entries) {
  std::vector<std::string> lines;
  lines.reserve(entries.size());
  for (const DirEntry& entry : entries) {
    const char kind = entry.is_directory ? 'd' : entry.is_special ? 's' : 'f';
    // The name's length first: a name may hold any byte, a line end too.
    lines.push_back(std::to_string(entry.name.size()) + ':' + entry.name + ' ' +
                    std::to_string(entry.size) + ' ' + kind + '\n');
  }
  std::sort(lines.begin(), lines.end());
  Md5 digest;
  for (const std::string& line : lines) digest.Update(line);
  return digest.Hex();
}

bool StatusIs(FileSystem* fs, const std::string& path,
              const EntryStatus& recorded) {
  EntryStatus now;
  return fs->StatusOf(path, &now) && now == recorded;
}

bool TargetsAsRecorded(FileSystem* fs, const SyncEntry& e,
                       const std::string& target_box,
                       const std::vector<std::optional<EntryStatus>>& now,
                       StampTime at, std::unique_ptr<SyncEntry>* confirmed) {
  for (size_t i = 0; i < e.targets.size(); ++i) {
    const SyncFolder& folder = e.targets[i];
    if (!now[i].has_value()) return false;
    if (folder.doubt.empty()) {
      if (!(*now[i] == folder.status)) return false;
      continue;
    }
    if (!now[i]->is_directory || !ListingIs(fs, target_box + "\\" + folder.name,
                                            folder.listed, folder.doubt)) {
      return false;
    }
    if (Settled(*now[i], at)) {
      SyncFolder& trusted = Confirming(e, confirmed)->targets[i];
      trusted.status = *now[i];
      trusted.doubt.clear();
      trusted.listed = 0;
    }
  }
  return true;
}

bool SourceAsRecorded(FileSystem* fs, const SyncEntry& e,
                      const std::string& source_box, const Clock& clock,
                      std::unique_ptr<SyncEntry>* confirmed) {
  if (!e.source_doubtful) return StatusIs(fs, source_box, e.source);
  // The time, then the status, then the listing: a change after the
  // status moves it on; one before the listing shows in it.
  const StampTime at = clock.NowStamp();
  EntryStatus status;
  if (!fs->StatusOf(source_box, &status) || !status.is_directory ||
      !ListingIs(fs, source_box, e.entries, e.source_listing)) {
    return false;
  }
  if (Settled(status, at)) {
    SyncEntry* trusted = Confirming(e, confirmed);
    trusted->source = status;
    trusted->source_doubtful = false;
  }
  return true;
}

}  // namespace vm
