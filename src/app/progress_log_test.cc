#include "app/progress_log.h"

#include <gtest/gtest.h>

namespace vm {
namespace {

class FakeView : public LogView {
 public:
  int AddLine(const std::string& line) override {
    if (fail_add) return -1;
    lines.push_back(line);
    return static_cast<int>(lines.size()) - 1;
  }
  void DeleteLine(int index) override { lines.erase(lines.begin() + index); }
  int LineCount() override { return static_cast<int>(lines.size()); }
  std::string LineText(int index) override {
    ++text_reads;
    return lines[index];
  }
  void Select(int index) override { selected = index; }
  void Reset() override { lines.clear(); }
  void SetHorizontalExtent(int value) override {
    extent = value;
    ++extent_sets;
  }

  std::vector<std::string> lines;
  bool fail_add = false;
  int extent = -1;
  int extent_sets = 0;
  int selected = -2;
  int text_reads = 0;
};

// Width: 7 units per byte, so the widest line is the longest one.
class FakeMeasurer : public TextMeasurer {
 public:
  bool Measure(const std::string& line, int* width) override {
    ++calls;
    if (!available) return false;
    *width = 7 * static_cast<int>(line.size());
    return true;
  }
  bool available = true;
  int calls = 0;
};

class ProgressLogTest : public testing::Test {
 protected:
  FakeView view_;
  FakeMeasurer measurer_;
  ProgressLog log_{&view_, &measurer_};
};

TEST_F(ProgressLogTest, ExtentFollowsWidestLine) {
  EXPECT_EQ(log_.AppendLogLine("abc"), 0);
  EXPECT_EQ(view_.extent, 21);
  EXPECT_EQ(log_.AppendLogLine("abcdef"), 1);
  EXPECT_EQ(view_.extent, 42);
  log_.AppendLogLine("a");
  EXPECT_EQ(view_.extent, 42);
  log_.SelectLastLine();
  EXPECT_EQ(view_.selected, 2);
}

TEST_F(ProgressLogTest, EmptyLinesGiveZeroExtent) {
  log_.AppendLogLine("");
  log_.AppendLogLine("");
  EXPECT_EQ(view_.extent, 0);
}

TEST_F(ProgressLogTest, RemovingTheWidestLineNarrowsTheNextExtent) {
  log_.AppendLogLine("abcd");
  log_.AppendLogLine("abcdefghij");
  log_.RemoveLastLine();
  EXPECT_EQ(view_.lines, std::vector<std::string>{"abcd"});
  // Not recomputed by the removal itself.
  EXPECT_EQ(view_.extent, 70);
  log_.AppendLogLine("ab");
  EXPECT_EQ(view_.extent, 28);
}

TEST_F(ProgressLogTest, ResetStartsFromZero) {
  log_.AppendLogLine("abcdefghij");
  log_.Reset();
  EXPECT_EQ(log_.LineCount(), 0);
  log_.AppendLogLine("ab");
  EXPECT_EQ(view_.extent, 14);
}

TEST_F(ProgressLogTest, AppendWithoutMeasuringStillAddsTheLine) {
  log_.AppendLogLine("abc");
  measurer_.available = false;
  log_.AppendLogLine("abcdefgh");
  EXPECT_EQ(view_.lines.size(), 2u);
  EXPECT_EQ(view_.extent, 21);  // as it was
  // Once measuring works again, the unmeasured line counts.
  measurer_.available = true;
  log_.AppendLogLine("x");
  EXPECT_EQ(view_.extent, 56);
}

TEST_F(ProgressLogTest, FailedAddIsReportedAndKeepsExtent) {
  log_.AppendLogLine("abc");
  view_.fail_add = true;
  EXPECT_LT(log_.AppendLogLine("abcdefgh"), 0);
  EXPECT_EQ(view_.extent, 21);
  view_.fail_add = false;
  log_.AppendLogLine("ab");
  EXPECT_EQ(view_.extent, 21);
}

// Appends and in-place replacements measure only the new line and never
// read old lines back, however long the log is.
TEST_F(ProgressLogTest, WorkPerLineDoesNotGrowWithTheLog) {
  for (int i = 0; i < 5000; ++i) {
    log_.AppendLogLine("in progress");
    log_.RemoveLastLine();
    log_.AppendLogLine("done " + std::to_string(i));
  }
  EXPECT_EQ(measurer_.calls, 10000);
  EXPECT_EQ(view_.text_reads, 0);
  // The removed in-progress lines no longer count: "done 4999" is widest.
  EXPECT_EQ(view_.extent, 7 * 9);
}

}  // namespace
}  // namespace vm
