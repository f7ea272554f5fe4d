#ifndef VM_MIGRATE_PENDING_MARKS_H_
#define VM_MIGRATE_PENDING_MARKS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "util/thread_annotations.h"

namespace vm {

class FileSystem;
class NameOps;

// The pending marks of the target mailboxes, and the flush that lets them
// go. A mark is an empty file kFileName in a target mailbox, made before
// the account is added to the user list and removed once its mail has been
// copied and flushed to disk: an account that is in the user list and
// still has the mark was interrupted and is resumed by the next run. A mark
// made for a sync of an existing account says so.
//
// A mailbox that does not exist is built under a staging name beside it
// (StagingOf) and published by one rename once complete (StagedMailbox):
// its mark is made in the staging folder and goes with it. A staging
// folder found is a mark too: it was left by a run that ended before it
// published the mailbox (with one writing run per store, any is), and the
// next run removes it and builds the mailbox again.
//
// Flushing is batched: complete mailboxes wait until enough of them (or of
// the bytes copied into them) have gathered, then one flush of the volume
// runs on a thread of its own while the run goes on, and their marks go
// after it has succeeded.
class PendingMarks {
 public:
  static constexpr const char* kFileName = "velquor-migrate.pending";

  PendingMarks(FileSystem* fs, std::string target_mail_dir);
  // Waits for the flush that is running.
  ~PendingMarks();
  PendingMarks(const PendingMarks&) = delete;
  PendingMarks& operator=(const PendingMarks&) = delete;

  // Makes the mailbox directory `box` (in the mail store) and its mark;
  // false when either cannot be written. A mailbox that does not exist is
  // staged instead (not for a sync), where the file system can publish it.
  bool Mark(const std::string& box, bool sync);
  // Mark for an account about to be added, whose mailbox `box` the caller
  // has just looked for and found there or not (`exists`). A staging
  // folder made for it is its mark; the mark file that goes into it, to
  // be published with it, is left to whoever builds the mailbox
  // (MarkLeft), before it is published.
  bool MarkNew(const std::string& box, bool exists);
  // Whether the last Mark staged `box` without writing its mark file.
  bool MarkLeft(const std::string& box) const {
    return JustStaged(box) && mark_left_;
  }
  // Whether `box` is the mailbox the last Mark made, whether that Mark
  // made its directory too (it holds nothing but the mark then), and
  // whether it made it under the staging name.
  bool JustMade(const std::string& box) const { return box == last_made_; }
  bool JustCreated(const std::string& box) const {
    return box == last_made_ && last_created_;
  }
  bool JustStaged(const std::string& box) const {
    return box == last_made_ && last_staged_;
  }
  // The staging folder of the mailbox `box`: beside it, named
  // kCopyTempInfix + "stage." + its name (".vmtmp.stage.bob"), which no
  // account's mailbox can be named (the migrator refuses such a name as it
  // refuses a message named like a copy in progress).
  std::string StagingOf(const std::string& box) const;
  // For a mailbox being resumed: removes the staging folder an earlier run
  // left, after marking the mailbox in place when it exists (the server
  // made it since), else stages it anew. False when that failed; the
  // mailbox stays pending.
  bool TakeOverStaging(const std::string& box);
  // Removes a staging folder and all it holds (two levels: the mark and
  // the folders of messages); true when it is gone.
  bool Discard(const std::string& staging);
  // Makes the mail store once per run (a store not made yet). The result
  // is not looked at: making a mailbox decides, and says why it failed.
  void MakeStore();
  // Whether `box` has a mark, or a staging folder; *sync (when non-null)
  // tells whether it was made for a sync.
  bool IsMarked(const std::string& box, bool* sync);
  // IsMarked's look for a staging folder of `box`, for a decision taken
  // about every mailbox of the store in turn: the store's staging folders
  // are listed at the first call, and again after this object has staged a
  // mailbox (one it removed or published since stays in the list: a
  // mailbox taken as marked is only listed). True when they cannot be
  // listed. Safe to call from several threads at once.
  bool StagingLeft(const std::string& box, const NameOps& names)
      EXCLUDES(staging_mutex_);
  // Removes the mark of `box`, and its staging folder when it was never
  // published.
  void Clear(const std::string& box);
  // Removes the copies in progress (see IsCopyTemporaryName) a killed run
  // left in the folders of the marked mailbox `box`. With one writing run
  // per store, any there is such a leftover.
  void RemoveLeftCopies(const std::string& box, const NameOps& names);

  // `box` is complete, its copies holding `bytes`; its mark goes after the
  // next flush. True when enough waits that a flush is due.
  bool AddComplete(const std::string& box, uint64_t bytes);

  // Starts flushing the complete mailboxes, after which their marks are
  // removed; the flush running must have been collected.
  void StartFlush();

  // What a flush did.
  struct Outcome {
    std::vector<std::string> boxes;  // the mailboxes it was for
    bool ok = false;                 // false: the marks stay
    std::string error;
  };
  bool flushing() const { return flushing_ != nullptr; }
  // Waits for the flush that is running and returns its outcome.
  Outcome Collect();

 private:
  // Mark, staging the mailbox when `stage`; a staging folder gets its
  // mark file unless `leave_mark`.
  bool Place(const std::string& box, bool sync, bool stage, bool leave_mark);

  struct Flush {
    Outcome outcome;
    std::thread thread;
  };

  FileSystem* fs_;
  const std::string target_mail_dir_;
  std::unique_ptr<Flush> flushing_;
  // Complete mailboxes waiting for the flush that lets their marks go.
  std::vector<std::string> unflushed_;
  uint64_t unflushed_bytes_ = 0;
  bool store_made_ = false;
  std::string last_made_;
  bool last_created_ = false;
  bool last_staged_ = false;
  bool mark_left_ = false;
  // The staging folders StagingLeft found, folded; valid while listed_.
  // StagingLeft may be called from several threads at once; it lists the
  // store without the lock, under staging_list_mutex_ (taken first).
  Mutex staging_list_mutex_;
  Mutex staging_mutex_;
  std::unordered_set<std::string> staging_ GUARDED_BY(staging_mutex_);
  bool staging_listed_ GUARDED_BY(staging_mutex_) = false;
  bool staging_readable_ GUARDED_BY(staging_mutex_) = false;
  // Counts the mailboxes staged: a listing taken before one is not kept.
  uint64_t staging_generation_ GUARDED_BY(staging_mutex_) = 0;
};

}  // namespace vm

#endif  // VM_MIGRATE_PENDING_MARKS_H_
