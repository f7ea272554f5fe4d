#ifndef VM_SESSION_WATCH_PACE_H_
#define VM_SESSION_WATCH_PACE_H_

#include <cstdint>
#include <string>

namespace vm {

class ChangeNotice;
class Clock;
struct Texts;

// When the passes of a watch start, and what is said of them. A pass is
// due when the notice tells of a change (or that it lost count of them),
// and in any case `interval_seconds` after the last pass ended: a notice
// that never comes (a folder on a share, a system that tells none, a
// notice a system fails to deliver) costs at most an interval. Sooner when
// passes are cheap: a pass is due a hundred times its own length after it
// ended (a second at least), so that a watch that finds nothing uses at
// most a hundredth of a core and follows the source as fast as that
// allows. Used by the run's thread; the stop comes through
// the notice's Wake, from any thread.
class WatchPace {
 public:
  // `interval_seconds` > 0; `clock` and `notice` outlive the pace.
  WatchPace(const Clock* clock, ChangeNotice* notice, int interval_seconds);

  // Around each pass, the first (the migration) included: its start on the
  // clock's MonotonicMicros, then its end. `changed`: the pass copied or
  // added anything.
  void PassStarted(int64_t monotonic_micros);
  void PassEnded(bool changed);

  // Whether the pass just started looks everywhere, rather than only where
  // the notice told changes: when the notice lost count (`known` false),
  // when it is the last pass (after a stop), and otherwise once the last
  // pass that looked everywhere started an interval ago (the migration:
  // ended), or a hundred times that pass's length ago if longer. On
  // a large tree, where looking everywhere takes long, such passes keep to
  // the same share of a core as the waits.
  bool LooksEverywhere(bool known, bool last);

  // Blocks until the next pass is due. False, at once, once the notice
  // was woken: the watch is to end (after one more pass, which starts
  // after the stop and so sees everything made before it).
  bool WaitForNextPass();

  // "第 N 次同步：新增 X 封，用时 Y 秒" for the pass just ended, counting
  // the migration as the first.
  std::string PassLine(const Texts& texts, int64_t copied) const;
  // "源自 HH:MM:SS 起没有变化，上次同步用时 Y 秒": since the end of the last
  // pass that found something, in local time; nothing after it was
  // found by a later pass.
  std::string Status(const Texts& texts) const;

  int passes() const { return passes_; }

 private:
  const Clock* clock_;
  ChangeNotice* notice_;
  int64_t interval_micros_;
  int passes_ = 0;
  int64_t started_ = 0;      // MonotonicMicros of the last pass's start
  int64_t ended_ = 0;        // and of its end
  int64_t last_change_ = 0;  // NowSeconds at the end of a pass that changed
  bool everywhere_ = false;  // the pass in flight looks everywhere
  int64_t everywhere_started_ = 0;  // the last such pass's start
  int64_t everywhere_length_ = 0;   // and length (a watch pass's only)
  bool stopped_ = false;
};

}  // namespace vm

#endif  // VM_SESSION_WATCH_PACE_H_
