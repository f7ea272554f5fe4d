#include "console/run_ending.h"

namespace vm {

void RunEnding::Arm(std::function<void()> stop) {
  std::lock_guard<std::mutex> lock(mutex_);
  stop_ = std::move(stop);
}

int RunEnding::Interrupt() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (state_ == State::kRunning) {
    if (stop_) stop_();
    stop_ = nullptr;
    state_ = State::kStopped;
    return status_;
  }
  ended_.wait(lock, [this] { return state_ != State::kEnding; });
  return status_;
}

bool RunEnding::Claim() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (state_ == State::kStopped) return false;
  state_ = State::kEnding;
  stop_ = nullptr;
  return true;
}

void RunEnding::Ended(int status) {
  std::lock_guard<std::mutex> lock(mutex_);
  state_ = State::kEnded;
  status_ = status;
  ended_.notify_all();
}

}  // namespace vm
