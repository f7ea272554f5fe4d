#ifndef VM_MIGRATE_STAGED_MAILBOX_H_
#define VM_MIGRATE_STAGED_MAILBOX_H_

#include <cstdint>
#include <string>
#include <vector>

#include "migrate/run_manifest.h"
#include "util/thread_annotations.h"

namespace vm {

class FileSystem;

// A new mailbox built under its staging name (PendingMarks::StagingOf)
// beside where it goes, and published by one rename of the folder once its
// last copy has finished: the server sees no mailbox or the whole one.
// Nobody looks into the staging folder, so its files are plain copies
// (FileSystem::CopyStaged). What the build makes is recorded here under
// the final paths and goes into the run's manifest once it is published,
// the mailbox folder first, so that the manifest names only what exists
// and an undo, which goes backwards, removes the folder last.
class StagedMailbox {
 public:
  StagedMailbox(std::string staging, std::string box)
      : staging_(std::move(staging)), box_(std::move(box)) {}
  StagedMailbox(const StagedMailbox&) = delete;
  StagedMailbox& operator=(const StagedMailbox&) = delete;

  const std::string& staging() const { return staging_; }
  const std::string& box() const { return box_; }
  // The final path of `staged`, a path in the staging folder.
  std::string Final(const std::string& staged) const {
    return box_ + staged.substr(staging_.size());
  }

  // Thread-safe; each path is one in the staging folder.
  void MadeDirectory(const std::string& staged) EXCLUDES(mutex_);
  void MadeFile(const std::string& staged, uint64_t size,
                const std::string& md5) EXCLUDES(mutex_);
  // The entries, under their final paths, the mailbox folder first.
  std::vector<ManifestEntry> TakeEntries() EXCLUDES(mutex_);

 private:
  const std::string staging_;
  const std::string box_;
  Mutex mutex_;
  std::vector<ManifestEntry> entries_ GUARDED_BY(mutex_);
};

// What MergeStaged did.
struct MergeOutcome {
  // The mailbox folder exists and holds the pending mark: the staging
  // folder may go. Else nothing more was tried.
  bool box_ready = false;
  // Staged files not put into the mailbox: a file of that name was there
  // (`exists`), or the copy failed with `error`. Final paths.
  struct Left {
    std::string from;  // the staged file, or folder
    std::string path;
    bool exists = false;
    std::string error;
  };
  std::vector<Left> left;
};

// When the mailbox appeared while it was staged (the server made it for a
// delivery to the new account), or the volume has no rename that refuses
// an existing target: puts the staged mailbox into the mailbox folder as
// copies go into an existing mailbox, each file whole under its name and
// never in place of one there. The mailbox is marked pending first (mark
// named `mark`), so that a kill part way leaves it to be resumed. What is
// made goes into `manifest` (when non-null). The staging folder is left
// for the caller to remove.
MergeOutcome MergeStaged(FileSystem* fs, const StagedMailbox& staged,
                         const std::string& mark, ManifestWriter* manifest);

}  // namespace vm

#endif  // VM_MIGRATE_STAGED_MAILBOX_H_
