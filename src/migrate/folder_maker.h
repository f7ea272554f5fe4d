#ifndef VM_MIGRATE_FOLDER_MAKER_H_
#define VM_MIGRATE_FOLDER_MAKER_H_

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "util/thread_annotations.h"

namespace vm {

class FileSystem;
class ManifestWriter;
class StagedMailbox;

// Makes the folders of a mailbox the run has just made, on a worker, while
// the run goes on to the next mailbox: such a mailbox holds nothing yet,
// so the run need not know more of its folders than whether they could be
// made, and that only where their copies and lines are settled. Workers
// take work in the order it is queued, so a copy queued after Make waits
// at most for a Make already running.
class FolderMaker {
 public:
  // Each directory Make makes goes into `manifest` (when non-null), which
  // must outlive the maker, or into `staged` when the mailbox is staged.
  // With a `mark`, Make first writes that empty file: the pending mark of
  // a staged mailbox, whose staging folder alone marks it until then.
  FolderMaker(FileSystem* fs, std::vector<std::string> dirs,
              ManifestWriter* manifest = nullptr,
              std::shared_ptr<StagedMailbox> staged = nullptr,
              std::string mark = std::string());

  // Makes each directory, in order; run once.
  void Make();
  // Returns once Make has run.
  void Wait() const;
  bool finished() const;
  // Whether directory `i` exists as a directory (after Wait).
  bool made(size_t i) const;
  // Whether the mark asked for was written (true without one; after Wait).
  bool marked() const;
  const std::string& dir(size_t i) const { return dirs_[i]; }

 private:
  FileSystem* fs_;
  ManifestWriter* manifest_;
  const std::shared_ptr<StagedMailbox> staged_;
  const std::vector<std::string> dirs_;
  const std::string mark_;
  mutable Mutex mutex_;
  mutable std::condition_variable finished_changed_;
  std::vector<bool> made_ GUARDED_BY(mutex_);
  bool finished_ GUARDED_BY(mutex_) = false;
  bool marked_ GUARDED_BY(mutex_) = false;
};

}  // namespace vm

#endif  // VM_MIGRATE_FOLDER_MAKER_H_
