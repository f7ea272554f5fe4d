#include "console/run_ending.h"

#include <utility>

namespace vm {

void RunEnding::Arm(std::function<void()> stop) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (done_) return;
  // An interrupt that came while the run was being set up stops it as
  // soon as it can be stopped, rather than letting it run to its end.
  if (interrupted_) {
    stop();
    return;
  }
  stop_ = std::move(stop);
}

int RunEnding::Interrupt(const std::function<void()>& requested) {
  std::unique_lock<std::mutex> lock(mutex_);
  interrupted_ = true;
  // Called under the lock, so Ended cannot drop what it stops meanwhile.
  if (stop_) std::exchange(stop_, nullptr)();
  lock.unlock();
  if (requested) requested();
  lock.lock();
  ended_.wait(lock, [this] { return done_; });
  return status_;
}

void RunEnding::Ended(int status) {
  std::lock_guard<std::mutex> lock(mutex_);
  done_ = true;
  status_ = status;
  stop_ = nullptr;
  ended_.notify_all();
}

}  // namespace vm
