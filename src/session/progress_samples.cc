#include "session/progress_samples.h"

namespace vm {

ProgressSamples::ProgressSamples(double step, size_t limit)
    : step_(step), limit_(limit < 2 ? 2 : limit) {}

void ProgressSamples::Offer(double seconds, int64_t copied) {
  if (!points_.empty() && seconds - points_.back().seconds < step_) return;
  Keep(seconds, copied);
}

void ProgressSamples::Keep(double seconds, int64_t copied) {
  if (!points_.empty() && points_.back().seconds >= seconds) {
    points_.back().copied = copied;  // the same moment, counted later
    return;
  }
  if (points_.size() >= limit_) Halve();
  points_.push_back({seconds, copied});
}

void ProgressSamples::Halve() {
  // The first point (the start) stays; every pair after it becomes its
  // later point, and a last point without a pair stays.
  const size_t count = points_.size();
  size_t kept = 1;
  for (size_t i = 2; i < count; i += 2) points_[kept++] = points_[i];
  if (count % 2 == 0) points_[kept++] = points_[count - 1];
  points_.resize(kept);
  step_ *= 2;
}

}  // namespace vm
