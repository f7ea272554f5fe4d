#include "platform/clock.h"

#include <ctime>

namespace vm {
namespace {

class PosixClock : public Clock {
 public:
  int64_t NowSeconds() const override {
    return static_cast<int64_t>(std::time(nullptr));
  }
};

}  // namespace

Clock* SystemClock() {
  static PosixClock clock;
  return &clock;
}

}  // namespace vm
