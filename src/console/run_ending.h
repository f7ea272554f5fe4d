#ifndef VM_APP_RUN_ENDING_H_
#define VM_APP_RUN_ENDING_H_

#include <condition_variable>
#include <functional>
#include <mutex>

namespace vm {

// How a console run ends when an interrupt's handler, on a thread of its
// own, may come at any moment while the run goes on: exactly one of the
// handler and the run's own end writes the report and the log's end, and
// neither lets the process end while the other is writing them. The exit
// status is decided once: an interrupt after the run's end changes nothing.
class RunEnding {
 public:
  // `stopped_status` is the status of a run an interrupt stops.
  explicit RunEnding(int stopped_status) : status_(stopped_status) {}

  // What the handler does (save, tell, write); until armed, nothing.
  void Arm(std::function<void()> stop);
  // The handler's part: stops the run unless it ended on its own first,
  // in which case it waits until the run's files are written. Returns the
  // process's exit status.
  int Interrupt();
  // The run's own end begins; false when an interrupt came first (it has
  // written the files by the time this returns).
  bool Claim();
  // The run's files are written; `status` is its exit status.
  void Ended(int status);

 private:
  enum class State { kRunning, kStopped, kEnding, kEnded };
  std::mutex mutex_;
  std::condition_variable ended_;
  std::function<void()> stop_;
  State state_ = State::kRunning;
  int status_;
};

}  // namespace vm

#endif  // VM_APP_RUN_ENDING_H_
