#ifndef VM_CONSOLE_RUN_ENDING_H_
#define VM_CONSOLE_RUN_ENDING_H_

#include <condition_variable>
#include <functional>
#include <mutex>

namespace vm {

// How a console run ends when an interrupt's handler, on a thread of its
// own, may come at any moment: the interrupt is the session's stop request,
// as the dialog's stop button is. The session finishes the copies in
// flight, saves the stores, keeps the pending marks and writes the records
// itself; the handler waits for that end, so the process never ends while
// they are written, and ends it with the run's own status. An interrupt
// after the run's end changes nothing. (A second interrupt ends the process
// at once; the platform's handler does that.)
class RunEnding {
 public:
  RunEnding() = default;
  RunEnding(const RunEnding&) = delete;
  RunEnding& operator=(const RunEnding&) = delete;

  // What an interrupt asks of the run (quick; it must not wait). An
  // interrupt before it is armed stops the run here, at once.
  void Arm(std::function<void()> stop);
  // The handler's part: asks the run to stop, unless it has ended, calls
  // `requested` (may be empty) and waits for the run's end. Returns the
  // process's exit status.
  int Interrupt(const std::function<void()>& requested = nullptr);
  // The run has ended and its records are written; `status` is its exit
  // status. The stop armed is dropped, never called again.
  void Ended(int status);

 private:
  std::mutex mutex_;
  std::condition_variable ended_;
  std::function<void()> stop_;
  bool interrupted_ = false;
  bool done_ = false;
  int status_ = 0;
};

}  // namespace vm

#endif  // VM_CONSOLE_RUN_ENDING_H_
