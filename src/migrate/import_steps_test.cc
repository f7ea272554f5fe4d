// The domain and account steps on their own, against the real stores over
// an in-memory installation.

#include <gtest/gtest.h>

#include <string>

#include "config/domain_store.h"
#include "config/user_store.h"
#include "migrate/account_import.h"
#include "migrate/domain_import.h"
#include "migrate/import_steps.h"
#include "migrate/lazy_users.h"
#include "migrate/mailbox_migrator.h"
#include "migrate/run_observer.h"
#include "session/run_record.h"
#include "testing/golden.h"
#include "testing/mem_installation.h"

namespace vm {
namespace {

class ImportStepsTest : public testing::Test {
 protected:
  void RunDomainStep(RunObserver* observer = nullptr) {
    DomainStore store(&t_.context);
    ImportDomains(&store, ImportSteps{&t_.context, &t_.host, t_.texts,
                                      &t_.stats, &failures_, observer});
  }
  bool RunAccountStep(RunObserver* observer = nullptr, bool sync = false) {
    MailboxMigrator::Options options;
    options.source_dir = t_.settings.source_dir;
    options.target_mail_dir = t_.settings.target_mail_dir;
    options.sync = sync;
    MailboxMigrator mailboxes(&t_.fs, &t_.host, t_.texts, options, &t_.stats);
    LazyUsers users(&t_.context);
    return ImportAccounts(&users, &mailboxes,
                          ImportSteps{&t_.context, &t_.host, t_.texts,
                                      &t_.stats, &failures_, observer});
  }
  // Each account of the record as "name outcome/reason key: reason", as
  // the report gives them (UTF-8).
  std::string Outcomes(const RunRecord& record) {
    std::string text;
    for (const AccountRecord& a : record.accounts()) {
      const std::string name = a.user.find('@') == std::string::npos
                                   ? a.user + "@" + a.domain
                                   : a.user;
      const OutcomeReason why = AccountReason(t_.texts, a.outcome, a.reason);
      text += t_.code_page->ToUtf8(name) + " " + OutcomeName(a.outcome) + "/" +
              why.key + ": " + t_.code_page->ToUtf8(why.text) + "\n";
    }
    return text;
  }

