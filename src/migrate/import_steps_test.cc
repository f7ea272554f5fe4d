// Tests of the domain and account steps on their own, against the real
// stores over an in-memory target.

#include <gtest/gtest.h>

#include "config/config_file.h"
#include "config/domain_store.h"
#include "config/target_context.h"
#include "config/user_store.h"
#include "migrate/account_import.h"
#include "migrate/domain_import.h"
#include "migrate/mailbox_migrator.h"
#include "migrate/texts.h"
#include "platform/clock.h"
#include "platform/code_page.h"
#include "testing/mem_file_system.h"
#include "testing/recording_host.h"

namespace vm {
namespace {

class StepClock : public Clock {
 public:
  int64_t NowSeconds() const override { return 1700000000; }
};

std::string DomainsFile(const std::string& items, const std::string& aliases) {
  return "<database>\r\n<domain>\r\n" + items +
         "</domain>\r\n<domainalias>\r\n" + aliases +
         "</domainalias>\r\n</database>";
}

std::string DomainItem(const std::string& name, int type) {
  return "<item>\r\n<domain>" + name + "</domain>\r\n<type>" +
         std::to_string(type) + "</type>\r\n</item>\r\n";
}

std::string AliasItem(const std::string& name) {
  return "<item>\r\n<aliasdomain>" + name + "</aliasdomain>\r\n</item>\r\n";
}

class ImportStepsTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetSharedConfigStates();
    texts_ = MakeTexts(*OpenCodePage("GBK"));
    fs_.CreateDir("C:\\t");
    fs_.CreateDir("C:\\src");
    target_.fs = &fs_;
    target_.clock = &clock_;
    target_.target_dir = "C:\\t";
    Put("userauth.cfg",
        "<database>\r\n<user>\r\n</user>\r\n<useralias>\r\n</useralias>\r\n"
        "</database>");
  }
  void TearDown() override { ResetSharedConfigStates(); }

  void Put(const std::string& name, const std::string& text) {
    ASSERT_TRUE(fs_.WriteFile("C:\\t\\" + name, text, nullptr));
  }
  std::string Get(const std::string& name) {
    std::string text;
    fs_.ReadFile("C:\\t\\" + name, &text, nullptr);
    return text;
  }
  void Source(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
      host_.domains.push_back(SourceDomain{name, {}});
    }
  }
  int RunDomainStep() {
    DomainStore store(&target_);
    return ImportDomains(&store, &target_, &host_, texts_, &stats_, &failures_);
  }
  int RunAccountStep() {
    MailboxMigrator::Options options;
    options.source_dir = "C:\\src";
    options.target_mail_dir = "C:\\t\\store";
    MailboxMigrator mailboxes(&fs_, &host_, texts_, options, &stats_);
    UserStore users(&target_);
    return ImportAccounts(&users, &target_, &host_, texts_, &mailboxes, &stats_,
                          &failures_);
  }

  MemFileSystem fs_;
  StepClock clock_;
  TargetContext target_;
  RecordingHost host_;
  Texts texts_;
  MigrationStats stats_;
  int failures_ = 0;
};

TEST_F(ImportStepsTest, DomainStepSkipsKnownNamesAndKeepsPrimary) {
  Put("domain.cfg",
      DomainsFile(DomainItem("old.com", 1) + DomainItem("second.com", 0),
                  AliasItem("alias.com")));
  Source({"OLD.com", "Alias.COM", "new.com", "new.com", "other.com"});
  stats_.domain_count = 99;
  EXPECT_EQ(RunDomainStep(), 1);
  EXPECT_EQ(target_.primary_domain, "old.com");
  EXPECT_EQ(stats_.domain_count, 2);
  EXPECT_EQ(failures_, 0);
  EXPECT_EQ(host_.events,
            (std::vector<std::string>{
                "log " + texts_.importing_domain + "new.com", "select 0",
                "log " + texts_.importing_domain + "other.com", "select 1"}));
  std::string file = Get("domain.cfg");
  EXPECT_NE(file.find("<domain>new.com</domain>\r\n<type>0</type>\r\n"
                      "<maxmailboxquota>20971520</maxmailboxquota>"),
            std::string::npos)
      << file;
  EXPECT_EQ(file.find("<domain>new.com</domain>", file.find("new.com") + 1),
            std::string::npos);  // added once
}

