#ifndef VM_MIGRATE_WORKER_POOL_H_
#define VM_MIGRATE_WORKER_POOL_H_

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <thread>
#include <vector>

#include "util/thread_annotations.h"

namespace vm {

// A fixed number of threads that take queued work items in the order they
// were queued. When the system cannot start as many threads, fewer work;
// when it can start none, Submit runs each item on the caller's thread. The
// owner keeps the queue short by asking busy() before it submits and
// WaitForOne() while it is too long.
class WorkerPool {
 public:
  explicit WorkerPool(int threads);
  // Runs every queued item, then ends the threads.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  void Submit(std::function<void()> work);
  // Items queued or running.
  size_t busy() const;
  // Returns once an item finishes after the call, or at once when nothing
  // is queued or running.
  void WaitForOne();

 private:
  void Work();

  mutable Mutex mutex_;
  std::condition_variable queued_;
  std::condition_variable finished_;
  std::deque<std::function<void()>> queue_ GUARDED_BY(mutex_);
  size_t running_ GUARDED_BY(mutex_) = 0;
  uint64_t finished_count_ GUARDED_BY(mutex_) = 0;
  bool stopping_ GUARDED_BY(mutex_) = false;
  std::vector<std::thread> threads_;
};

}  // namespace vm

#endif  // VM_MIGRATE_WORKER_POOL_H_
