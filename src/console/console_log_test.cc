#include "console/console_log.h"

#include <gtest/gtest.h>

#include "platform/code_page.h"

namespace vm {
namespace {

class ConsoleLogTest : public testing::Test {
 protected:
  ConsoleLog MakeLog(bool terminal, bool keep_lines = true) {
    return ConsoleLog(
        gbk_.get(), terminal, [this](const std::string& s) { out_ += s; },
        keep_lines);
  }
  // One folder's worth: progress line replaced by its result.
  void Replace(ConsoleLog* log, const std::string& progress,
               const std::string& done) {
    log->AddLine(progress);
    log->DeleteLine(log->LineCount() - 1);
    log->AddLine(done);
  }
  std::unique_ptr<CodePage> gbk_ = OpenCodePage("GBK");
  std::string out_;
};

TEST_F(ConsoleLogTest, PipeGetsExactlyTheFinalList) {
  ConsoleLog log = MakeLog(false);
  log.AddLine("head");
  Replace(&log, "working", "\xca\xd5 3!");  // GBK "收"
  log.Finish();
  EXPECT_EQ(out_, "head\n收 3!\n");
  EXPECT_EQ(log.ListText(), out_);
}

TEST_F(ConsoleLogTest, TerminalShowsAndWipesTheProgressLine) {
  ConsoleLog log = MakeLog(true);
  log.AddLine("head");
  Replace(&log, "\xca\xd5x", "done");
  log.Finish();
  // "收x" takes three columns and is wiped with three blanks.
  EXPECT_EQ(out_, "head\n收x\r   \rdone\n");
  EXPECT_EQ(log.ListText(), "head\ndone\n");
}

// A list that lets printed lines go prints the same bytes and counts the
// same lines: the pending line is never let go before it is printed.
TEST_F(ConsoleLogTest, LettingLinesGoChangesNoOutput) {
  for (bool terminal : {false, true}) {
    out_.clear();
    ConsoleLog log = MakeLog(terminal, false);
    log.AddLine("a");
    log.AddLine("b");
    Replace(&log, "working", "c");
    EXPECT_EQ(log.LineCount(), 3);
    EXPECT_EQ(log.LineText(2), "c");
    log.DeleteLine(0);  // already out: only the count changes
    log.AddLine("d");
    EXPECT_EQ(log.LineCount(), 3);
    log.Finish();
    EXPECT_EQ(out_,
              terminal ? "a\nb\nworking\r       \rc\nd\n" : "a\nb\nc\nd\n");
  }
}

TEST_F(ConsoleLogTest, ResetPrintsWhatWasPendingAndStartsOver) {
  ConsoleLog log = MakeLog(false);
  log.AddLine("a");
  log.Reset();
  log.AddLine("b");
  log.Finish();
  EXPECT_EQ(out_, "a\nb\n");
  EXPECT_EQ(log.ListText(), "b\n");
}

TEST(DisplayColumnsTest, WideCharactersTakeTwoColumns) {
  EXPECT_EQ(DisplayColumns(""), 0);
  EXPECT_EQ(DisplayColumns("abc"), 3);
  EXPECT_EQ(DisplayColumns("收件箱"), 6);
  EXPECT_EQ(DisplayColumns("a！"), 3);   // full-width exclamation mark
  EXPECT_EQ(DisplayColumns("\xe6"), 1);  // cut sequence: one column
}

}  // namespace
}  // namespace vm
