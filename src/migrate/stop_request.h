#ifndef VM_MIGRATE_STOP_REQUEST_H_
#define VM_MIGRATE_STOP_REQUEST_H_

#include <atomic>

namespace vm {

// A request to end a run early, made from another thread (the dialog's
// stop button or its closing, a console's interrupt). The run looks at it
// before each account: the mailbox being copied is finished, the
// configuration stores save what they hold, a mailbox left incomplete
// keeps its pending mark, and the accounts not reached are left for the
// next run, which then completes the migration.
class StopRequest {
 public:
  StopRequest() = default;
  StopRequest(const StopRequest&) = delete;
  StopRequest& operator=(const StopRequest&) = delete;

  // Any thread, any number of times.
  void Request() { requested_.store(true, std::memory_order_relaxed); }
  bool requested() const { return requested_.load(std::memory_order_relaxed); }

 private:
  std::atomic<bool> requested_{false};
};

}  // namespace vm

#endif  // VM_MIGRATE_STOP_REQUEST_H_
