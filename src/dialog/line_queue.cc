#include "dialog/line_queue.h"

namespace vm {

int LineQueue::Append(const std::string& line) {
  std::unique_lock<std::mutex> lock(mutex_);
  int index = count_++;
  Push({LineChange::kAppend, line}, &lock);
  return index;
}

void LineQueue::RemoveLast() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (count_ == 0) return;
  --count_;
  // A line the window has not shown yet goes without a trace; what
  // followed it (a scroll to the end) still applies to the new end.
  for (auto it = pending_.rbegin(); it != pending_.rend(); ++it) {
    if (it->kind == LineChange::kFollowEnd) continue;
    if (it->kind == LineChange::kAppend) {
      pending_.erase(std::next(it).base());
      return;
    }
    break;
  }
  Push({LineChange::kRemoveLast, {}}, &lock);
}

void LineQueue::FollowEnd() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!pending_.empty() && pending_.back().kind == LineChange::kFollowEnd) {
    return;
  }
  Push({LineChange::kFollowEnd, {}}, &lock);
}

void LineQueue::Reset() {
  std::unique_lock<std::mutex> lock(mutex_);
  count_ = 0;
  const bool was_empty = pending_.empty();
  pending_.clear();
  pending_.push_back({LineChange::kReset, {}});
  lock.unlock();
  if (was_empty && wake_) wake_();
}

int LineQueue::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

std::vector<LineChange> LineQueue::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<LineChange> taken;
  taken.swap(pending_);
  return taken;
}

void LineQueue::Push(LineChange change, std::unique_lock<std::mutex>* lock) {
  const bool was_empty = pending_.empty();
  pending_.push_back(std::move(change));
  lock->unlock();
  if (was_empty && wake_) wake_();
}

}  // namespace vm
