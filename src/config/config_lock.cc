#include "config/config_lock.h"

#include <algorithm>
#include <cstdlib>

#include "platform/clock.h"
#include "platform/interprocess_lock.h"

namespace vm {
namespace {

// The longest single wait between looks at the interrupt flag.
constexpr int64_t kWaitSliceMillis = 50;

// Reads VELQUOR_LOCK_TIMEOUT into *limits; false when it is set to
// something other than a number of seconds.
bool ReadLimits(LockWaitLimits* limits, std::string* error) {
  *limits = LockWaitLimits();
  const char* text = std::getenv("VELQUOR_LOCK_TIMEOUT");
  if (text == nullptr || *text == '\0') return true;
  int64_t seconds = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9' || seconds > 100000000) {
      *error = std::string(
                   "VELQUOR_LOCK_TIMEOUT is not a number of "
                   "seconds: ") +
               text;
      return false;
    }
    seconds = seconds * 10 + (*p - '0');
  }
  limits->give_up_millis = seconds * 1000;
  return true;
}

}  // namespace

NamedLock::NamedLock(const std::string& file_name)
    : file_name_(file_name), name_("Tarnwick_" + file_name) {
  Open();
}

NamedLock::~NamedLock() = default;

void NamedLock::Open() {
  error_.clear();
  lock_ = OpenInterprocessLock(name_, &error_);
  std::string limits_error;
  if (!ReadLimits(&limits_, &limits_error) && error_.empty()) {
    error_ = limits_error;
  }
}

bool NamedLock::Lock(LockWaitListener* listener) {
  thread_lock_.lock();
  // Without the machine-wide lock only this process's threads are
  // excluded; a front end refuses to run then
  // (SharedConfigStates::LocksUsable).
  if (lock_ != nullptr && !Wait(listener)) {
    thread_lock_.unlock();
    return false;
  }
  locked_at_ = SystemClock()->MonotonicMicros();
  return true;
}

bool NamedLock::Wait(LockWaitListener* listener) {
  const Clock* clock = SystemClock();
  const int64_t start = clock->MonotonicMillis();
  auto waited = [clock, start] { return clock->MonotonicMillis() - start; };
  bool told = false;
  const int64_t round = wait_round_;
  for (;;) {
    if (interrupted_ || wait_round_ != round) return false;
    // Short slices, so that an interruption is seen soon and the notice
    // comes on time.
    const int64_t now = waited();
    int64_t slice = std::min(limits_.give_up_millis - now, kWaitSliceMillis);
    if (!told) slice = std::min(slice, limits_.notice_millis - now);
    switch (lock_->LockWithin(std::max<int64_t>(slice, 0))) {
      case LockResult::kLocked:
        return true;
      case LockResult::kFailed:
        return false;
      case LockResult::kBusy:
        break;
    }
    const int64_t after = waited();
    if (!told && after >= limits_.notice_millis) {
      if (listener != nullptr)
        listener->LockWaiting(file_name_, lock_->where());
      told = true;
    }
    if (after >= limits_.give_up_millis) {
      if (listener != nullptr)
        listener->LockGivenUp(file_name_, lock_->where());
      return false;
    }
  }
}

void NamedLock::Unlock() {
  const int64_t held = SystemClock()->MonotonicMicros() - locked_at_;
  if (held > longest_hold_us_) longest_hold_us_ = held;
  if (lock_ != nullptr) lock_->Unlock();
  thread_lock_.unlock();
}

std::string NamedLock::error() {
  std::lock_guard<std::mutex> guard(thread_lock_);
  return error_;
}

}  // namespace vm
