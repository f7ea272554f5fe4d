#ifndef VM_APP_PROGRESS_METER_H_
#define VM_APP_PROGRESS_METER_H_

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "app/progress_model.h"
#include "migrate/run_observer.h"

namespace vm {

class FileSystem;

// The progress line of the console front end: the ProgressModel drawn in
// place on a terminal (carriage return, no line end) at most a few times a
// second: accounts done of all, messages and megabytes handled of all, the
// copy rate and the time left.
class ProgressMeter : public RunObserver {
 public:
  using Writer = std::function<void(const std::string& utf8)>;
  // `now` gives seconds from any fixed point.
  ProgressMeter(FileSystem* fs, std::string source_dir, Writer write,
                std::function<double()> now);

  void OnSourceLoaded(const SourceDomainList& domains) override;
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
  // Draws the final state and ends the line.
  void Finish();

  // The text of the line for the given state.
  static std::string Line(const ProgressSnapshot& snapshot);

  // Seconds the source scan took.
  double scan_seconds() const { return model_.scan_seconds(); }

 private:
  void Draw(const ProgressSnapshot& snapshot);  // with mutex_ held

  Writer write_;
  std::mutex mutex_;  // of the terminal line; taken inside the model's lock
  size_t shown_ = 0;  // columns of the line on screen; 0 when none
  ProgressModel model_;
};

}  // namespace vm

#endif  // VM_APP_PROGRESS_METER_H_
