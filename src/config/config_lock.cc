#include "config/config_lock.h"

#include "platform/interprocess_lock.h"

namespace vm {

NamedLock::NamedLock(const std::string& file_name)
    : name_("Tarnwick_" + file_name),
      lock_(OpenInterprocessLock(name_, &error_)) {}

NamedLock::~NamedLock() = default;

void NamedLock::Lock() {
  thread_lock_.lock();
  // A wait that fails leaves only this process's threads excluded; the
  // file is read or written all the same, as when the lock is missing.
  if (lock_ != nullptr) lock_->Lock();
  locked_at_ = std::chrono::steady_clock::now();
}

void NamedLock::Unlock() {
  int64_t held = std::chrono::duration_cast<std::chrono::microseconds>(
                     std::chrono::steady_clock::now() - locked_at_)
                     .count();
  if (held > longest_hold_us_) longest_hold_us_ = held;
  if (lock_ != nullptr) lock_->Unlock();
  thread_lock_.unlock();
}

void NamedLock::Reopen() {
  std::lock_guard<std::mutex> guard(thread_lock_);
  error_.clear();
  lock_ = OpenInterprocessLock(name_, &error_);
}

std::string NamedLock::error() {
  std::lock_guard<std::mutex> guard(thread_lock_);
  return error_;
}

}  // namespace vm
