#include "dialog/line_queue.h"

#include <gtest/gtest.h>

#include <thread>

#include "dialog/result_list_model.h"

namespace vm {
namespace {

std::vector<std::string> Lines(const ResultListModel& model) {
  std::vector<std::string> lines;
  for (int i = 0; i < model.Count(); ++i) lines.push_back(model.Line(i));
  return lines;
}

// The run's in-progress line is replaced by its result line, across and
// within batches; the run's indices match the list once it caught up; a
// whole batch costs one wake; a reset drops what the window never took.
TEST(LineQueueTest, BatchesReplaceLinesAndWakeOncePerBatch) {
  int wakes = 0;
  LineQueue queue([&wakes] { ++wakes; });
  ResultListModel model;
  EXPECT_EQ(queue.Append("old"), 0);
  queue.Reset();
  EXPECT_EQ(queue.Append("a"), 0);
  EXPECT_EQ(queue.Append("b..."), 1);
  queue.FollowEnd();
  queue.RemoveLast();  // never shown
  EXPECT_EQ(queue.Append("b"), 1);
  queue.FollowEnd();
  EXPECT_EQ(wakes, 1);
  ResultListModel::Applied applied = model.Apply(queue.Take());
  EXPECT_TRUE(applied.reset);
  EXPECT_TRUE(applied.follow_end);
  EXPECT_EQ(Lines(model), (std::vector<std::string>{"a", "b"}));

  EXPECT_EQ(queue.Append("c..."), 2);
  EXPECT_EQ(wakes, 2);
  model.Apply(queue.Take());
  queue.RemoveLast();  // shown already: the window removes it
  queue.RemoveLast();
  EXPECT_EQ(queue.Count(), 1);
  applied = model.Apply(queue.Take());
  EXPECT_FALSE(applied.reset);
  EXPECT_FALSE(applied.follow_end);
  EXPECT_EQ(Lines(model), (std::vector<std::string>{"a"}));
  EXPECT_EQ(wakes, 3);
}

// Lines appended on one thread while the other takes batches arrive all,
// once each, in order.
TEST(LineQueueTest, ConcurrentBatchesKeepEveryLineInOrder) {
  LineQueue queue(nullptr);
  ResultListModel model;
  constexpr int kLines = 20000;
  std::thread run([&queue] {
    for (int i = 0; i < kLines; ++i) {
      queue.Append(std::to_string(i) + "...");
      queue.RemoveLast();
      queue.Append(std::to_string(i));
    }
  });
  while (model.Count() < kLines) model.Apply(queue.Take());
  run.join();
  model.Apply(queue.Take());
  ASSERT_EQ(model.Count(), kLines);
  for (int i = 0; i < kLines; i += 997)
    EXPECT_EQ(model.Line(i), std::to_string(i));
}

// More lines than a list box holds (65,535), and a copy of lines picked
// out of them, CR LF after each.
TEST(ResultListModelTest, HoldsAFullRunAndJoinsPickedLines) {
  LineQueue queue(nullptr);
  for (int i = 0; i < 200000; ++i) queue.Append("帐户" + std::to_string(i));
  ResultListModel model;
  model.Apply(queue.Take());
  EXPECT_EQ(model.Count(), 200000);
  EXPECT_EQ(model.Join({3, 199999, 70000}),
            "帐户3\r\n帐户199999\r\n帐户70000\r\n");
  EXPECT_EQ(model.Line(200000), "");
  EXPECT_EQ(model.Line(-1), "");
}

}  // namespace
}  // namespace vm
