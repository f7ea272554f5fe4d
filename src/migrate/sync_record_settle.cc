// What a run leaves in the sync record at its end: the statuses of the
// target folders it finished with, taken once they can be trusted, and
// checked again against the record file's own time.

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "migrate/doubtful_folders.h"
#include "migrate/sync_entry_packing.h"
#include "migrate/sync_record.h"
#include "platform/clock.h"

namespace vm {

namespace {

// Whether each status of the target mailbox `e` that Settle would record
// (its own, and those of the folders not taken yet) is Settled at `at`;
// otherwise `*unsettled` is one that is not.
bool TargetSettled(const SyncEntry& e, const std::optional<EntryStatus>& box,
                   const std::vector<std::optional<EntryStatus>>& now,
                   StampTime at, EntryStatus* unsettled) {
  if (box.has_value() && !Settled(*box, at)) {
    *unsettled = *box;
    return false;
  }
  for (size_t i = 0; i < e.targets.size(); ++i) {
    if (!e.targets[i].taken && now[i].has_value() && !Settled(*now[i], at)) {
      *unsettled = *now[i];
      return false;
    }
  }
  return true;
}

// Sleeps until a folder like `unsettled`, changed before `begin`, is
// Settled by `clock`, or `patience_micros` of real time have passed; not at
// all when that is too short.
void WaitToSettle(const Clock& clock, StampTime begin,
                  const EntryStatus& unsettled, int64_t patience_micros) {
  using std::chrono::steady_clock;
  const steady_clock::time_point give_up =
      steady_clock::now() + std::chrono::microseconds(patience_micros);
  EntryStatus changed = unsettled;
  changed.modified = changed.changed = begin;
  if (unsettled.modified.nanoseconds == 0 &&
      unsettled.changed.nanoseconds == 0) {
    changed.modified.nanoseconds = changed.changed.nanoseconds = 0;
  }
  const StampTime now = clock.NowStamp();
  const int64_t last =
      now.seconds * 1'000'000'000 + now.nanoseconds + patience_micros * 1000;
  if (!Settled(changed, {last / 1'000'000'000,
                         static_cast<uint32_t>(last % 1'000'000'000)})) {
    return;
  }
  while (!Settled(changed, clock.NowStamp()) && steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

void SyncRecord::Settle(FileSystem* fs, const std::string& mail_dir,
                        const Clock& clock, int64_t patience_micros,
                        const SizeTeller& tell) {
  const StampTime begin = clock.NowStamp();
  bool waited = patience_micros <= 0;
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (!it->second.unsettled) {
      ++it;
      continue;
    }
    SyncEntry e = UnpackEntry(it->second.packed);
    const std::string box = mail_dir + "\\" + e.box;
    // One look at the mailbox folder for all its folders, as the next sync
    // takes them (Unchanged): names as this program spelled them.
    std::vector<std::string> names;
    for (const SyncFolder& folder : e.targets) names.push_back(folder.name);
    StampTime at;
    std::optional<EntryStatus> box_status;
    std::vector<std::optional<EntryStatus>> now;
    auto take = [&] {
      at = clock.NowStamp();
      EntryStatus status;
      box_status.reset();
      if (fs->StatusOf(box, &status) && status.is_directory) {
        box_status = status;
      }
      fs->StatusesIn(box, names, &now);
    };
    take();
    // A run with time to spare waits, once, for what it changed last to
    // settle: the next sync then trusts those folders without listing them.
    if (EntryStatus unsettled;
        !waited && !TargetSettled(e, box_status, now, at, &unsettled)) {
      WaitToSettle(clock, begin, unsettled, patience_micros);
      waited = true;
      take();
    }
    // The mailbox folder's own status only where settled: a mark made in
    // the same tick would leave its times as they were.
    e.has_box_status = box_status.has_value() && Settled(*box_status, at);
    if (box_status.has_value()) e.box_status = *box_status;
    bool trusted = !e.targets.empty();
    for (size_t i = 0; i < e.targets.size(); ++i) {
      SyncFolder& folder = e.targets[i];
      if (!trusted || folder.taken) continue;
      const std::string path = box + "\\" + folder.name;
      folder.taken = now[i].has_value() && now[i]->is_directory;
      if (folder.taken) folder.status = *now[i];
      if (folder.taken && !Settled(folder.status, at)) {
        // Listed after its status: a change after that moves it on.
        std::vector<DirEntry> listing;
        folder.taken = tell ? fs->ListNames(path + "\\*", &listing) &&
                                  TellSizes(fs, path, tell, &listing)
                            : fs->List(path + "\\*", &listing);
        folder.doubt = ListingDigest(listing);
        folder.listed = listing.size();
      }
      trusted = folder.taken;
    }
    if (trusted) {
      it->second = {PackEntry(e), false, true};
      ++it;
    } else {
      it = entries_.erase(it);
    }
  }
}

bool SyncRecord::DropUnsettledAt(StampTime at) {
  bool changed = false;
  if (users_fresh_ && users_.has_value() && !Settled(*users_, at)) {
    users_.reset();
    users_fresh_ = false;
    changed = true;
  }
  for (auto it = entries_.begin(); it != entries_.end();) {
    // An entry read from the file was settled by that file's own time.
    if (!it->second.fresh) {
      ++it;
      continue;
    }
    SyncEntry e = UnpackEntry(it->second.packed);
    bool kept = !e.has_folder_list || Settled(e.folder_list, at);
    for (const SyncFolder& folder : e.targets) {
      kept = kept && (!folder.doubt.empty() || Settled(folder.status, at));
    }
    if (kept && e.has_box_status && !Settled(e.box_status, at)) {
      // The mailbox is then judged by its folders, as without it.
      e.has_box_status = false;
      it->second.packed = PackEntry(e);
      changed = true;
    }
    if (kept && !e.source_doubtful && !Settled(e.source, at)) {
      kept = !e.source_listing.empty();
      e.source_doubtful = true;
      it->second.packed = PackEntry(e);
      changed = true;
    }
    if (kept) {
      ++it;
    } else {
      it = entries_.erase(it);
      changed = true;
    }
  }
  return changed;
}

}  // namespace vm
