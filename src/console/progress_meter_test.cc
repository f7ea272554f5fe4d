#include "console/progress_meter.h"

#include <gtest/gtest.h>

namespace vm {
namespace {

// A line as wide as the terminal, or wider, wraps: every redraw would
// leave a row behind. The rate is of copied bytes, so a --sync run that
// finds everything present shows 0.0 MB/s, while the time left still
// follows the messages gone through.
TEST(ProgressMeterTest, LineFitsTheTerminalAndRatesCopiedBytes) {
  const uint64_t mb = 1048576;
  ProgressSnapshot s;
  s.scanned = true;
  s.totals.accounts = 10;
  s.totals.messages = 4000;
  s.totals.bytes = 400 * mb;
  s.done.accounts = 3;
  s.done.messages = 120;
  s.done.bytes = 100 * mb;
  s.seconds = 10.0;
  const struct {
    int columns;
    uint64_t copied;
    const char* line;
  } kCases[] = {
      {0, 10 * mb,
       "accounts 3/10  messages 120/4000  100.0/400.0 MB (10.0 MB copied)  "
       "1.0 MB/s  left 0:00:30"},
      {90, 10 * mb,
       "accounts 3/10  messages 120/4000  100.0/400.0 MB (10.0 MB copied)  "
       "1.0 MB/s  left 0:00:30"},
      {88, 0,
       "accounts 3/10  messages 120/4000  100.0/400.0 MB  0.0 MB/s  left "
       "0:00:30"},
      {80, 10 * mb,
       "accounts 3/10  messages 120/4000  100.0/400.0 MB  1.0 MB/s  left "
       "0:00:30"},
      {72, 10 * mb, "acc 3/10  msg 120/4000  100.0/400.0 MB  left 0:00:30"},
      {40, 10 * mb, "acc 3/10  msg 120/4000  left 0:00:30"},
      {30, 10 * mb, "msg 120/4000  left 0:00:30"},
      {11, 10 * mb, "msg 120/40"},
  };
  for (const auto& c : kCases) {
    s.copied_bytes = c.copied;
    EXPECT_EQ(ProgressMeter::Line(s, c.columns), c.line) << c.columns;
  }
}

}  // namespace
}  // namespace vm
