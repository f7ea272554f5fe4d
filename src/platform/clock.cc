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
  StampTime NowStamp() const override {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(since);
    return {static_cast<int64_t>(seconds.count()),
            static_cast<uint32_t>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(since -
                                                                     seconds)
                    .count())};
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
