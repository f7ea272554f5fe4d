#include "platform/clock.h"

#include <chrono>
#include <ctime>

namespace vm {
namespace {

// The standard library gives both clocks on every OS.
class StandardClock : public Clock {
 public:
  int64_t NowSeconds() const override {
    return static_cast<int64_t>(std::time(nullptr));
  }
  int64_t MonotonicMicros() const override {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
};

}  // namespace

Clock* SystemClock() {
  static StandardClock clock;
  return &clock;
}

}  // namespace vm
