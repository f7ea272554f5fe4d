#include "migrate/migration_run.h"

#include <gtest/gtest.h>

#include "config/config_file.h"
#include "config/target_context.h"
#include "migrate/texts.h"
#include "platform/clock.h"
#include "platform/code_page.h"
#include "testing/mem_file_system.h"
#include "testing/recording_host.h"

namespace vm {
namespace {

class FixedClock : public Clock {
 public:
  int64_t NowSeconds() const override { return 1700000000; }
};

constexpr char kEmptyDomains[] =
    "<database>\r\n<domain>\r\n</domain>\r\n<domainalias>\r\n</domainalias>"
    "\r\n</database>";
constexpr char kEmptyUsers[] =
    "<database>\r\n<user>\r\n</user>\r\n<useralias>\r\n</useralias>\r\n"
    "</database>";

class MigrationRunTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetSharedConfigStates();
    texts_ = MakeTexts(*OpenCodePage("GBK"));
    for (const char* dir : {"C:\\src", "C:\\src\\mail", "C:\\out"}) {
      ASSERT_TRUE(fs_.CreateDir(dir));
    }
    Write("C:\\out\\domain.cfg", kEmptyDomains);
    Write("C:\\out\\userauth.cfg", kEmptyUsers);
    target_.fs = &fs_;
    target_.clock = &clock_;
    target_.target_dir = "C:\\out";
    settings_.source_dir = "C:\\src";
    settings_.target_mail_dir = "C:\\out\\store";
  }
  void TearDown() override { ResetSharedConfigStates(); }

  void Write(const std::string& path, const std::string& text) {
    ASSERT_TRUE(fs_.WriteFile(path, text, nullptr));
  }
  std::string Read(const std::string& path) {
    std::string text;
    fs_.ReadFile(path, &text, nullptr);
    return text;
  }

  RunOutcome Run() {
    return MigrationRun(&host_, texts_, settings_, &target_, &stats_);
  }

  // The banner and summary lines of a run, around `steps`.
  std::vector<std::string> Framed(const std::vector<std::string>& domain_lines,
                                  const std::vector<std::string>& user_lines,
                                  const std::string& summary) {
    std::vector<std::string> lines = {texts_.separator,
                                      texts_.domain_step_begin};
    lines.insert(lines.end(), domain_lines.begin(), domain_lines.end());
    lines.insert(lines.end(), {texts_.domain_step_end, texts_.separator,
                               texts_.account_step_begin});
    lines.insert(lines.end(), user_lines.begin(), user_lines.end());
    lines.insert(lines.end(), {texts_.account_step_end, texts_.separator,
                               texts_.summary_head, summary});
    return lines;
  }

  std::string Summary(int domains, int users, int mails) {
    return texts_.summary_domains + std::to_string(domains) +
           texts_.summary_users + std::to_string(users) + texts_.summary_mails +
           std::to_string(mails) + " ";
  }

  MemFileSystem fs_;
  FixedClock clock_;
  RecordingHost host_;
  Texts texts_;
  TargetContext target_;
  RunSettings settings_;
  MigrationStats stats_;
};

TEST_F(MigrationRunTest, EmptySourceRunsEveryPhaseAndSucceeds) {
  Write("C:\\src\\domain.ini", "");
  Write("C:\\src\\popusers.ini", "");
  for (bool installed : {true, false}) {
    host_.events.clear();
    settings_.target_installed = installed;
    RunOutcome outcome = Run();
    EXPECT_TRUE(outcome.succeeded);
    EXPECT_EQ(outcome.failure_lines, 0);
    std::vector<std::string> expected = {"caption " + texts_.start_running,
                                         "reset", "disable"};
    for (const std::string& line : Framed({}, {}, Summary(0, 0, 0))) {
      expected.push_back("log " + line);
    }
    expected.insert(expected.end(),
                    {"select 8",
                     "message " + (installed ? texts_.success_installed
                                             : texts_.success_temporary),
                     "enable", "caption " + texts_.start_idle});
    EXPECT_EQ(host_.events, expected);
  }
}

TEST_F(MigrationRunTest, LoadFailureRestoresButtonAndLogsNothing) {
  stats_.user_count = 7;
  RunOutcome outcome = Run();
  EXPECT_FALSE(outcome.loaded);
  EXPECT_FALSE(outcome.succeeded);
  EXPECT_EQ(host_.events, (std::vector<std::string>{
                              "caption " + texts_.start_running, "reset",
                              "disable", "message " + texts_.domain_ini_missing,
                              "enable", "caption " + texts_.start_idle}));
  EXPECT_EQ(stats_.user_count, 7);  // counters of the last run stay
}

