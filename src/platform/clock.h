#ifndef VM_PLATFORM_CLOCK_H_
#define VM_PLATFORM_CLOCK_H_

#include <cstdint>

namespace vm {

class Clock {
 public:
  virtual ~Clock() = default;
  // Calendar time in seconds since 1970-01-01 00:00 UTC.
  virtual int64_t NowSeconds() const = 0;
};

// The system clock; a static object that lives for the whole process.
Clock* SystemClock();

}  // namespace vm

#endif  // VM_PLATFORM_CLOCK_H_
