#include "migrate/migration_run.h"

#include <gtest/gtest.h>

#include "tests/support/golden.h"
#include "tests/support/mem_installation.h"

namespace vm {
namespace {

class MigrationRunTest : public testing::Test {
 protected:
  RunOutcome Run() {
    t_.host.events.clear();
    t_.host.messages.clear();
    return MigrationRun(&t_.host, t_.texts, t_.settings, &t_.context,
                        &t_.stats);
  }
  MemInstallation t_;
};

TEST_F(MigrationRunTest, EmptySourceRunsEveryPhaseAndSucceeds) {
  t_.PutSource("domain.ini", "");
  t_.PutSource("popusers.ini", "");
  RunOutcome outcome = Run();
  EXPECT_TRUE(outcome.succeeded);
  EXPECT_EQ(outcome.failure_lines, 0);
  EXPECT_EQ(t_.Events(), Golden("migrate/run_empty.txt"));
  // Into a folder that is not an installed target, the message says where
  // the files are.
  t_.settings.target_installed = false;
  Run();
  EXPECT_EQ(t_.code_page->ToUtf8(t_.host.messages.at(0)),
            "Velquor => Tarnwick 转移成功！\n请将临时目录中创建的域名/帐户 "
            "数据文件和邮件存储目录拷贝到 Tarnwick 系统安装目录下。");
}

TEST_F(MigrationRunTest, LoadFailureRestoresButtonAndLogsNothing) {
  t_.stats.user_count = 7;
  RunOutcome outcome = Run();
  EXPECT_FALSE(outcome.loaded);
  EXPECT_FALSE(outcome.succeeded);
  EXPECT_EQ(t_.Events(),
            "caption 迁移中请等待...\nreset\ndisable\n"
            "message 没有找到domain.ini文件\nenable\ncaption 开始转移\n");
  EXPECT_EQ(t_.stats.user_count, 7);  // counters of the last run stay
}

TEST_F(MigrationRunTest, MigratesDomainsAccountsAndMailOnce) {
  t_.PutSource("domain.ini", "a.com\r\nb.com\r\n");
  t_.PutSource("popusers.ini", "Bob\tc\ta.com\r\nann@b.com\tc\tx\tb.com\r\n");
  t_.PutSource("mail\\bob\\1.in", "hello");
  t_.PutSource("mail\\ann@b.com\\2.del", "bye");
  EXPECT_TRUE(Run().succeeded);
  EXPECT_EQ(t_.ResultList(), Golden("migrate/run_two_domains.txt"));
  EXPECT_EQ(t_.context.primary_domain, "a.com");
  EXPECT_EQ(t_.Store("bob\\INBOX\\1.in"), "hello");
  EXPECT_EQ(t_.Store("ann@b.com\\Trash\\2.del"), "bye");
  const std::string users = t_.Get("userauth.cfg");
  EXPECT_NE(users.find("<name>bob</name>\r\n<domain/>"), std::string::npos);
  EXPECT_NE(users.find("<name>ann</name>\r\n<domain>b.com</domain>"),
            std::string::npos);

  // A second run over the same target adds nothing and copies nothing.
  EXPECT_TRUE(Run().succeeded);
  EXPECT_EQ(t_.Events(), Golden("migrate/run_empty.txt"));
  EXPECT_EQ(t_.Get("userauth.cfg"), users);
}

TEST_F(MigrationRunTest, UnreadableDomainListWithholdsSuccess) {
  t_.Put("domain.cfg", "<database><domain>");  // not well-formed
  t_.PutSource("domain.ini", "a.com\r\n");
  t_.PutSource("popusers.ini", "bob\tc\ta.com\r\n");
  RunOutcome outcome = Run();
  EXPECT_FALSE(outcome.succeeded);
  EXPECT_EQ(outcome.failure_lines, 1);
  EXPECT_EQ(t_.code_page->ToUtf8(t_.host.messages.at(0)), "读取域信息出错！");
  EXPECT_NE(
      t_.ResultList().find("导入域名:a.com\n该域名转移失败!\n域名转移结束\n"),
      std::string::npos);
}

// Every failure line withholds the success message: here an account name
// too long for the target and a failed copy, which is also counted.
TEST_F(MigrationRunTest, FailuresAreListedCountedAndWithholdSuccess) {
  t_.PutSource("domain.ini", "a.com\r\n");
  t_.PutSource("popusers.ini",
               "bob\tc\ta.com\r\n" + std::string(65, 'x') + "\tc\ta.com\r\n");
  t_.PutSource("mail\\bob\\1.in", "one");
  t_.PutSource("mail\\bob\\2.in", "two");
  t_.fs.FailPath("C:\\src\\mail\\bob\\2.in");
  RunOutcome outcome = Run();
  EXPECT_TRUE(outcome.loaded);
  EXPECT_FALSE(outcome.succeeded);
  EXPECT_EQ(outcome.failure_lines, 2);
  EXPECT_TRUE(t_.host.messages.empty());
  EXPECT_EQ(t_.stats.failed_copies, 1);
  EXPECT_EQ(t_.ResultList(), Golden("migrate/run_failures.txt"));
}

}  // namespace
}  // namespace vm
