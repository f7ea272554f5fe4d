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
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  queued_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void WorkerPool::Submit(std::function<void()> work) {
  if (threads_.empty()) {
    // Without a worker the caller does the work itself.
    work();
    std::lock_guard<std::mutex> lock(mutex_);
    ++finished_count_;
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(work));
  }
  queued_.notify_one();
}

size_t WorkerPool::busy() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size() + running_;
}

void WorkerPool::WaitForOne() {
  std::unique_lock<std::mutex> lock(mutex_);
  const uint64_t seen = finished_count_;
  finished_.wait(lock, [&] {
    return finished_count_ != seen || (queue_.empty() && running_ == 0);
  });
}

void WorkerPool::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    queued_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, and nothing left to do
    std::function<void()> work = std::move(queue_.front());
    queue_.pop_front();
    ++running_;
    lock.unlock();
    work();
    lock.lock();
    --running_;
    ++finished_count_;
    finished_.notify_all();
  }
}

}  // namespace vm