TEST_F(MigrationRunTest, MigratesDomainsAccountsAndMail) {
  Write("C:\\src\\domain.ini", "a.com\r\nb.com\r\n");
  Write("C:\\src\\popusers.ini", "Bob\tc\ta.com\r\nann@b.com\tc\tx\tb.com\r\n");
  ASSERT_TRUE(fs_.CreateDir("C:\\src\\mail\\bob"));
  Write("C:\\src\\mail\\bob\\1.in", "hello");
  RunOutcome outcome = Run();
  EXPECT_TRUE(outcome.succeeded);
  EXPECT_EQ(stats_.domain_count, 2);
  EXPECT_EQ(stats_.user_count, 2);
  EXPECT_EQ(stats_.mail_count, 1);
  EXPECT_EQ(target_.primary_domain, "a.com");
  EXPECT_EQ(Read("C:\\out\\store\\bob\\INBOX\\1.in"), "hello");
  EXPECT_TRUE(fs_.Exists("C:\\out\\store\\ann@b.com\\Spam"));

  std::vector<std::string> logged = host_.lines;
  ASSERT_GE(logged.size(), 6u);
  EXPECT_EQ(logged[2], texts_.importing_domain + "a.com");
  EXPECT_EQ(logged[3], texts_.importing_domain + "b.com");
  EXPECT_EQ(logged[7], texts_.importing_account + "bob@a.com");
  EXPECT_EQ(logged[7 + 5], texts_.importing_account + "ann@b.com");
  EXPECT_EQ(logged.back(), Summary(2, 2, 1));

  std::string users = Read("C:\\out\\userauth.cfg");
  EXPECT_NE(users.find("<name>bob</name>\r\n<domain/>"), std::string::npos)
      << users;
  EXPECT_NE(users.find("<name>ann</name>\r\n<domain>b.com</domain>"),
            std::string::npos)
      << users;

  // A second run over the same target adds nothing and copies nothing.
  host_.events.clear();
  outcome = Run();
  EXPECT_TRUE(outcome.succeeded);
  EXPECT_EQ(host_.lines, Framed({}, {}, Summary(0, 0, 0)));
  EXPECT_EQ(Read("C:\\out\\userauth.cfg"), users);
}

TEST_F(MigrationRunTest, UnreadableDomainListSuppressesSuccess) {
  Write("C:\\out\\domain.cfg", "<database><domain>");  // not well-formed
  Write("C:\\src\\domain.ini", "a.com\r\n");
  Write("C:\\src\\popusers.ini", "bob\tc\ta.com\r\n");
  RunOutcome outcome = Run();
  EXPECT_FALSE(outcome.succeeded);
  EXPECT_EQ(outcome.failure_lines, 1);
  EXPECT_EQ(host_.messages,
            std::vector<std::string>{texts_.domain_list_unreadable});
  EXPECT_EQ(host_.lines,
            Framed({texts_.importing_domain + "a.com", texts_.domain_failed},
                   {}, Summary(1, 0, 0)));
  EXPECT_EQ(host_.events.back(), "caption " + texts_.start_idle);
}

TEST_F(MigrationRunTest, FailedCopiesAreCountedAndWithholdSuccess) {
  Write("C:\\src\\domain.ini", "a.com\r\n");
  Write("C:\\src\\popusers.ini", "bob\tc\ta.com\r\n");
  ASSERT_TRUE(fs_.CreateDir("C:\\src\\mail\\bob"));
  Write("C:\\src\\mail\\bob\\1.in", "one");
  Write("C:\\src\\mail\\bob\\2.in", "two");
  fs_.FailPath("C:\\src\\mail\\bob\\2.in");
  RunOutcome outcome = Run();
  EXPECT_FALSE(outcome.succeeded);
  EXPECT_EQ(outcome.failure_lines, 1);
  EXPECT_TRUE(host_.messages.empty());
  EXPECT_EQ(stats_.mail_count, 2);
  EXPECT_EQ(stats_.failed_copies, 1);
  ASSERT_GE(host_.lines.size(), 2u);
  EXPECT_EQ(host_.lines[host_.lines.size() - 2], Summary(1, 1, 2));
  EXPECT_EQ(host_.lines.back(), texts_.copies_failed + "1");
}

// Any failure line withholds the success message, not only failed copies:
// here an account name too long for the target and a refused folder.
TEST_F(MigrationRunTest, FailureLinesWithholdSuccess) {
  Write("C:\\src\\domain.ini", "a.com\r\n");
  Write("C:\\src\\popusers.ini",
        "bob\tc\ta.com\r\n" + std::string(65, 'x') + "\tc\ta.com\r\n");
  ASSERT_TRUE(fs_.CreateDir("C:\\src\\mail\\bob"));
  Write("C:\\src\\mail\\bob\\1.in", "one");
  RunOutcome outcome = Run();
  EXPECT_TRUE(outcome.loaded);
  EXPECT_FALSE(outcome.succeeded);
  EXPECT_EQ(outcome.failure_lines, 1);
  EXPECT_TRUE(host_.messages.empty());
  EXPECT_EQ(stats_.user_count, 1);
  EXPECT_EQ(stats_.mail_count, 1);
}

}  // namespace
}  // namespace vm