TEST_F(ImportStepsTest, DomainStepFailuresAreLoggedAndCounted) {
  struct Case {
    std::string file;
    std::vector<std::string> names;
    std::vector<std::string> lines;
    std::string primary;
  } cases[] = {
      // An empty name cannot be added; the primary domain stays unset.
      {DomainsFile("", ""),
       {""},
       {texts_.importing_domain, texts_.domain_failed},
       ""},
      // A name longer than the record's field is refused, not cut.
      {DomainsFile("", ""),
       {std::string(65, 'x')},
       {texts_.importing_domain + std::string(65, 'x'), texts_.domain_failed},
       ""},
      // Without a domain list every name fails.
      {"<database>\r\n</database>",
       {"a.com", "b.com"},
       {texts_.importing_domain + "a.com", texts_.domain_failed,
        texts_.importing_domain + "b.com", texts_.domain_failed},
       "a.com"},
  };
  for (const Case& c : cases) {
    ResetSharedConfigStates();
    Put("domain.cfg", c.file);
    host_.domains.clear();
    host_.lines.clear();
    Source(c.names);
    target_.primary_domain.clear();
    failures_ = 0;
    RunDomainStep();
    EXPECT_EQ(host_.lines, c.lines);
    EXPECT_EQ(stats_.domain_count, static_cast<int>(c.names.size()));
    EXPECT_EQ(failures_, static_cast<int>(c.names.size()));
    EXPECT_EQ(target_.primary_domain, c.primary);
    EXPECT_EQ(Get("domain.cfg"), c.file);
  }
}

TEST_F(ImportStepsTest, AccountStepCopiesDomainSettingsAndSkipsExisting) {
  Put("domain.cfg",
      DomainsFile("<item>\r\n<domain>a.com</domain>\r\n<type>1</type>\r\n"
                  "<maxmailboxquota>9000000000</maxmailboxquota>\r\n"
                  "<pop3control>1</pop3control>\r\n<chgpassword>1"
                  "</chgpassword>\r\n</item>\r\n",
                  ""));
  Put("userauth.cfg",
      "<database>\r\n<user>\r\n<item>\r\n<name>old</name>\r\n<domain/>\r\n"
      "</item>\r\n</user>\r\n<useralias>\r\n</useralias>\r\n</database>");
  target_.primary_domain = "a.com";
  Source({"A.COM", "missing.com"});
  host_.domains[0].accounts = {{"bob", "x", "{md5}1"},
                               {"old", "x", "{md5}2"},
                               {"ann@a.com", "x", "{md5}3"}};
  host_.domains[1].accounts = {{"zed", "missing.com", "{md5}4"}};
  stats_.mail_count = 5;
  EXPECT_EQ(RunAccountStep(), 1);
  EXPECT_EQ(stats_.user_count, 2);
  EXPECT_EQ(stats_.mail_count, 0);
  EXPECT_EQ(failures_, 0);
  // The account takes the source domain's name as the list gives it.
  EXPECT_EQ(host_.domains[0].accounts[0].domain, "A.COM");
  std::vector<std::string> logged = host_.lines;
  ASSERT_EQ(logged.size(), 10u);
  EXPECT_EQ(logged[0], texts_.importing_account + "bob@A.COM");
  EXPECT_EQ(logged[5], texts_.importing_account + "ann@a.com");
  std::string users = Get("userauth.cfg");
  EXPECT_NE(users.find("<name>bob</name>\r\n<domain/>\r\n<password>{md5}1"
                       "</password>\r\n<mailquota>9000000000</mailquota>\r\n"
                       "<mailtotallimit>0</mailtotallimit>\r\n"
                       "<netstorequota>0</netstorequota>\r\n"
                       "<netstoretotallimit>0</netstoretotallimit>\r\n"
                       "<pop3control>1</pop3control>\r\n"
                       "<chgpassword>1</chgpassword>\r\n"
                       "<lastchgpwdtime>1700000000</lastchgpwdtime>\r\n"),
            std::string::npos)
      << users;
  EXPECT_EQ(users.find("zed"), std::string::npos);
  // The mailbox name compares the domain with the primary one exactly.
  EXPECT_TRUE(fs_.Exists("C:\\t\\store\\bob@A.COM\\INBOX"));
  // The source mailbox is found under the full name, the target one takes
  // the local part: "ann@a.com" of "A.COM" is "ann@A.COM".
  EXPECT_TRUE(fs_.Exists("C:\\t\\store\\ann@A.COM\\INBOX"));
  EXPECT_FALSE(fs_.Exists("C:\\t\\store\\ann"));
}