  MemInstallation t_;
  int failures_ = 0;
};

TEST_F(ImportStepsTest, DomainStepAddsNewDomainsOnceWithDefaultSettings) {
  t_.Put("domain.cfg",
         "<database>\r\n<domain>\r\n<item>\r\n<domain>old.com</domain>\r\n"
         "<type>1</type>\r\n</item>\r\n</domain>\r\n<domainalias>\r\n<item>"
         "\r\n<aliasdomain>alias.com</aliasdomain>\r\n</item>\r\n"
         "</domainalias>\r\n</database>");
  t_.Domains({"OLD.com", "Alias.COM", "new.com", "new.com"});
  RunDomainStep();
  EXPECT_EQ(t_.context.primary_domain, "old.com");
  EXPECT_EQ(t_.stats.domain_count, 1);
  EXPECT_EQ(failures_, 0);
  EXPECT_EQ(t_.ResultList(), "导入域名:new.com\n");
  EXPECT_EQ(t_.Get("domain.cfg"), Golden("migrate/domain_step.cfg"));
}

// A domain that fails, at once or when its grouped save fails, is not
// counted as migrated, and the observer's last word on it is "failed".
TEST_F(ImportStepsTest, DomainStepFailuresAreLoggedAndCounted) {
  const struct {
    std::string file;
    std::string name;
    bool fail_save;
    std::string lines;
  } kCases[] = {
      {Golden("config/domain_empty.cfg"), "", false,
       "域名不能用作邮箱目录，该域名未导入:\n"},
      {Golden("config/domain_empty.cfg"), "../evil", false,
       "域名不能用作邮箱目录，该域名未导入:../evil\n"},
      {Golden("config/domain_empty.cfg"), "con", false,
       "域名不能用作邮箱目录，该域名未导入:con\n"},
      {Golden("config/domain_empty.cfg"), std::string(65, 'x'), false,
       "导入域名:" + std::string(65, 'x') + "\n该域名转移失败!\n"},
      {"<database>\r\n</database>", "a.com", false,
       "导入域名:a.com\n该域名转移失败!\n"},
      {Golden("config/domain_empty.cfg"), "a.com", true,
       "导入域名:a.com\n该域名未能保存到domain.cfg:a.com（磁盘空间不足）\n"},
  };
  for (const auto& c : kCases) {
    t_.NewRun();
    t_.Put("domain.cfg", c.file);
    t_.Domains({c.name});
    t_.host.lines.clear();
    failures_ = 0;
    if (c.fail_save) t_.fs.FailWritesAfter(0);
    RunRecord record;
    RunDomainStep(&record);
    t_.fs.FailWritesAfter(-1);
    EXPECT_EQ(t_.ResultList(), c.lines);
    EXPECT_EQ(failures_, 1);
    EXPECT_EQ(t_.stats.domain_count, 0) << c.lines;
    ASSERT_EQ(record.domains().size(), 1u);
    EXPECT_EQ(record.domains()[0].outcome, DomainOutcome::kFailed) << c.lines;
    EXPECT_EQ(t_.Get("domain.cfg"), c.file);
  }
}

// Every setting a user takes from its domain has a value of its own in the
// domain's item, so a setting copied from the wrong field shows.
TEST_F(ImportStepsTest, AccountStepCopiesEveryDomainSetting) {
  t_.Put("domain.cfg", Golden("config/domain_every_field.cfg"));
  t_.context.primary_domain = "main.example";
  t_.Domains({"EVERY.example", "missing.example"});
  t_.Accounts(0, {"bob"});
  t_.Accounts(1, {"zed"});
  EXPECT_TRUE(RunAccountStep());
  EXPECT_EQ(t_.stats.user_count, 1);
  EXPECT_EQ(t_.Get("userauth.cfg").find("zed"), std::string::npos);
  // The account takes the source list's spelling of the domain name.
  EXPECT_EQ(t_.Get("userauth.cfg"),
            Golden("migrate/account_step_userauth.cfg"));
  EXPECT_TRUE(t_.fs.Exists("C:\\t\\store\\bob@EVERY.example\\INBOX"));
}

TEST_F(ImportStepsTest, AccountStepSkipsExistingAndNamesFailures) {
  t_.Put("domain.cfg", Golden("migrate/domain_step.cfg"));
  t_.Put("userauth.cfg",
         "<database>\r\n<user>\r\n<item>\r\n<name>old</name>\r\n<domain/>\r\n"
         "</item>\r\n</user>\r\n<useralias>\r\n</useralias>\r\n</database>");
  t_.context.primary_domain = "old.com";
  t_.Domains({"old.com"});
  // The user store refuses a name that is nothing before its "@".
  t_.Accounts(0, {"old", "ann@old.com", "carl", "@x", ""});
  t_.fs.FailPath("C:\\t\\store\\carl");
  t_.fs.FailPath("C:\\t\\store\\.vmtmp.stage.carl");
  RunRecord record;
  EXPECT_TRUE(RunAccountStep(&record));
  EXPECT_EQ(t_.stats.user_count, 1);
  EXPECT_EQ(failures_, 3);
  const std::string folders =
      "         收件箱转移成功 0!\n         发件箱转移成功 0!\n"
      "         草稿箱转移成功 0!\n         垃圾箱转移成功 0!\n";
  const std::string refused = "该账户导入失败或者userauth.cfg文件读取错误！";
  EXPECT_EQ(t_.ResultList(),
            "导入帐户:ann@old.com\n" + folders +
                "无法创建邮箱目录，该帐户未导入:carl@old.com\n" + refused +
                "@x\n" + refused + "@old.com\n");
  // Every account has one last word, with the failure line as its reason.
  EXPECT_EQ(Outcomes(record),
            "old@old.com exists/account_exists: 目标中已有该帐户，未改动\n"
            "ann@old.com added/: \n"
            "carl@old.com failed/mailbox_not_created: "
            "无法创建邮箱目录，该帐户未导入:carl@old.com\n"
            "@x refused/account_not_added: " +
                refused + "@x\n@old.com refused/account_not_added: " + refused +
                "@old.com\n");
  // The source mailbox is found under the full name, the target one takes
  // the local part; an account without a mailbox is left for a later run.
  EXPECT_TRUE(t_.fs.Exists("C:\\t\\store\\ann\\INBOX"));
  EXPECT_EQ(t_.Get("userauth.cfg").find("<name>carl</name>"),
            std::string::npos);

  // Without a user list every addition fails, and no mailbox is made.
  t_.NewRun();
  t_.Put("userauth.cfg", "<database>\r\n</database>");
  t_.Domains({"old.com"});
  t_.Accounts(0, {"dan"});
  t_.host.lines.clear();
  RunRecord no_list;
  RunAccountStep(&no_list);
  EXPECT_EQ(t_.ResultList(), refused + "\n");
  EXPECT_EQ(Outcomes(no_list),
            "dan@old.com failed/account_not_added: " + refused + "\n");
  EXPECT_FALSE(t_.fs.Exists("C:\\t\\store\\dan"));

  // A grouped save that fails after its accounts were added (a full disk,
  // or the file's lock not had once they were added): the last word on
  // each is the failure, naming it and why, and they are not counted.
  struct LockLost : RunObserver {
    void OnAccountBegin(const std::string&, const std::string&,
                        const std::string&) override {
      if (t != nullptr)
        t->states->For("userauth.cfg").named_lock.InterruptWaits();
    }
    MemTarget* t = nullptr;
  };
  for (const bool lock_lost : {false, true}) {
    t_.NewRun();
    t_.Put("userauth.cfg", Golden("config/userauth_empty.cfg"));
    t_.Domains({"old.com"});
    t_.Accounts(0, {"eve", "fay"});
    t_.host.lines.clear();
    t_.fs.FailWritesAfter(lock_lost ? -1 : 0);
    LockLost fault;
    if (lock_lost) fault.t = &t_;
    RunRecord unsaved(&fault);
    RunAccountStep(&unsaved);
    t_.fs.FailWritesAfter(-1);
    EXPECT_EQ(t_.stats.user_count, 0);
    const std::string why =
        lock_lost ? "（等待配置文件锁超时）\n" : "（磁盘空间不足）\n";
    const std::string unsaved_line = "该帐户未能保存到userauth.cfg:";
    EXPECT_EQ(t_.ResultList(), "导入帐户:eve@old.com\n" + folders +
                                   "导入帐户:fay@old.com\n" + folders +
                                   unsaved_line + "eve@old.com" + why +
                                   unsaved_line + "fay@old.com" + why);
    EXPECT_EQ(Outcomes(unsaved),
              "eve@old.com failed/account_not_saved: " + unsaved_line +
                  "eve@old.com" + why +
                  "fay@old.com failed/account_not_saved: " + unsaved_line +
                  "fay@old.com" + why);
  }

  // Without a domain list nothing is added.
  t_.Put("domain.cfg", "<database>\r\n</database>");
  t_.NewRun();
  EXPECT_FALSE(RunAccountStep());
  EXPECT_EQ(t_.host.messages.back(), t_.code_page->ToAnsi("读取域信息出错！"));
}

// Another writer (a second run) adds some accounts between this step's
// check and its save: the save leaves them as they are, and the step
// counts them as existing, says so, and the record takes that last word.
TEST_F(ImportStepsTest, AccountStepCountsAccountsAddedMeanwhileAsExisting) {
  struct OtherWriter : RunObserver {
    void OnAccountBegin(const std::string& user, const std::string&,
                        const std::string&) override {
      if (user == "ann") return;
      std::string text = t->Get("userauth.cfg");
      text.insert(text.find("</user>"), "<item>\r\n<name>" + user +
                                            "</name>\r\n<domain/>\r\n"
                                            "</item>\r\n");
      t->Put("userauth.cfg", text);
    }
    MemInstallation* t;
  } other;
  other.t = &t_;
  RunRecord record(&other);
  t_.Put("domain.cfg", Golden("migrate/domain_step.cfg"));
  t_.context.primary_domain = "old.com";
  t_.Domains({"old.com"});
  t_.Accounts(0, {"bob", "ann", "cy", "dan"});
  // dan's mail fails: that word stays.
  t_.PutSource("mail\\dan\\1.in", "one");
  t_.fs.FailPath("C:\\src\\mail\\dan\\1.in");
  EXPECT_EQ(RunAccountStep(&record), 1);
  EXPECT_EQ(t_.stats.user_count, 1);
  EXPECT_EQ(failures_, 0);
  const std::string kLine = "该帐户已由其他程序添加，本次未导入:";
  EXPECT_EQ(Outcomes(record), "bob@old.com exists/added_by_other: " + kLine +
                                  "bob@old.com\nann@old.com added/: \n"
                                  "cy@old.com exists/added_by_other: " +
                                  kLine +
                                  "cy@old.com\n"
                                  "dan@old.com failed/copies_failed: "
                                  "复制失败的邮件数:1\n");
  const std::string list = t_.ResultList();
  for (const char* user : {"bob", "cy", "dan"}) {
    EXPECT_NE(list.find(kLine + user + "@old.com\n"), std::string::npos)
        << list;
  }
  const std::string file = t_.Get("userauth.cfg");
  for (const char* name : {"<name>ann<", "<name>bob<", "<name>cy<"}) {
    const size_t at = file.find(name);
    EXPECT_NE(at, std::string::npos) << name;
    EXPECT_EQ(file.find(name, at + 1), std::string::npos) << name;
  }
}

// A run killed after an account was saved but before its mail was copied
// leaves the pending mark; the next run finishes that mailbox (replacing a
// copy cut short), and leaves other existing accounts' mailboxes alone. A
// mark without the account (killed before the save) adds the account.
TEST_F(ImportStepsTest, AccountStepFinishesMailboxOfInterruptedRun) {
  t_.Put("domain.cfg", Golden("migrate/domain_step.cfg"));
  t_.context.primary_domain = "old.com";
  t_.Domains({"old.com"});
  t_.Accounts(0, {"bob", "carl"});
  for (const char* user : {"bob", "carl"}) {
    for (const char* name : {"1.in", "2.in", "3.in"}) {
      t_.PutSource(std::string("mail\\") + user + "\\" + name,
                   std::string(name) + " message");
    }
  }
  ASSERT_TRUE(RunAccountStep());
  ASSERT_EQ(t_.stats.user_count, 2);
  EXPECT_FALSE(t_.fs.Exists("C:\\t\\store\\bob\\velquor-migrate.pending"));

  // The kill inside bob's mailbox: the mark is back, one message is
  // missing, one was cut short, one is another message of the same name.
  const std::string bob = "C:\\t\\store\\bob\\";
  ASSERT_TRUE(t_.fs.WriteFile(bob + "velquor-migrate.pending", "", nullptr));
  ASSERT_TRUE(t_.fs.RemoveFile(bob + "INBOX\\1.in", nullptr));
  ASSERT_TRUE(t_.fs.WriteFile(bob + "INBOX\\2.in", "2.in", nullptr));
  ASSERT_TRUE(t_.fs.WriteFile(bob + "INBOX\\3.in", "other text", nullptr));
  ASSERT_TRUE(t_.fs.RemoveFile("C:\\t\\store\\carl\\INBOX\\1.in", nullptr));
  // dan was marked, then the run was killed before his account was saved.
  t_.Accounts(0, {"dan"});
  t_.fs.CreateDir("C:\\t\\store\\dan", nullptr);
  ASSERT_TRUE(t_.fs.WriteFile("C:\\t\\store\\dan\\velquor-migrate.pending", "",
                              nullptr));
  t_.stats = MigrationStats();
  ASSERT_TRUE(RunAccountStep());
  EXPECT_EQ(t_.stats.user_count, 2);     // dan added, bob finished
  EXPECT_EQ(t_.stats.mail_count, 2);     // 1.in and 2.in; 3.in is no copy
  EXPECT_EQ(t_.stats.failed_copies, 1);  // 3.in, kept as it is
  EXPECT_EQ(t_.Read(bob + "INBOX\\1.in"), "1.in message");
  EXPECT_EQ(t_.Read(bob + "INBOX\\2.in"), "2.in message");
  EXPECT_EQ(t_.Read(bob + "INBOX\\3.in"), "other text");
  EXPECT_FALSE(t_.fs.Exists(bob + "velquor-migrate.pending"));
  EXPECT_FALSE(t_.fs.Exists("C:\\t\\store\\carl\\INBOX\\1.in"));
  EXPECT_FALSE(t_.fs.Exists("C:\\t\\store\\dan\\velquor-migrate.pending"));
  UserStore users(&t_.context);
  for (const char* user : {"bob", "carl", "dan"}) {
    EXPECT_TRUE(users.UserExists(user, "")) << user;
  }
}

// A sync marks each existing account before it copies, so that one cut
// short is finished by the next run, as a sync: not counted as imported.
TEST_F(ImportStepsTest, InterruptedSyncIsFinishedAsASync) {
  t_.Put("domain.cfg", Golden("migrate/domain_step.cfg"));
  t_.context.primary_domain = "old.com";
  t_.Domains({"old.com"});
  t_.Accounts(0, {"bob", "carl"});
  t_.PutSource("mail\\bob\\1.in", "one");
  ASSERT_TRUE(RunAccountStep());
  t_.PutSource("mail\\bob\\2.in", "two");
  t_.fs.FailPath("C:\\src\\mail\\bob\\2.in");
  ASSERT_TRUE(RunAccountStep(nullptr, true));
  const std::string mark = "\\velquor-migrate.pending";
  EXPECT_EQ(t_.Read("C:\\t\\store\\bob" + mark), "sync");  // a copy failed
  EXPECT_FALSE(t_.fs.Exists("C:\\t\\store\\carl" + mark));
  // carl's sync was killed after its mark was made.
  t_.PutSource("mail\\carl\\3.in", "three");
  ASSERT_TRUE(t_.fs.WriteFile("C:\\t\\store\\carl" + mark, "sync", nullptr));
  t_.stats = MigrationStats();
  ASSERT_TRUE(RunAccountStep());
  EXPECT_EQ(t_.stats.user_count, 0);
  EXPECT_EQ(t_.Store("carl\\INBOX\\3.in"), "three");
  EXPECT_NE(t_.ResultList().find("同步帐户:carl@old.com\n"), std::string::npos)
      << t_.ResultList();
}

}  // namespace
}  // namespace vm
