#ifndef VM_PLATFORM_INTERPROCESS_LOCK_H_
#define VM_PLATFORM_INTERPROCESS_LOCK_H_

#include <cstdint>
#include <memory>
#include <string>

namespace vm {

// How a LockWithin ended.
enum class LockResult {
  kLocked,  // this process owns the lock now
  kBusy,    // another holder still had it when the time ran out
  kFailed,  // the wait itself failed
};

// A machine-wide lock shared by name with every process that opens the same
// name: a named mutex on Windows, an flock'ed file "<lock dir>/<name>" on
// POSIX. A holder that dies releases it; the next wait then succeeds as if
// it had been released. Not reentrant within one object.
//
// The POSIX lock dir is VELQUOR_LOCK_DIR when that is set (a folder shared
// with a server that guards the same files). Otherwise it is a folder of
// the running user that no other local user can take over: for root
// /run/velquor-migrate, for others /run/lock/velquor-migrate-<uid> (or
// /tmp/velquor-migrate-<uid> without /run/lock), made 0700; one found
// there that is a link, belongs to someone else or is writable by others
// is refused.
class InterprocessLock {
 public:
  virtual ~InterprocessLock() = default;
  // Takes the lock, waiting at most `millis` milliseconds for another
  // holder to let go (0: one attempt, no wait).
  virtual LockResult LockWithin(int64_t millis) = 0;
  virtual void Unlock() = 0;
  // The lock file's path (POSIX) or the mutex's name (Windows), for
  // messages.
  virtual const std::string& where() const = 0;
};

// Opens (creating when needed) the lock of that name, for example
// "Tarnwick_userauth.cfg". Returns null, with the reason in *error when
// non-null, when it cannot be opened, or when something other than a
// regular file (a symbolic link, a FIFO, ...) is found at the lock file's
// path on POSIX.
std::unique_ptr<InterprocessLock> OpenInterprocessLock(
    const std::string& name, std::string* error = nullptr);

}  // namespace vm

#endif  // VM_PLATFORM_INTERPROCESS_LOCK_H_
