#ifndef VM_APP_PROGRESS_METER_H_
#define VM_APP_PROGRESS_METER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "session/progress_model.h"
#include "util/thread_annotations.h"

namespace vm {

// The progress line of the console front end: a view of the session's
// ProgressModel, drawn in place on a terminal (carriage return, no line
// end) whenever the model tells its listener: accounts done of all,
// messages and megabytes handled of all, the copy rate and the time left,
// shortened to fit the terminal's width so that it never wraps.
class ProgressMeter {
 public:
  using Writer = std::function<void(const std::string& utf8)>;
  // `columns`, when given, the terminal's width (0 when unknown), asked at
  // each redraw.
  explicit ProgressMeter(Writer write, std::function<int()> columns = nullptr);

  // The session's progress listener, from any thread: draws the snapshot
  // unless a newer one was drawn already.
  void Show(const ProgressSnapshot& snapshot);

  // Wipes the line off, so other output starts at the line's beginning;
  // the next update draws it again.
  void Erase();
  // Draws `last`, the model's final state, unless it is drawn already or
  // its totals are not known, then wipes the line; it is not drawn again.
  void Finish(const ProgressSnapshot& last);
  // Draws `utf8` in the line's place (a watch's status between passes),
  // until the next update or Erase; nothing once finished.
  void ShowText(const std::string& utf8);

  // The text of the line for the given state, at most `columns` - 1 long
  // when `columns` is not 0. The rate counts copied bytes only; the time
  // left follows all bytes handled, copied or not.
  static std::string Line(const ProgressSnapshot& snapshot, int columns);

 private:
  void Draw(const ProgressSnapshot& snapshot) REQUIRES(mutex_);
  void WipeLocked() REQUIRES(mutex_);

  Writer write_;
  std::function<int()> columns_;
  Mutex mutex_;  // of the terminal line; never with the model's lock
  size_t shown_ GUARDED_BY(mutex_) = 0;    // columns on screen; 0 when none
  uint64_t drawn_ GUARDED_BY(mutex_) = 0;  // sequence of the snapshot drawn
  bool finished_ GUARDED_BY(mutex_) = false;
};

}  // namespace vm

#endif  // VM_APP_PROGRESS_METER_H_
