#ifndef VM_MIGRATE_STAGED_MAILBOX_H_
#define VM_MIGRATE_STAGED_MAILBOX_H_

#include <cstdint>
#include <string>
#include <vector>

#include "migrate/run_manifest.h"
#include "util/thread_annotations.h"

namespace vm {

class FileSystem;
struct Texts;

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
  // A file the copy told nothing of is not recorded (an undo keeps it).
  void MadeFile(const std::string& staged, const CopiedFile& copied)
      EXCLUDES(mutex_);
  // The entries, under their final paths, the mailbox folder first.
  std::vector<ManifestEntry> TakeEntries() EXCLUDES(mutex_);

 private:
  const std::string staging_;
  const std::string box_;
  Mutex mutex_;
  std::vector<ManifestEntry> entries_ GUARDED_BY(mutex_);
};

// What PublishStaged did.
struct PublishOutcome {
  // The mailbox appeared meanwhile, and the staged files were put into
  // it: the staging folder may go.
  bool merged = false;
  // False when the mailbox folder could not be made or marked for that:
  // the staging folder and its mark stay, and the next run builds the
  // mailbox again.
  bool box_ready = true;
  // Its failure line, or with box_ready one per staged file left out.
  std::vector<std::string> lines;
};

// Publishes `staged` by one rename that never replaces nor merges, and
// hands its entries to `manifest` (when non-null). When the mailbox
// appeared while it was staged (the server made it for a delivery to the
// new account), or the volume has no rename that refuses an existing
// target, the staged files go into it as copies go into an existing
// mailbox, each whole under its name and never in place of one there; the
// mailbox is marked pending first, so that a kill part way leaves it to be
// resumed. The staging folder is left for the caller to remove.
PublishOutcome PublishStaged(FileSystem* fs, StagedMailbox* staged,
                             const Texts& texts, ManifestWriter* manifest);

}  // namespace vm

#endif  // VM_MIGRATE_STAGED_MAILBOX_H_
