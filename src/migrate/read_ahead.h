#ifndef VM_MIGRATE_READ_AHEAD_H_
#define VM_MIGRATE_READ_AHEAD_H_

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "migrate/source_mailbox.h"
#include "util/thread_annotations.h"

namespace vm {

class Clock;
class FileSystem;

// Reads the source mailboxes a run is about to migrate, a few accounts ahead
// of it, on threads of their own: each mailbox is listed and its index files
// read, so that the run's thread, which lists folders and reads indexes one
// account after the other, finds them in memory instead of waiting for the
// disk every time. Only reads; nothing it does changes what the run does.
class ReadAhead {
 public:
  struct Options {
    // No box is read more than `window` places past the last one reached,
    // by `threads` threads.
    size_t window = 1;
    int threads = 1;
    // The message files are asked to be read in the background too, for
    // copies that read them.
    bool messages = false;
    // Given, each listing first takes what the mailbox shows of itself
    // (MailboxListing::seen).
    const Clock* clock = nullptr;
    // By place, for each box the target has a mailbox of: that mailbox.
    // Its message files are never read ahead: the run copies few of them,
    // if any.
    std::map<size_t, std::string> targets;
    // The folders of each such target mailbox are listed too, for a mirror
    // pass that lists every one of them, and handed over with the box's
    // listing (MailboxListing::target) when it is kept.
    bool list_targets = false;
  };
  // `names` are the source mailbox folders' names in `dir`, in the order
  // the run visits them: a run of many accounts keeps its mailboxes' paths
  // once, as the names, most of them too short to take memory of their
  // own.
  ReadAhead(FileSystem* fs, std::string dir, std::vector<std::string> names,
            Options options);
  // Stops the threads; what they are reading is finished first.
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The run has come to `box`; what was kept for the boxes before it goes.
  void Reached(const std::string& box);

  // Hands over the listing of `box` made ahead, once, when there is one
  // (waiting for one being made): the run then need not list the mailbox
  // again. A listing of more than
  // kMaxKeptEntries entries is not kept.
  bool Take(const std::string& box, MailboxListing* listing);
  static constexpr size_t kMaxKeptEntries = 4096;

 private:
  static constexpr size_t kNoPlace = static_cast<size_t>(-1);

  // The place of the mailbox folder `box` (a path), or kNoPlace.
  size_t PlaceOf(const std::string& box) const;
  void Read(size_t first, size_t step);
  // Wakes the reading threads whose next box the window now holds.
  void WakeReadersLocked() REQUIRES(mutex_);
  void ReadBox(size_t place);
  std::shared_ptr<const TargetListing> ListTarget(const std::string& box);

  FileSystem* fs_;
  const std::string dir_;
  const std::vector<std::string> names_;
  const Options options_;
  // The places of names_ in the order of their names (the first of equal
  // names first), searched by halves: an index of every mailbox of a run
  // of many accounts, at four bytes a mailbox.
  std::vector<uint32_t> by_name_;
  Mutex mutex_;
  // The run waits on `read_` for a box being read; each reading thread on
  // its own `room_`, for the run to come near enough to the box it reads
  // next (`awaited_`, kNoPlace while it reads): a run that moves on wakes
  // only the thread whose box came into the window, not every one.
  std::condition_variable read_;
  std::unique_ptr<std::condition_variable[]> room_;
  std::vector<size_t> awaited_ GUARDED_BY(mutex_);
  size_t reached_ GUARDED_BY(mutex_) = 0;
  std::map<size_t, MailboxListing> kept_ GUARDED_BY(mutex_);  // by place
  std::set<size_t> reading_ GUARDED_BY(mutex_);               // places
  bool stopping_ GUARDED_BY(mutex_) = false;
  std::vector<std::thread> threads_;
};

}  // namespace vm

#endif  // VM_MIGRATE_READ_AHEAD_H_
