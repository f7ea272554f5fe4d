#include "platform/clock.h"

#include <ctime>

namespace vm {
namespace {

class WindowsClock : public Clock {
 public:
  int64_t NowSeconds() const override {
    return static_cast<int64_t>(std::time(nullptr));
  }
};

}  // namespace

Clock* SystemClock() {
  static WindowsClock clock;
  return &clock;
}

}  // namespace vm
