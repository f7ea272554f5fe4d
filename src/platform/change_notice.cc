#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/change_notice.h"

namespace vm {

namespace {

// Waits on a condition variable that Wake signals; the wake stays set.
class Timer : public ChangeNotice {
 public:
  NoticeWait Wait(int64_t millis) override {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool woken = woken_changed_.wait_for(
        lock, std::chrono::milliseconds(millis < 0 ? 0 : millis),
        [this] { return woken_; });
    return woken ? NoticeWait::kWoken : NoticeWait::kTimedOut;
  }
  void Wake() override {
    std::lock_guard<std::mutex> lock(mutex_);
    woken_ = true;
    woken_changed_.notify_all();
  }
  bool TellsChanges() const override { return false; }

 private:
  std::mutex mutex_;
  std::condition_variable woken_changed_;
  bool woken_ = false;
};

}  // namespace

std::unique_ptr<ChangeNotice> NoticeTimer() {
  return std::make_unique<Timer>();
}

}  // namespace vm
