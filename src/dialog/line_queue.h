#ifndef VM_APP_LINE_QUEUE_H_
#define VM_APP_LINE_QUEUE_H_

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace vm {

// One change of the result list, as the run asked for it.
struct LineChange {
  enum Kind { kAppend, kRemoveLast, kFollowEnd, kReset };
  Kind kind = kAppend;
  std::string line;  // kAppend: the line (ANSI)
};

// Result-list changes handed from the run's thread to the window's without
// either waiting for the other: the run queues a change and goes on; the
// window takes every queued change at once when it gets to it. `wake` is
// called (outside the lock, on the run's thread) when a change lands in an
// empty queue, so one posted message stands for a whole batch.
//
// The run reads the list's length from the queue, which counts every line
// queued, so its line numbers match the list once the window has caught
// up. A line removed before the window took it is never shown.
class LineQueue {
 public:
  explicit LineQueue(std::function<void()> wake) : wake_(std::move(wake)) {}
  LineQueue(const LineQueue&) = delete;
  LineQueue& operator=(const LineQueue&) = delete;

  // Any thread. Append returns the index the line will have.
  int Append(const std::string& line);
  void RemoveLast();
  void FollowEnd();
  void Reset();
  int Count() const;

  // The window's thread: every change queued since the last call, in order.
  std::vector<LineChange> Take();

 private:
  void Push(LineChange change, std::unique_lock<std::mutex>* lock);

  std::function<void()> wake_;
  mutable std::mutex mutex_;
  std::vector<LineChange> pending_;
  int count_ = 0;
};

}  // namespace vm

#endif  // VM_APP_LINE_QUEUE_H_
