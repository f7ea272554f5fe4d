#include "app/progress_meter.h"

#include <gtest/gtest.h>

namespace vm {
namespace {

// A line as wide as the terminal, or wider, wraps: every redraw would
// leave a row behind. The rate is of copied bytes, so a --sync run that
// finds everything present shows 0.0 MB/s, while the time left still
// follows the messages gone through.
TEST(ProgressMeterTest, LineFitsTheTerminalAndRatesCopiedBytes) {
  const uint64_t mb = 1048576;
  SourceTotals totals;
  totals.accounts = 10;
  totals.messages = 4000;
  totals.bytes = 400 * mb;
  SourceTotals done;
  done.accounts = 3;
  done.messages = 120;
  done.bytes = 100 * mb;
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
    EXPECT_EQ(ProgressMeter::Line(totals, done, c.copied, 10.0, c.columns),
              c.line)
        << c.columns;
  }
}

}  // namespace
}  // namespace vm
