#ifndef VM_APP_PROGRESS_METER_H_
#define VM_APP_PROGRESS_METER_H_

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "migrate/run_observer.h"
#include "migrate/source_scan.h"

namespace vm {

class Clock;
class FileSystem;

// The progress line of the console front end: accounts done of all,
// messages and megabytes handled of all, the rate of copying and the time
// left, drawn in place on a terminal (carriage return, no line end) at most
// a few times a second, and shortened to fit the terminal's width so that
// it never wraps. The totals come from ScanSourceMailboxes once the source
// lists are read.
class ProgressMeter : public RunObserver {
 public:
  using Writer = std::function<void(const std::string& utf8)>;
  // `clock` times the scan and the rate; `columns` gives the terminal's
  // width (0: unknown, no limit).
  ProgressMeter(FileSystem* fs, std::string source_dir, Writer write,
                const Clock* clock, std::function<int()> columns);

  void OnSourceLoaded(const SourceDomainList& domains) override;
  void OnMessage(uint64_t bytes, bool copied) override;
  void OnAccountEnd(const std::string& user, const std::string& domain,
                    AccountOutcome outcome, const std::string& reason,
                    const std::string& target_box) override;

  // Wipes the line off, so other output starts at the line's beginning;
  // the next update draws it again.
  void Erase();
  // Draws the final state and ends the line; nothing is drawn after.
  void Finish();

  // The text of the line for the given state, at most `columns` - 1 long
  // when `columns` is not 0 (for tests). The rate counts copied bytes
  // only; the time left follows all bytes handled, copied or not.
  static std::string Line(const SourceTotals& totals, const SourceTotals& done,
                          uint64_t copied_bytes, double seconds, int columns);

  // Seconds the source scan took.
  double scan_seconds() const { return scan_seconds_; }

 private:
  void Draw(bool force);  // with mutex_ held

  FileSystem* fs_;
  std::string source_dir_;
  Writer write_;
  double Now() const;  // seconds of clock_'s monotonic time

  const Clock* clock_;
  std::function<int()> columns_;
  std::mutex mutex_;
  SourceTotals totals_;
  SourceTotals done_;
  uint64_t copied_bytes_ = 0;
  double started_ = 0;
  double drawn_at_ = -1;
  double scan_seconds_ = 0;
  size_t shown_ = 0;  // columns of the line on screen; 0 when none
  bool scanned_ = false;
  bool finished_ = false;
};

}  // namespace vm

#endif  // VM_APP_PROGRESS_METER_H_
