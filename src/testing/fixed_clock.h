#ifndef VM_TESTING_FIXED_CLOCK_H_
#define VM_TESTING_FIXED_CLOCK_H_

#include <cstdint>

#include "platform/clock.h"

namespace vm {

// A clock for tests: shows the time it was given.
class FixedClock : public Clock {
 public:
  explicit FixedClock(int64_t now = 1700000000) : now_(now) {}
  int64_t NowSeconds() const override { return now_; }
  void Set(int64_t now) { now_ = now; }

 private:
  int64_t now_;
};

}  // namespace vm

#endif  // VM_TESTING_FIXED_CLOCK_H_
