#include "migrate/worker_pool.h"

#include <system_error>
#include <utility>

namespace vm {

WorkerPool::WorkerPool(int threads) {
  if (threads < 1) threads = 1;
  for (int i = 0; i < threads; ++i) {
    try {
      threads_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      // The system has no room for another thread (an address-space
      // limit, a thread limit): fewer workers, or none, do the work.
      break;
    }
  }
}

WorkerPool::~WorkerPool() {
  {
    MutexLock lock(&mutex_);
    stopping_ = true;
  }
  queued_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void WorkerPool::Submit(std::function<void()> work) {
  if (threads_.empty()) {
    // Without a worker the caller does the work itself.
    work();
    MutexLock lock(&mutex_);
    ++finished_count_;
    return;
  }
  {
    MutexLock lock(&mutex_);
    queue_.push_back(std::move(work));
  }
  queued_.notify_one();
}

size_t WorkerPool::busy() const {
  MutexLock lock(&mutex_);
  return queue_.size() + running_;
}

void WorkerPool::WaitForOne() {
  MutexLock lock(&mutex_);
  const uint64_t seen = finished_count_;
  while (finished_count_ == seen && (!queue_.empty() || running_ != 0)) {
    lock.Wait(&finished_);
  }
}

void WorkerPool::Work() {
  for (;;) {
    std::function<void()> work;
    {
      MutexLock lock(&mutex_);
      while (!stopping_ && queue_.empty()) lock.Wait(&queued_);
      if (queue_.empty()) return;  // stopping, and nothing left to do
      work = std::move(queue_.front());
      queue_.pop_front();
      ++running_;
    }
    work();
    {
      MutexLock lock(&mutex_);
      --running_;
      ++finished_count_;
      finished_.notify_all();
    }
  }
}

}  // namespace vm
