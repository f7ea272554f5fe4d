#include "session/watch_pace.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "migrate/texts.h"
#include "platform/change_notice.h"
#include "platform/clock.h"

namespace vm {

namespace {

// A watch that finds nothing spends at most one part in this many of a
// core on its passes: the wait after a pass is this many times as long as
// the pass, within the shortest wait and the interval.
constexpr int64_t kIdleShare = 100;
constexpr int64_t kShortestWaitMicros = 1000000;

// "12.3": tenths of a second are what a person reads of a pass.
std::string Seconds(int64_t micros) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f", micros / 1e6);
  return text;
}

std::string LocalClockTime(int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  const std::tm* tm = std::localtime(&t);
  if (tm == nullptr) return "?";
  char text[16];
  std::strftime(text, sizeof(text), "%H:%M:%S", tm);
  return text;
}

}  // namespace

WatchPace::WatchPace(const Clock* clock, ChangeNotice* notice,
                     int interval_seconds)
    : clock_(clock),
      notice_(notice),
      interval_micros_(int64_t{interval_seconds} * 1000000) {}

void WatchPace::PassStarted(int64_t monotonic_micros) {
  ++passes_;
  started_ = monotonic_micros;
  everywhere_ = false;
}

bool WatchPace::LooksEverywhere(bool known, bool last) {
  const int64_t every =
      std::max(interval_micros_, everywhere_length_ * kIdleShare);
  everywhere_ = !known || last || started_ - everywhere_started_ >= every;
  if (everywhere_) everywhere_started_ = started_;
  return everywhere_;
}

void WatchPace::PassEnded(bool changed) {
  ended_ = clock_->MonotonicMicros();
  if (everywhere_) everywhere_length_ = ended_ - started_;
  // The migration looked everywhere, and the notice, armed before it, has
  // told every change since: it counts as of its end. Its length, that of
  // a first copy, is no measure of a pass's.
  if (passes_ == 1) everywhere_started_ = ended_;
  if (changed || passes_ == 1) last_change_ = clock_->NowSeconds();
}

bool WatchPace::WaitForNextPass() {
  if (stopped_) return false;
  const int64_t wait = std::clamp(
      (ended_ - started_) * kIdleShare,
      std::min(kShortestWaitMicros, interval_micros_), interval_micros_);
  const int64_t due = ended_ + wait;
  for (;;) {
    const int64_t left = due - clock_->MonotonicMicros();
    if (left <= 0) return true;
    // Rounded up: a wait that ends a little early waits again.
    switch (notice_->Wait((left + 999) / 1000)) {
      case NoticeWait::kChanged:
      case NoticeWait::kOverflow:
        return true;
      case NoticeWait::kWoken:
        stopped_ = true;
        return false;
      case NoticeWait::kTimedOut:
        break;
    }
  }
}

std::string WatchPace::PassLine(const Texts& texts, int64_t copied) const {
  return texts.watch_pass + std::to_string(passes_) + texts.watch_pass_added +
         std::to_string(copied) + texts.watch_pass_took +
         Seconds(ended_ - started_) + texts.watch_seconds;
}

std::string WatchPace::Status(const Texts& texts) const {
  return texts.watch_unchanged_since + LocalClockTime(last_change_) +
         texts.watch_unchanged_tail + texts.watch_last_pass +
         Seconds(ended_ - started_) + texts.watch_seconds;
}

}  // namespace vm
