#ifndef VM_CONFIG_CONFIG_LOCK_H_
#define VM_CONFIG_CONFIG_LOCK_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace vm {

class InterprocessLock;

// A lock guarding a file's cached parse.
class ConfigLock {
 public:
  virtual ~ConfigLock() = default;
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
};

// Told when another process keeps a configuration file's lock so long that
// the user should know. `file_name` is the configuration file ("domain.cfg",
// "userauth.cfg"), `where` the lock (the lock file's path on POSIX, the
// mutex's name on Windows). Called on the waiting thread.
class LockWaitListener {
 public:
  virtual ~LockWaitListener() = default;
  // The wait has gone on for a few seconds.
  virtual void LockWaiting(const std::string& file_name,
                           const std::string& where) = 0;
  // The time limit passed: the wait ends without the lock.
  virtual void LockGivenUp(const std::string& file_name,
                           const std::string& where) = 0;
};

// How long a wait for the machine-wide lock goes on. The limit comes from
// the environment variable VELQUOR_LOCK_TIMEOUT (whole seconds; 0 for a
// single attempt) when it is set.
struct LockWaitLimits {
  int64_t notice_millis = 3000;     // until the listener is told
  int64_t give_up_millis = 600000;  // until the wait fails
};

// The machine-wide lock of one configuration file, shared by name
// ("Tarnwick_" + file name) with every process that guards the file. It
// also keeps the other threads of this process out. When the machine-wide
// lock cannot be opened, only the threads of this process are excluded;
// error() then says why, and a front end must not go on to write the file
// (see SharedConfigStates::LocksUsable).
//
// A wait for another process is never silent or endless: the listener
// hears of it after a few seconds, it fails once the limit has passed, and
// InterruptCurrentWaits (a stop request) ends it at once.
class NamedLock {
 public:
  explicit NamedLock(const std::string& file_name);
  ~NamedLock();
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;

  // True when the caller holds the lock and must Unlock it; false when the
  // wait failed, gave up or was interrupted. `listener` may be null.
  bool Lock(LockWaitListener* listener);
  void Unlock();

  // Ends every wait, now and from now on (tests use it to make every later
  // load and save of the file fail as a lock not had).
  void InterruptWaits() { interrupted_ = true; }
  // Ends the waits under way now; later waits wait as usual (a stopped run
  // still saves on its way out).
  void InterruptCurrentWaits() { ++wait_round_; }

  // Why the machine-wide lock could not be opened, or the limits not be
  // read; empty when all is well.
  std::string error();

  // For tests: limits other than those of the environment.
  void SetLimits(const LockWaitLimits& limits) { limits_ = limits; }

  // The longest time, in microseconds, this process held the lock.
  int64_t LongestHoldMicros() const { return longest_hold_us_; }

 private:
  void Open();
  // Waits for the machine-wide lock; the thread lock is held.
  bool Wait(LockWaitListener* listener);

  std::string file_name_;
  std::string name_;
  int64_t locked_at_ = 0;  // Clock::MonotonicMicros
  std::atomic<int64_t> longest_hold_us_{0};
  std::atomic<bool> interrupted_{false};
  std::atomic<int64_t> wait_round_{0};  // InterruptCurrentWaits calls
  std::mutex thread_lock_;
  LockWaitLimits limits_;
  std::string error_;                       // set by Open
  std::unique_ptr<InterprocessLock> lock_;  // null when it cannot be opened
};

// Holds a NamedLock for one scope, when it can be had.
class ScopedNamedLock {
 public:
  ScopedNamedLock(NamedLock* lock, LockWaitListener* listener)
      : lock_(lock), locked_(lock->Lock(listener)) {}
  ~ScopedNamedLock() {
    if (locked_) lock_->Unlock();
  }
  ScopedNamedLock(const ScopedNamedLock&) = delete;
  ScopedNamedLock& operator=(const ScopedNamedLock&) = delete;
  bool locked() const { return locked_; }

 private:
  NamedLock* lock_;
  bool locked_;
};

// Guards a file's cached parse within this process.
class CacheLock : public ConfigLock {
 public:
  void Lock() override { mutex_.lock(); }
  void Unlock() override { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

// Holds a ConfigLock for one scope.
class ScopedConfigLock {
 public:
  explicit ScopedConfigLock(ConfigLock* lock) : lock_(lock) { lock_->Lock(); }
  ~ScopedConfigLock() { lock_->Unlock(); }
  ScopedConfigLock(const ScopedConfigLock&) = delete;
  ScopedConfigLock& operator=(const ScopedConfigLock&) = delete;

 private:
  ConfigLock* lock_;
};

}  // namespace vm

#endif  // VM_CONFIG_CONFIG_LOCK_H_