TEST_F(ImportStepsTest, AccountStepReportsUnreadableDomainList) {
  Put("domain.cfg", "<database>\r\n</database>");
  Source({"a.com"});
  host_.domains[0].accounts = {{"bob", "a.com", "{md5}1"}};
  EXPECT_EQ(RunAccountStep(), 0);
  EXPECT_EQ(host_.events, std::vector<std::string>{
                              "message " + texts_.domain_list_unreadable});
}

TEST_F(ImportStepsTest, AccountStepLogsFailedAdditions) {
  Put("domain.cfg", DomainsFile(DomainItem("a.com", 1), ""));
  Put("userauth.cfg", "<database>\r\n</database>");  // no user list
  Source({"a.com"});
  host_.domains[0].accounts = {{"bob", "a.com", "{md5}1"},
                               {"", "a.com", "{md5}2"}};
  EXPECT_EQ(RunAccountStep(), 1);
  EXPECT_EQ(host_.events, (std::vector<std::string>{
                              "log " + texts_.account_failed, "select 0",
                              "log " + texts_.account_failed, "select 1"}));
  EXPECT_EQ(failures_, 2);
  EXPECT_EQ(stats_.user_count, 0);
  // The mailbox was marked before the attempt; with no user written the
  // mark is gone again and no mail was copied.
  std::vector<DirEntry> left;
  fs_.List("C:\\t\\store\\bob\\*", &left);
  EXPECT_TRUE(left.empty());
}

