#ifndef VM_APP_PROGRESS_METER_H_
#define VM_APP_PROGRESS_METER_H_

#include <cstdint>
#include <functional>
#include <string>

#include "migrate/run_observer.h"
#include "session/progress_model.h"
#include "util/thread_annotations.h"

namespace vm {

class FileSystem;

// The progress line of the console front end: the ProgressModel drawn in
// place on a terminal (carriage return, no line end) at most a few times a
// second: accounts done of all, messages and megabytes handled of all, the
// copy rate and the time left, shortened to fit the terminal's width so
// that it never wraps.
class ProgressMeter : public RunObserver {
 public:
  using Writer = std::function<void(const std::string& utf8)>;
  // `now` gives seconds from any fixed point; `columns`, when given, the
  // terminal's width (0 when unknown), asked at each redraw.
  ProgressMeter(FileSystem* fs, std::string source_dir, Writer write,
                std::function<double()> now,
                std::function<int()> columns = nullptr);

  void OnSourceLoaded(const SourceDomainList& domains) override;
  void OnAccountBegin(const std::string& user, const std::string& domain,
                      const std::string& target_box) override;
  void OnMessage(uint64_t bytes, bool copied) override;
  void OnAccountEnd(const std::string& user, const std::string& domain,
                    AccountOutcome outcome, const std::string& reason,
                    const std::string& target_box) override;
  void OnVerified(const std::string& user, const std::string& domain,
                  const std::string& folder, int64_t checked, int64_t missing,
                  int64_t different) override;

  // Wipes the line off, so other output starts at the line's beginning;
  // the next update draws it again.
  void Erase();
  // Draws the final state, then wipes the line; it is not drawn again.
  void Finish();

  // The text of the line for the given state, at most `columns` - 1 long
  // when `columns` is not 0. The rate counts copied bytes only; the time
  // left follows all bytes handled, copied or not.
  static std::string Line(const ProgressSnapshot& snapshot, int columns);

  // Seconds the source scan took.
  double scan_seconds() const { return model_.scan_seconds(); }

 private:
  void Draw(const ProgressSnapshot& snapshot) REQUIRES(mutex_);

  Writer write_;
  std::function<int()> columns_;
  Mutex mutex_;  // of the terminal line; never with the model's lock
  size_t shown_ GUARDED_BY(mutex_) = 0;    // columns on screen; 0 when none
  uint64_t drawn_ GUARDED_BY(mutex_) = 0;  // sequence of the snapshot drawn
  bool finished_ GUARDED_BY(mutex_) = false;
  ProgressModel model_;
};

}  // namespace vm

#endif  // VM_APP_PROGRESS_METER_H_
