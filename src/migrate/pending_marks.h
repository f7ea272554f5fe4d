#ifndef VM_MIGRATE_PENDING_MARKS_H_
#define VM_MIGRATE_PENDING_MARKS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

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
  // false when either cannot be written.
  bool Mark(const std::string& box, bool sync);
  // Whether `box` is the mailbox the last Mark made, and whether that Mark
  // made its directory too (it holds nothing but the mark then).
  bool JustMade(const std::string& box) const { return box == last_made_; }
  bool JustCreated(const std::string& box) const {
    return box == last_made_ && last_created_;
  }
  // Makes the mail store once per run. The store itself may be a link to
  // where the server keeps it, which CreateDir does not take for a
  // directory, so the result is not looked at: making a mailbox decides.
  void MakeStore();
  // Whether `box` has a mark; *sync (when non-null) tells whether it was
  // made for a sync.
  bool IsMarked(const std::string& box, bool* sync);
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
};

}  // namespace vm

#endif  // VM_MIGRATE_PENDING_MARKS_H_
