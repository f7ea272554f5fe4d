#include "session/progress_samples.h"

#include <gtest/gtest.h>

namespace vm {
namespace {

// Bounded however long the run; the start and the latest point kept; a
// point at most once per step, the step doubling as pairs merge into
// their later point.
TEST(ProgressSamplesTest, KeepsStartAndLatestWithinTheLimit) {
  ProgressSamples samples(1.0, 4);
  for (int i = 0; i <= 20; ++i) samples.Offer(i * 0.5, i);
  samples.Keep(10.25, 21);
  std::vector<std::pair<double, int64_t>> kept;
  for (const ProgressPoint& p : samples.points()) {
    kept.push_back({p.seconds, p.copied});
  }
  const std::vector<std::pair<double, int64_t>> expected = {
      {0, 0}, {6, 12}, {10, 20}, {10.25, 21}};
  EXPECT_EQ(kept, expected);
}

}  // namespace
}  // namespace vm
