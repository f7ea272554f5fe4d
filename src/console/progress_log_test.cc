#include "console/progress_log.h"

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

// Runs a script of operations on a log and traces what the view shows:
// "+text" appends (traced as the extent, or "fail"), "-" removes the last
// line, "r" resets, "s" selects the last line (traced as "s" and its
// index), "m0"/"m1" make measuring fail or work, "f0"/"f1" the view's adds.
std::string Trace(const std::vector<std::string>& script) {
  FakeView view;
  FakeMeasurer measurer;
  ProgressLog log(&view, &measurer);
  std::string trace;
  for (const std::string& op : script) {
    if (op[0] == '+') {
      const bool added = log.AppendLogLine(op.substr(1)) >= 0;
      trace += (added ? std::to_string(view.extent) : "fail") + " ";
    } else if (op == "-") {
      log.RemoveLastLine();
    } else if (op == "r") {
      log.Reset();
    } else if (op == "s") {
      log.SelectLastLine();
      trace += "s" + std::to_string(view.selected) + " ";
    } else {
      (op[0] == 'm' ? measurer.available : view.fail_add) = op[1] == '1';
    }
  }
  return trace;
}

TEST(ProgressLogTest, ExtentFollowsTheWidestLineShown) {
  const struct {
    std::vector<std::string> script;
    std::string trace;
  } kCases[] = {
      {{"+abc", "+abcdef", "+a", "s"}, "21 42 42 s2 "},
      {{"+", "+"}, "0 0 "},
      // A removed line stops counting at the next append.
      {{"+abcd", "+abcdefghij", "-", "+ab"}, "28 70 28 "},
      {{"+abcdefghij", "r", "+ab"}, "70 14 "},
      // A line that could not be measured counts once measuring works.
      {{"+abc", "m0", "+abcdefgh", "m1", "+x"}, "21 21 56 "},
      {{"+abc", "f1", "+abcdefgh", "f0", "+ab"}, "21 fail 21 "},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Trace(c.script), c.trace) << c.script.size() << " operations";
  }
}

// Appends and in-place replacements measure only the new line and never
// read old lines back, however long the log is.
TEST(ProgressLogTest, WorkPerLineDoesNotGrowWithTheLog) {
  FakeView view;
  FakeMeasurer measurer;
  ProgressLog log(&view, &measurer);
  for (int i = 0; i < 5000; ++i) {
    log.AppendLogLine("in progress");
    log.RemoveLastLine();
    log.AppendLogLine("done " + std::to_string(i));
  }
  EXPECT_EQ(measurer.calls, 10000);
  EXPECT_EQ(view.text_reads, 0);
  EXPECT_EQ(view.extent, 7 * 9);  // "done 4999"
}

}  // namespace
}  // namespace vm
