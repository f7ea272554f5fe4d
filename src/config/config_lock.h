#ifndef VM_CONFIG_CONFIG_LOCK_H_
#define VM_CONFIG_CONFIG_LOCK_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace vm {

class InterprocessLock;

// A lock guarding one configuration file or its cached parse.
class ConfigLock {
 public:
  virtual ~ConfigLock() = default;
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
};

// The machine-wide lock of one configuration file, shared by name
// ("Tarnwick_" + file name) with every process that guards the file. It
// also keeps the other threads of this process out. When the machine-wide
// lock cannot be opened, only the threads of this process are excluded;
// error() then says why, and a front end must not go on to write the file
// (see ConfigLocksUsable).
class NamedLock : public ConfigLock {
 public:
  explicit NamedLock(const std::string& file_name);
  ~NamedLock() override;
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;

  void Lock() override;
  void Unlock() override;

  // Opens the machine-wide lock again (tests change its directory).
  void Reopen();

  // Why the machine-wide lock could not be opened; empty when it is open.
  std::string error();

  // The longest time, in microseconds, this process held the lock.
  int64_t LongestHoldMicros() const { return longest_hold_us_; }

 private:
  std::string name_;
  std::chrono::steady_clock::time_point locked_at_;
  std::atomic<int64_t> longest_hold_us_{0};
  std::mutex thread_lock_;
  std::string error_;                       // set by the opening of lock_
  std::unique_ptr<InterprocessLock> lock_;  // null when it cannot be opened
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
