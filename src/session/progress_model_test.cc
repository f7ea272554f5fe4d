#include "session/progress_model.h"

#include <gtest/gtest.h>

#include "testing/mem_file_system.h"

namespace vm {
namespace {

// Three accounts of two domains: "a" (2 messages, 300 bytes) and "b"
// (1 message, 50 bytes) present from an earlier, stopped run; "c" (2
// messages, 1000 bytes) migrated now. A continued run must end with the
// bar full and every message counted, without counting "c" twice or
// counting an account the stop left.
TEST(ProgressModelTest, ContinuedRunCountsAccountsAnEarlierRunFinished) {
  MemFileSystem fs;
  for (const char* dir : {"C:\\S", "C:\\S\\mail", "C:\\S\\mail\\a",
                          "C:\\S\\mail\\b", "C:\\S\\mail\\c"}) {
    fs.CreateDir(dir, nullptr);
  }
  const struct {
    const char* path;
    size_t size;
  } kFiles[] = {{"a\\1.in", 100}, {"a\\2.sed", 200}, {"a\\Folders.ini", 7},
                {"b\\3.5", 50},   {"c\\4.in", 400},  {"c\\5.out", 600}};
  for (const auto& f : kFiles) {
    ASSERT_TRUE(fs.WriteFile(std::string("C:\\S\\mail\\") + f.path,
                             std::string(f.size, 'x'), nullptr));
  }
  SourceDomainList domains(2);
  domains[0].accounts.resize(2);
  domains[0].accounts[0].user_name = "a";
  domains[0].accounts[1].user_name = "b";
  domains[1].accounts.resize(1);
  domains[1].accounts[0].user_name = "c";

  ProgressModel model(&fs, "C:\\S", [] { return 1.0; });
  model.OnSourceLoaded(domains);
  model.OnAccountEnd("a", "d1", AccountOutcome::kExists, "", "");
  model.OnAccountBegin("c", "d2", "T\\c");
  model.OnMessage(400, true);
  model.OnMessage(600, true);
  model.OnAccountEnd("c", "d2", AccountOutcome::kAdded, "", "T\\c");
  ProgressSnapshot mid = model.Snapshot();
  EXPECT_EQ(mid.done.messages, 4);
  EXPECT_LT(mid.Fraction(), 1.0);

  model.OnAccountEnd("b", "d1", AccountOutcome::kExists, "", "");
  ProgressSnapshot end = model.Snapshot();
  EXPECT_EQ(end.done.accounts, 3);
  EXPECT_EQ(end.done.messages, 5);
  EXPECT_EQ(end.done.bytes, 1350u);
  EXPECT_EQ(end.copied_bytes, 1000u);
  EXPECT_DOUBLE_EQ(end.Fraction(), 1.0);

  // A stopped run's unfinished account is no work done.
  ProgressModel stopped(&fs, "C:\\S", [] { return 1.0; });
  stopped.OnSourceLoaded(domains);
  stopped.OnAccountEnd("a", "d1", AccountOutcome::kUnfinished, "", "");
  EXPECT_EQ(stopped.Snapshot().done.messages, 0);

  // Counting as it goes (a sync with a record) lists no mailbox: "a" ends
  // unlisted, "c" is gone through; the bar is of accounts, and the line
  // tells messages seen so far, of no total.
  ProgressModel sync(&fs, "C:\\S", [] { return 1.0; });
  sync.CountAsItGoes();
  sync.OnSourceLoaded(domains);
  sync.OnAccountEnd("a", "d1", AccountOutcome::kSynced, "", "T\\a");
  sync.OnAccountBegin("c", "d2", "T\\c");
  sync.OnMessage(400, false);
  sync.OnMessage(1048576, true);
  sync.OnAccountEnd("c", "d2", AccountOutcome::kSynced, "", "T\\c");
  ProgressSnapshot counted = sync.Snapshot();
  EXPECT_EQ(counted.totals.accounts, 3);
  EXPECT_EQ(counted.done.messages, 2);
  EXPECT_DOUBLE_EQ(counted.Fraction(), 2.0 / 3);
  EXPECT_EQ(ProgressStatusText(counted),
            "帐户 2/3，邮件 2 封，1.0 MB（已复制 1.0 MB），0.0 MB/秒，剩余 "
            "计算中");
  EXPECT_EQ(ProgressSummaryText(counted),
            "帐户 2/3，邮件 2 封，已复制 1.0 MB，用时 0:00:00");
}

// The end of each kind of step says what that step did: a verification
// the messages it checked (none copied), a preview what it would copy
// (never "copied"), a migration with a check both.
TEST(ProgressModelTest, SummaryAndStatusSayWhatTheStepDid) {
  ProgressSnapshot s;
  s.scanned = true;
  s.totals = {200, 12000, 3 * 1048576};
  s.done = {200, 0, 0};
  s.verified = 12000;
  s.seconds = 61;
  s.work = ProgressWork::kVerify;
  EXPECT_EQ(ProgressSummaryText(s),
            "帐户 200/200，已校验邮件 12000/12000 封，用时 0:01:01");
  EXPECT_DOUBLE_EQ(s.Fraction(), 1.0);

  s.work = ProgressWork::kPreview;
  s.verified = 0;
  s.done = {200, 12000, 3 * 1048576};
  s.copied_bytes = 1258291;  // 1.2 MB
  EXPECT_EQ(ProgressSummaryText(s),
            "帐户 200/200，邮件 12000/12000，预计复制 1.2 MB，用时 0:01:01");
  EXPECT_EQ(ProgressStatusText(s),
            "帐户 200/200，邮件 12000/12000，3.0/3.0 MB（预计复制 1.2 MB），"
            "剩余 0:00:00");

  s.work = ProgressWork::kCopy;
  s.verifying = true;
  s.verified = 11000;
  EXPECT_EQ(ProgressSummaryText(s),
            "帐户 200/200，邮件 12000/12000，已复制 1.2 MB，已校验 11000 封，"
            "用时 0:01:01");
}

}  // namespace
}  // namespace vm
