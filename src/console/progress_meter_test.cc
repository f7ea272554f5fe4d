#include "console/progress_meter.h"

#include <gtest/gtest.h>

namespace vm {
namespace {

// A line as wide as the terminal, or wider, wraps: every redraw would
// leave a row behind. The rate is of copied bytes, so a --sync run that
// finds everything present shows 0.0 MB/s, while the time left still
// follows the messages gone through. A preview copies nothing: its line
// tells what a run would copy and no rate; a check tells messages checked.
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
  s.verified = 90;
  const struct {
    int columns;
    uint64_t copied;
    const char* line;
    ProgressWork work = ProgressWork::kCopy;
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
      {0, 10 * mb,
       "accounts 3/10  messages 120/4000  100.0/400.0 MB (10.0 MB to copy)  "
       "left 0:00:30",
       ProgressWork::kPreview},
      {80, 10 * mb,
       "accounts 3/10  messages 120/4000  100.0/400.0 MB  left "
       "0:00:30",
       ProgressWork::kPreview},
      {0, 0, "verifying: messages 90/4000", ProgressWork::kVerify},
      {20, 0, "verified 90/4000", ProgressWork::kVerify},
  };
  for (const auto& c : kCases) {
    s.copied_bytes = c.copied;
    s.work = c.work;
    EXPECT_EQ(ProgressMeter::Line(s, c.columns), c.line) << c.columns;
  }
  // A sync that counts as it goes knows no totals but the accounts'.
  s.listed = false;
  s.copied_bytes = 10 * mb;
  s.work = ProgressWork::kCopy;
  EXPECT_EQ(ProgressMeter::Line(s, 0),
            "accounts 3/10  messages 120  100.0 MB (10.0 MB copied)  1.0 MB/s  "
            "left 0:00:23");
}

// The meter draws what the session's model tells it: a state older than
// the one on screen (two threads telling at once) is not drawn over it,
// and the final state the model told at the run's end is wiped, not drawn
// a second time; nothing is drawn once the line is finished.
TEST(ProgressMeterTest, DrawsNewestStateOnceAndWipesAtTheEnd) {
  std::string out;
  ProgressMeter meter([&out](const std::string& text) { out += text; });
  auto state = [](uint64_t sequence, int64_t accounts) {
    ProgressSnapshot s;
    s.scanned = true;
    s.totals.accounts = 2;
    s.totals.messages = 4;
    s.done.accounts = accounts;
    s.done.messages = 2 * accounts;
    s.sequence = sequence;
    return s;
  };
  const std::string first =
      "accounts 1/2  messages 2/4  0.0/0.0 MB (0.0 MB copied)  0.0 MB/s  "
      "left -:--:--";
  const std::string last =
      "accounts 2/2  messages 4/4  0.0/0.0 MB (0.0 MB copied)  0.0 MB/s  "
      "left -:--:--";
  meter.Show(state(2, 1));
  meter.Show(state(1, 0));
  meter.Erase();
  meter.Show(state(3, 2));
  meter.Finish(state(3, 2));
  meter.Show(state(4, 2));
  meter.Finish(state(5, 2));
  const std::string wipe = "\r" + std::string(first.size(), ' ') + "\r";
  EXPECT_EQ(out, "\r" + first + wipe + "\r" + last + wipe);
}

}  // namespace
}  // namespace vm
