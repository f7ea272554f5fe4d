#ifndef VM_PLATFORM_CLOCK_H_
#define VM_PLATFORM_CLOCK_H_

#include <cstdint>

#include "platform/file_identity.h"

namespace vm {

class Clock {
 public:
  virtual ~Clock() = default;
  // Calendar time in seconds since 1970-01-01 00:00 UTC.
  virtual int64_t NowSeconds() const = 0;
  // Microseconds of a clock that never goes back, for intervals; a clock
  // without one of its own counts the calendar's seconds.
  virtual int64_t MonotonicMicros() const { return NowSeconds() * 1000000; }
  int64_t MonotonicMillis() const { return MonotonicMicros() / 1000; }
  // Calendar time to the clock's precision, comparable with the times a
  // file system gives its files; a clock without one of its own gives
  // whole seconds.
  virtual StampTime NowStamp() const { return {NowSeconds(), 0}; }
};

// The system clock; a static object that lives for the whole process.
Clock* SystemClock();

}  // namespace vm

#endif  // VM_PLATFORM_CLOCK_H_
