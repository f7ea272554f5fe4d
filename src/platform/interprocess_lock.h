#ifndef VM_PLATFORM_INTERPROCESS_LOCK_H_
#define VM_PLATFORM_INTERPROCESS_LOCK_H_

#include <memory>
#include <string>

namespace vm {

// A machine-wide lock shared by name with every process that opens the same
// name: a named mutex on Windows, an flock'ed file "<lock dir>/<name>" on
// POSIX (lock dir from VELQUOR_LOCK_DIR, default /tmp). A holder that dies
// releases it; the next Lock() then succeeds as if it had been released.
// Not reentrant within one object.
class InterprocessLock {
 public:
  virtual ~InterprocessLock() = default;
  // Waits without time-out until this process owns the lock. Returns false
  // only when the wait itself failed (the caller goes on unlocked).
  virtual bool Lock() = 0;
  virtual void Unlock() = 0;
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
