#ifndef VM_PLATFORM_RUN_LOCK_H_
#define VM_PLATFORM_RUN_LOCK_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/interprocess_lock.h"

namespace vm {

class CodePage;

// Who may hold a run lock beside whom: a run that writes holds it alone; a
// run that only reads (a preview, a verification) shares it with others
// that only read.
enum class RunLockMode { kExclusive, kShared };

// The lock of one target that every run takes before it reads anything of
// the target and keeps to its end: the file kFileName in a folder of the
// target itself, so that every path that reaches the folder (another
// spelling, a link) meets the same lock. The file is made on first use and
// never removed (a file removed while another process waits on it would
// let two runs hold two locks). A holder that dies lets go of it: the
// kernel drops the flock on POSIX, Windows the byte-range lock.
//
// The exclusive holder writes a text naming itself into the file (read by
// runs refused meanwhile); the text stays readable while the lock is held.
class RunLock {
 public:
  static constexpr const char* kFileName = "velquor-migrate.lock";

  virtual ~RunLock() = default;
  RunLock() = default;
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  // One attempt, without waiting: kLocked when this object holds the lock
  // in `mode` now, kBusy when another holder is in the way. An exclusive
  // holder then replaces the file's text with `holder` where the file may
  // be written (a file this user may only read is held without a text).
  virtual LockResult TryLock(RunLockMode mode, const std::string& holder) = 0;
  // Lets go; an exclusive holder first empties its text.
  virtual void Unlock() = 0;
  // Whether someone holds the lock exclusively now (false when only
  // shared holders, or none, hold it).
  virtual bool HeldExclusively() = 0;
  // The text the last exclusive holder wrote; empty when none.
  virtual std::string HolderText() = 0;
  // The lock file, as the platform shows paths (UTF-8), for messages.
  virtual const std::string& where() const = 0;
};

// Opens the lock file in the folder `dir`, an ANSI path with backslashes
// as the core forms them (`code_page` converts it), making it when missing
// and `create` (a run that only reads makes nothing). A symbolic link, a
// folder or any other non-regular file at the lock's path is refused,
// never used. Returns null with the reason (UTF-8) in *error when the file
// cannot be opened; *missing tells whether that is because it does not
// exist (and could not be made): no run that writes has used the folder.
std::unique_ptr<RunLock> OpenRunLock(const CodePage& code_page,
                                     const std::string& dir, bool create,
                                     std::string* error, bool* missing);

// This machine's name (UTF-8) and this process's id, for a holder's text.
std::string ThisHostName();
int64_t ThisProcessId();

}  // namespace vm

#endif  // VM_PLATFORM_RUN_LOCK_H_
