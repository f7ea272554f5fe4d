#include "migrate/ordered_log.h"

#include <gtest/gtest.h>

#include <vector>

#include "testing/recording_host.h"

namespace vm {
namespace {

// A piece of unfinished work whose lines are written when it is released.
class Piece : public OrderedLog::Pending {
 public:
  Piece(bool* ready, std::string line) : ready_(ready), line_(line) {}
  bool Ready() const override { return *ready_; }
  void Release(RunHost* host) override { host->AppendLogLine(line_); }

 private:
  bool* ready_;
  std::string line_;
};

// Lines after an unfinished piece wait for it, in order, and so do calls
// queued with Then; a call the user sees drains first; a log holding more
// than its bound waits for work before taking more.
TEST(OrderedLogTest, HoldsLinesBehindUnfinishedWorkInOrder) {
  RecordingHost host;
  OrderedLog log(&host);
  bool first = false, second = false;
  int waits = 0;
  log.SetWaiter(
      [&] {
        ++waits;
        if (waits == 1) first = true;
        if (waits == 2) second = true;
      },
      4);
  log.AppendLogLine("a");
  log.Add(std::make_unique<Piece>(&first, "folder 1"));
  log.AppendLogLine("b");
  std::vector<std::string> then;
  log.Then([&] { then.push_back("after b"); });
  log.Add(std::make_unique<Piece>(&second, "folder 2"));
  EXPECT_EQ(host.lines, std::vector<std::string>{"a"});
  EXPECT_TRUE(then.empty());
  log.AppendLogLine("c");  // a fifth held call: over the bound of 4
  EXPECT_EQ(waits, 1);
  EXPECT_EQ(host.lines, (std::vector<std::string>{"a", "folder 1", "b"}));
  EXPECT_EQ(then, std::vector<std::string>{"after b"});
  log.ShowMessage(MessageKind::kError, "end");
  EXPECT_EQ(waits, 2);
  EXPECT_EQ(host.events.back(), "message end");
  EXPECT_EQ(host.lines,
            (std::vector<std::string>{"a", "folder 1", "b", "folder 2", "c"}));
  EXPECT_EQ(log.held(), 0u);
}

}  // namespace
}  // namespace vm
