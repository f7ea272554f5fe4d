#include "session/watch_pace.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/change_notice.h"
#include "platform/clock.h"

namespace vm {
namespace {

// A clock of microseconds that only the notice moves.
class StepClock : public Clock {
 public:
  int64_t NowSeconds() const override { return micros / 1000000; }
  int64_t MonotonicMicros() const override { return micros; }
  int64_t micros = 1000000000;
};

// Each wait lets `share` of the time asked pass and times out (a wait
// that ends early), or returns a scripted answer.
class EarlyNotice : public ChangeNotice {
 public:
  EarlyNotice(StepClock* clock, double share) : clock_(clock), share_(share) {}
  NoticeWait Wait(int64_t millis) override {
    asked.push_back(millis);
    if (!answers.empty()) {
      const NoticeWait answer = answers.front();
      answers.erase(answers.begin());
      return answer;
    }
    clock_->micros += static_cast<int64_t>(millis * 1000 * share_);
    return NoticeWait::kTimedOut;
  }
  void Wake() override {}
  bool TellsChanges() const override { return false; }

  std::vector<int64_t> asked;
  std::vector<NoticeWait> answers;

 private:
  StepClock* clock_;
  double share_;
};

// The interval runs from a pass's end, however early the waits return;
// a stop answers at once and for good.
TEST(WatchPaceTest, WaitsTheIntervalFromThePassEndAndStopsForGood) {
  StepClock clock;
  EarlyNotice notice(&clock, 0.5);
  WatchPace pace(&clock, &notice, 4);
  pace.PassStarted(clock.micros);
  clock.micros += 7000000;  // a pass longer than the interval
  pace.PassEnded(false);
  const int64_t ended = clock.micros;
  ASSERT_TRUE(pace.WaitForNextPass());
  EXPECT_GE(clock.micros - ended, 4000000);
  ASSERT_GE(notice.asked.size(), 3u);
  EXPECT_EQ(notice.asked[0], 4000);
  EXPECT_EQ(notice.asked[1], 2000);

  pace.PassStarted(clock.micros);
  pace.PassEnded(false);
  notice.answers = {NoticeWait::kWoken};
  EXPECT_FALSE(pace.WaitForNextPass());
  const size_t asked = notice.asked.size();
  EXPECT_FALSE(pace.WaitForNextPass());
  EXPECT_EQ(notice.asked.size(), asked);
}

// The timer a system without tree notices gets: a wake before the wait or
// during it ends it at once, and every later wait.
TEST(WatchPaceTest, TimerWakeIsNeverLost) {
  std::unique_ptr<ChangeNotice> timer = NoticeTimer();
  EXPECT_EQ(timer->Wait(0), NoticeWait::kTimedOut);
  timer->Wake();
  EXPECT_EQ(timer->Wait(3600 * 1000), NoticeWait::kWoken);
  EXPECT_EQ(timer->Wait(3600 * 1000), NoticeWait::kWoken);
}

}  // namespace
}  // namespace vm
