#ifndef VM_SESSION_PROGRESS_SAMPLES_H_
#define VM_SESSION_PROGRESS_SAMPLES_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vm {

// One point of a run's progress: messages copied by then.
struct ProgressPoint {
  double seconds = 0;  // since the source scan ended
  int64_t copied = 0;
};

// The run's progress over time, for the report's chart: a point at most
// once per `step` seconds, and never more than `limit` points. When the
// limit is reached, each pair of points becomes its later point and the
// step doubles, so a run of any length keeps points evenly spread over
// all of it. The counts only grow, so the later point of a pair is exact.
// Not thread-safe: its owner guards it.
class ProgressSamples {
 public:
  explicit ProgressSamples(double step = 1.0, size_t limit = 2000);

  // Keeps the point when `step` has passed since the last one kept.
  void Offer(double seconds, int64_t copied);
  // Keeps the point whatever the step (the run's start and end).
  void Keep(double seconds, int64_t copied);

  const std::vector<ProgressPoint>& points() const { return points_; }

 private:
  void Halve();

  double step_;
  size_t limit_;
  std::vector<ProgressPoint> points_;
};

}  // namespace vm

#endif  // VM_SESSION_PROGRESS_SAMPLES_H_
