#include "platform/clock.h"

#include <chrono>
#include <ctime>

namespace vm {
namespace {

class WindowsClock : public Clock {
 public:
  int64_t NowSeconds() const override {
    return static_cast<int64_t>(std::time(nullptr));
  }
  int64_t MonotonicMillis() const override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
};

}  // namespace

Clock* SystemClock() {
  static WindowsClock clock;
  return &clock;
}

}  // namespace vm
