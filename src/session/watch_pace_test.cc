#include "session/watch_pace.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/change_notice.h"
#include "platform/clock.h"

namespace vm {
namespace {

// A clock only the notice moves. Each wait lets half the time asked
// pass and times out (a wait that ends early), unless an answer is queued.
class EarlyNotice : public Clock, public ChangeNotice {
 public:
  int64_t NowSeconds() const override { return micros / 1000000; }
  int64_t MonotonicMicros() const override { return micros; }
  NoticeWait Wait(int64_t millis) override {
    asked.push_back(millis);
    if (woken) return NoticeWait::kWoken;
    micros += millis * 500;
    return NoticeWait::kTimedOut;
  }
  void Wake() override {}
  bool TellsChanges() const override { return false; }

  int64_t micros = 1000000000;
  bool woken = false;
  std::vector<int64_t> asked;
};

// The interval runs from a pass's end, however early the waits return;
// a stop answers at once and for good.
TEST(WatchPaceTest, WaitsTheIntervalFromThePassEndAndStopsForGood) {
  EarlyNotice notice;
  WatchPace pace(&notice, &notice, 4);
  pace.PassStarted(notice.micros);
  notice.micros += 7000000;  // a pass longer than the interval
  pace.PassEnded(false);
  const int64_t ended = notice.micros;
  ASSERT_TRUE(pace.WaitForNextPass());
  EXPECT_GE(notice.micros - ended, 4000000);
  ASSERT_GE(notice.asked.size(), 3u);
  EXPECT_EQ(notice.asked[0], 4000);
  EXPECT_EQ(notice.asked[1], 2000);

  pace.PassStarted(notice.micros);
  pace.PassEnded(false);
  notice.woken = true;
  EXPECT_FALSE(pace.WaitForNextPass());
  notice.woken = false;
  EXPECT_FALSE(pace.WaitForNextPass());
}

// The wait after a pass is a hundred times the pass, at least a second
// and at most the interval.
TEST(WatchPaceTest, WaitFollowsThePassLengthWithinASecondAndTheInterval) {
  const struct {
    int64_t pass_micros;
    int64_t first_wait_millis;
  } rows[] = {
      {0, 1000}, {1000, 1000}, {30000, 3000}, {99000, 9900}, {200000, 10000}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.pass_micros);
    EarlyNotice notice;
    WatchPace pace(&notice, &notice, 10);
    pace.PassStarted(notice.micros);
    notice.micros += row.pass_micros;
    pace.PassEnded(false);
    ASSERT_TRUE(pace.WaitForNextPass());
    EXPECT_EQ(notice.asked.at(0), row.first_wait_millis);
  }
}

// A pass looks everywhere at most once an interval, and no sooner than a
// hundred times the last such pass's length: where one takes 30 s, every
// 3,000 s rather than every 10. The interval runs from the migration's
// end, and a pass that looks only where it is told does not set the
// length; a lost count and the last pass look everywhere at once.
TEST(WatchPaceTest, LookingEverywhereKeepsToTheShareOfACore) {
  EarlyNotice notice;
  WatchPace pace(&notice, &notice, 10);
  const int64_t start = notice.micros;
  auto pass = [&](int64_t at_seconds, int64_t length_seconds, bool known,
                  bool last) {
    notice.micros = start + at_seconds * 1000000;
    pace.PassStarted(notice.micros);
    const bool everywhere = pace.LooksEverywhere(known, last);
    notice.micros += length_seconds * 1000000;
    pace.PassEnded(false);
    return everywhere;
  };
  pace.PassStarted(start);  // the migration, a minute long
  notice.micros += 60000000;
  pace.PassEnded(true);
  const struct {
    int64_t at, length;
    bool known, last, everywhere;
  } rows[] = {
      {65, 3, true, false, false},    {100, 30, true, false, true},
      {160, 200, true, false, false}, {3099, 0, true, false, false},
      {3101, 0, true, false, true},   {3105, 0, true, false, false},
      {3112, 0, true, false, true},   {3113, 0, false, false, true},
      {3114, 0, true, true, true},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(pass(row.at, row.length, row.known, row.last), row.everywhere)
        << row.at;
  }
}

// The timer a system without tree notices gets: a wake before the wait
// ends it at once, and every later one.
TEST(WatchPaceTest, TimerWakeIsNeverLost) {
  std::unique_ptr<ChangeNotice> timer = NoticeTimer();
  EXPECT_EQ(timer->Wait(0), NoticeWait::kTimedOut);
  timer->Wake();
  EXPECT_EQ(timer->Wait(3600 * 1000), NoticeWait::kWoken);
  EXPECT_EQ(timer->Wait(3600 * 1000), NoticeWait::kWoken);
}

}  // namespace
}  // namespace vm