// A run killed after an account was saved but before its mail was copied
// leaves the pending mark; the next run finishes that mailbox (replacing a
// copy cut short), and leaves other existing accounts' mailboxes alone.
TEST_F(ImportStepsTest, AccountStepFinishesMailboxOfInterruptedRun) {
  Put("domain.cfg", DomainsFile(DomainItem("a.com", 1), ""));
  Source({"a.com"});
  target_.primary_domain = "a.com";
  host_.domains[0].accounts = {{"bob", "a.com", "{md5}1"},
                               {"carl", "a.com", "{md5}2"}};
  for (const char* user : {"bob", "carl"}) {
    std::string box = std::string("C:\\src\\mail\\") + user;
    fs_.CreateDir("C:\\src\\mail");
    fs_.CreateDir(box);
    ASSERT_TRUE(fs_.WriteFile(box + "\\1.in", "first message", nullptr));
    ASSERT_TRUE(fs_.WriteFile(box + "\\2.in", "second message", nullptr));
    ASSERT_TRUE(fs_.WriteFile(box + "\\3.in", "third message", nullptr));
  }
  // First run: both accounts migrate completely and no mark is left.
  ASSERT_EQ(RunAccountStep(), 1);
  ASSERT_EQ(stats_.user_count, 2);
  EXPECT_FALSE(fs_.Exists("C:\\t\\store\\bob\\velquor-migrate.pending"));
  const std::string users_after_first = Get("userauth.cfg");

  // Simulate the kill inside bob's mailbox: the mark is back, one message
  // is missing, one was cut short, one is another message of the same name
  // that must be kept.
  ASSERT_TRUE(
      fs_.WriteFile("C:\\t\\store\\bob\\velquor-migrate.pending", "", nullptr));
  ASSERT_TRUE(fs_.RemoveFile("C:\\t\\store\\bob\\INBOX\\1.in"));
  ASSERT_TRUE(
      fs_.WriteFile("C:\\t\\store\\bob\\INBOX\\2.in", "second", nullptr));
  ASSERT_TRUE(
      fs_.WriteFile("C:\\t\\store\\bob\\INBOX\\3.in", "other text", nullptr));
  // carl, complete and unmarked, loses a message: not a resumed mailbox,
  // so nothing is copied into it.
  ASSERT_TRUE(fs_.RemoveFile("C:\\t\\store\\carl\\INBOX\\1.in"));

  host_.lines.clear();
  host_.events.clear();
  stats_ = MigrationStats();
  ASSERT_EQ(RunAccountStep(), 1);
  EXPECT_EQ(Get("userauth.cfg"), users_after_first);  // nobody added twice
  EXPECT_EQ(stats_.user_count, 0);
  EXPECT_EQ(stats_.mail_count, 3);
  EXPECT_EQ(stats_.failed_copies, 0);
  auto read = [this](const std::string& path) {
    std::string text;
    fs_.ReadFile(path, &text, nullptr);
    return text;
  };
  EXPECT_EQ(read("C:\\t\\store\\bob\\INBOX\\1.in"), "first message");
  EXPECT_EQ(read("C:\\t\\store\\bob\\INBOX\\2.in"), "second message");
  EXPECT_EQ(read("C:\\t\\store\\bob\\INBOX\\3.in"), "other text");
  EXPECT_FALSE(fs_.Exists("C:\\t\\store\\bob\\velquor-migrate.pending"));
  EXPECT_FALSE(fs_.Exists("C:\\t\\store\\carl\\INBOX\\1.in"));
  EXPECT_EQ(host_.lines.front(), texts_.importing_account + "bob@a.com");
}

// A kill between writing the mark and saving the account: the next run adds
// the account as usual and clears the mark.
TEST_F(ImportStepsTest, AccountStepAddsMarkedAccountMissingFromList) {
  Put("domain.cfg", DomainsFile(DomainItem("a.com", 1), ""));
  Source({"a.com"});
  target_.primary_domain = "a.com";
  host_.domains[0].accounts = {{"bob", "a.com", "{md5}1"}};
  fs_.CreateDir("C:\\t\\store");
  fs_.CreateDir("C:\\t\\store\\bob");
  ASSERT_TRUE(
      fs_.WriteFile("C:\\t\\store\\bob\\velquor-migrate.pending", "", nullptr));
  ASSERT_EQ(RunAccountStep(), 1);
  EXPECT_EQ(stats_.user_count, 1);
  EXPECT_NE(Get("userauth.cfg").find("<name>bob</name>"), std::string::npos);
  EXPECT_FALSE(fs_.Exists("C:\\t\\store\\bob\\velquor-migrate.pending"));
}

// An account whose mailbox cannot be made is not added: a later run adds
// it with its mail, where an added account would never get its mail.
TEST_F(ImportStepsTest, AccountStepLeavesAccountWithoutMailboxForLater) {
  Put("domain.cfg", DomainsFile(DomainItem("a.com", 1), ""));
  Source({"a.com"});
  target_.primary_domain = "a.com";
  host_.domains[0].accounts = {{"bob", "a.com", "{md5}1"},
                               {"carl", "a.com", "{md5}2"}};
  fs_.FailPath("C:\\t\\store\\bob");
  ASSERT_EQ(RunAccountStep(), 1);
  EXPECT_EQ(stats_.user_count, 1);
  EXPECT_EQ(failures_, 1);
  EXPECT_EQ(host_.lines.front(), texts_.mailbox_not_created + "bob@a.com");
  EXPECT_EQ(Get("userauth.cfg").find("<name>bob</name>"), std::string::npos);
  EXPECT_NE(Get("userauth.cfg").find("<name>carl</name>"), std::string::npos);
}

}  // namespace
}  // namespace vm
