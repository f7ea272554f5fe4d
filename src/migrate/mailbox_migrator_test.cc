#include "migrate/mailbox_migrator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <set>

#include "platform/helpers/file_system_wrapper.h"
#include "testing/fault_injection_file_system.h"
#include "testing/mem_installation.h"

namespace vm {
namespace {

std::string IndexLine(const std::string& name, const std::string& flag) {
  return name + "\f\ta\f\tb\f\tc\f\t1\f\t0\f\tN\f\t" + flag + "\f\tx\r\n";
}

// The done lines of the four standard folders with their counts.
std::string Standard(int in, int sent, int draft, int trash) {
  const std::string indent(9, ' ');
  return indent + "收件箱转移成功 " + std::to_string(in) + "!\n" + indent +
         "发件箱转移成功 " + std::to_string(sent) + "!\n" + indent +
         "草稿箱转移成功 " + std::to_string(draft) + "!\n" + indent +
         "垃圾箱转移成功 " + std::to_string(trash) + "!\n";
}

class MailboxMigratorTest : public testing::Test {
 protected:
  bool Migrate(const std::string& user, const std::string& domain,
               const std::string& primary = "example.com", bool sync = false,
               FileSystem* fs = nullptr) {
    MailboxMigrator::Options options;
    options.source_dir = t_.settings.source_dir;
    options.target_mail_dir = t_.settings.target_mail_dir;
    options.sync = sync;
    MailboxMigrator migrator(fs != nullptr ? fs : &t_.fs, &t_.host, t_.texts,
                             options, &t_.stats);
    const bool ok =
        migrator.MigrateMailbox(SourceAccount{user, domain, ""}, primary);
    failure_lines_ = migrator.failure_lines();
    return ok;
  }

  MemInstallation t_;
  int failure_lines_ = 0;
};

TEST_F(MailboxMigratorTest, EmptyMailboxShowsEachFolderInProgressThenDone) {
  ASSERT_TRUE(Migrate("bob", "example.com"));
  EXPECT_EQ(t_.ResultList(), Standard(0, 0, 0, 0));
  EXPECT_EQ(t_.Events().rfind(
                "log          收件箱转移进行中...\nremove\nlog          "
                "收件箱转移成功 0!\n"
                "select 0\n",
                0),
            0u);
  for (const char* folder : {"INBOX", "Sent", "Draft", "Trash", "Spam"}) {
    EXPECT_TRUE(t_.fs.Exists(std::string("C:\\t\\store\\bob\\") + folder));
  }
}

TEST_F(MailboxMigratorTest, TargetBoxComparesTheDomainWithPrimaryIgnoringCase) {
  const struct {
    std::string user, domain, box;
  } kCases[] = {
      {"bob", "example.com", "bob"},
      {"ann@example.com", "example.com", "ann"},
      {"cy", "other.org", "cy@other.org"},
      {"eve", "Example.com", "eve"},
  };
  for (const auto& c : kCases) {
    t_.PutSource("mail\\" + c.user + "\\1.in", "m");
    Migrate(c.user, c.domain);
    EXPECT_EQ(t_.Store(c.box + "\\INBOX\\1.in"), "m") << c.user;
  }
}

// "1.in" is contained in the line about "11.in" and takes its flag; the
// flag field reads like atoi, so "01" is 1.
TEST_F(MailboxMigratorTest, IndexFlagGivesSizedName) {
  t_.PutSource("mail\\bob\\12.in", std::string(2048, 'x'));
  t_.PutSource("mail\\bob\\1.in", "one");
  t_.PutSource("mail\\bob\\3.in", "three");
  t_.PutSource("mail\\bob\\5.sed", "five");
  t_.PutSource("mail\\bob\\__r_in.ini",
               IndexLine("11.in", "1") + IndexLine("12.in", "1") +
                   IndexLine("3.in", "2") + IndexLine("1.in", "0"));
  t_.PutSource("mail\\bob\\__r_sed.ini", IndexLine("5.sed", "01"));
  Migrate("bob", "example.com");
  EXPECT_EQ(t_.Store("bob\\INBOX\\12.in,S=2048.0.S").size(), 2048u);
  EXPECT_EQ(t_.Store("bob\\INBOX\\1.in,S=3.0.S"), "one");
  EXPECT_EQ(t_.Store("bob\\INBOX\\3.in"), "three");
  EXPECT_EQ(t_.Store("bob\\Sent\\5.sed,S=4.0.S"), "five");
  EXPECT_FALSE(t_.fs.Exists("C:\\t\\store\\bob\\INBOX\\__r_in.ini"));
  EXPECT_EQ(t_.stats.mail_count, 4);
  EXPECT_EQ(t_.ResultList(), Standard(3, 1, 0, 0));
}

// Messages refused for their names take no flag of the index: each later
// message keeps its own.
TEST_F(MailboxMigratorTest, RefusedNamesDoNotShiftTheFlagsOfLaterMessages) {
  t_.PutSource("mail\\bob\\1.in", "one");
  t_.PutSource("mail\\bob\\2:x.in", "refused");
  t_.PutSource("mail\\bob\\3.in", "three");
  t_.PutSource("mail\\bob\\4<.in", "refused");
  t_.PutSource("mail\\bob\\5.in", "five");
  t_.PutSource("mail\\bob\\__r_in.ini",
               IndexLine("1.in", "1") + IndexLine("2:x.in", "1") +
                   IndexLine("3.in", "0") + IndexLine("4<.in", "0") +
                   IndexLine("5.in", "1"));
  Migrate("bob", "example.com");
  EXPECT_EQ(t_.Store("bob\\INBOX\\1.in,S=3.0.S"), "one");
  EXPECT_EQ(t_.Store("bob\\INBOX\\3.in"), "three");
  EXPECT_EQ(t_.Store("bob\\INBOX\\5.in,S=4.0.S"), "five");
  EXPECT_EQ(t_.stats.failed_copies, 2);
}

TEST_F(MailboxMigratorTest, UserFoldersKeepTheirNumbersAndRefuseUnsafeNames) {
  t_.PutSource("mail\\bob\\Folders.ini",
               "Work\t0\t0\r\n"    // 0
               "..\\..\\evil\r\n"  // 1: refused, keeps its number
               "\r\n"              // 2: blank without messages: skipped
               "Private\r\n"       // 3: no TAB, taken whole
               "\t1\r\n");         // 4: blank, but messages carry its number
  t_.PutSource("mail\\bob\\a.0", "work");
  t_.PutSource("mail\\bob\\b.1", "evil");
  t_.PutSource("mail\\bob\\c.3", "private");
  t_.PutSource("mail\\bob\\d.4", "lost");
  t_.PutSource("mail\\bob\\sub.0\\d.0", "a directory is not a message");
  t_.PutSource("mail\\bob\\__r_3.ini", IndexLine("c.3", "1"));
  Migrate("bob", "example.com");
  EXPECT_EQ(t_.Store("bob\\Work\\a.0"), "work");
  EXPECT_EQ(t_.Store("bob\\Private\\c.3,S=7.0.S"), "private");
  EXPECT_FALSE(t_.fs.Exists("C:\\evil"));
  EXPECT_FALSE(t_.fs.Exists("C:\\t\\evil"));
  EXPECT_FALSE(t_.fs.Exists("C:\\t\\store\\bob\\Work\\sub.0"));
  EXPECT_EQ(t_.stats.mail_count, 2);
  EXPECT_EQ(failure_lines_, 2);
  const std::string indent(9, ' ');
  EXPECT_EQ(t_.ResultList(),
            Standard(0, 0, 0, 0) + indent + "Work文件夹转移成功!\n" + indent +
                "文件夹名称不能用作目录，未转移:..\\..\\evil\n" + indent +
                "Private文件夹转移成功!\n" + indent +
                "文件夹名称不能用作目录，未转移:\n");
}

TEST_F(MailboxMigratorTest, ExistingTargetCountsButFailedCopyIsReported) {
  t_.PutSource("mail\\bob\\1.in", "new");
  t_.PutSource("mail\\bob\\2.in", "two");
  for (const char* dir :
       {"C:\\t\\store", "C:\\t\\store\\bob", "C:\\t\\store\\bob\\INBOX"}) {
    ASSERT_TRUE(t_.fs.CreateDir(dir, nullptr));
  }
  ASSERT_TRUE(
      t_.fs.WriteFile("C:\\t\\store\\bob\\INBOX\\1.in", "old", nullptr));
  t_.fs.FailPath("C:\\t\\store\\bob\\INBOX\\2.in");
  Migrate("bob", "example.com");
  EXPECT_EQ(t_.Store("bob\\INBOX\\1.in"), "old");
  // Neither the message found there nor the failed copy was copied.
  EXPECT_EQ(t_.stats.mail_count, 0);
  EXPECT_EQ(t_.stats.already_present, 1);
  EXPECT_EQ(t_.stats.failed_copies, 1);
  EXPECT_EQ(failure_lines_, 1);
  // The done line replaces the in-progress line; the failure follows it.
  ASSERT_GE(t_.host.lines.size(), 2u);
  EXPECT_EQ(t_.code_page->ToUtf8(t_.host.lines[1])
                .rfind("         邮件复制失败:C:\\src\\mail\\bob\\2.in", 0),
            0u)
      << t_.ResultList();
  EXPECT_EQ(t_.code_page->ToUtf8(t_.host.lines[0]),
            "         收件箱复制 0 封，失败 1 封");
}

// Failures reach a folder in the order its copies finish; its lines keep
// the order of its messages, or the list would differ from run to run.
// Copies go to the workers eight to a batch: the copy of the first message
// (first batch) is held until the last one (second batch, on another of the
// four workers) has failed, and a name refused on the listing thread comes
// between them.
TEST_F(MailboxMigratorTest, FailureLinesKeepMessageOrderWhateverFinishesFirst) {
  class LastCopyFirst : public FileSystemWrapper {
   public:
    using FileSystemWrapper::FileSystemWrapper;
    CopyResult CopyNew(const std::string& from, const std::string& to,
                       std::string* error) override {
      // A bounded wait: a copier that put both copies on one thread, or a
      // lost wake-up, fails here instead of stalling the suite.
      if (from.ends_with("m00.in")) {
        EXPECT_EQ(last_failed_.wait_for(std::chrono::seconds(30)),
                  std::future_status::ready);
      }
      const CopyResult result = FileSystemWrapper::CopyNew(from, to, error);
      if (from.ends_with("m09.in")) failed_.set_value();
      return result;
    }

   private:
    // A future rather than a latch, whose wait has no bound: with a latch
    // this test was seen to hang under Wine.
    std::promise<void> failed_;
    std::shared_future<void> last_failed_ = failed_.get_future().share();
  };
  for (int m = 0; m < 10; ++m) {
    t_.PutSource("mail\\bob\\m0" + std::to_string(m) + ".in", "m");
  }
  t_.PutSource("mail\\bob\\m05<.in", "refused");
  t_.fs.FailPath("C:\\src\\mail\\bob\\m00.in");
  t_.fs.FailPath("C:\\src\\mail\\bob\\m09.in");
  LastCopyFirst fs(&t_.fs);
  Migrate("bob", "example.com", "example.com", false, &fs);
  const std::string failed =
      std::string(9, ' ') + "邮件复制失败:C:\\src\\mail\\bob\\";
  const std::string others = Standard(0, 0, 0, 0);
  EXPECT_EQ(t_.ResultList(), std::string(9, ' ') +
                                 "收件箱复制 8 封，失败 3 封\n" + failed +
                                 "m00.in（没有访问权限）\n" + failed +
                                 "m05<.in（文件名不安全，不能使用）\n" +
                                 failed + "m09.in（没有访问权限）\n" +
                                 others.substr(others.find('\n') + 1));
  EXPECT_EQ(failure_lines_, 3);
}

// A message has one file in the target, whichever its name: under the
// other name with its size it stays; with another size it is kept and is a
// failure line, never copied a second time beside it.
TEST_F(MailboxMigratorTest, SyncKeepsOneFilePerMessage) {
  t_.PutSource("mail\\bob\\1.in", "one");   // now sized, same size
  t_.PutSource("mail\\bob\\2.in", "two!");  // sized, grown since
  t_.PutSource("mail\\bob\\3.in", "new");
  t_.PutSource("mail\\bob\\__r_in.ini",
               IndexLine("1.in", "1") + IndexLine("2.in", "1"));
  const std::string inbox = t_.settings.target_mail_dir + "\\bob\\INBOX\\";
  for (const std::string& dir : {t_.settings.target_mail_dir,
                                 inbox.substr(0, inbox.size() - 7), inbox}) {
    ASSERT_TRUE(t_.fs.CreateDir(dir, nullptr));
  }
  ASSERT_TRUE(t_.fs.WriteFile(inbox + "1.in", "one", nullptr));
  ASSERT_TRUE(t_.fs.WriteFile(inbox + "2.in,S=3.0.S", "two", nullptr));
  ASSERT_TRUE(Migrate("bob", "example.com", "example.com", true));
  std::vector<DirEntry> files;
  ASSERT_TRUE(t_.fs.List(inbox + "*", &files));
  std::set<std::string> names;
  for (const DirEntry& file : files) names.insert(file.name);
  EXPECT_EQ(names, (std::set<std::string>{"1.in", "2.in,S=3.0.S", "3.in"}));
  EXPECT_EQ(failure_lines_, 1);
  EXPECT_NE(
      t_.ResultList().find(
          "目标中已有该邮件的另一版本，未覆盖:C:\\src\\mail\\bob\\2.in -> "
          "C:\\t\\store\\bob\\INBOX\\2.in,S=3.0.S\n"),
      std::string::npos)
      << t_.ResultList();
}

// A target folder that cannot be made is a line; its messages are not
// copied but each is named, and Spam, which no source folder fills, is
// reported too: in an existing mailbox (here a file holds the folder's
// name) and in a new one, whose folders a worker makes.
class FolderNotMadeTest : public MailboxMigratorTest,
                          public testing::WithParamInterface<bool> {};

TEST_P(FolderNotMadeTest, IsALineAndGetsNoCopy) {
  const bool new_mailbox = GetParam();
  t_.PutSource("mail\\bob\\1.sed", "one");
  t_.PutSource("mail\\bob\\2.sed", "two");
  t_.PutSource("mail\\bob\\3.in", "three");
  ASSERT_TRUE(t_.fs.CreateDir("C:\\t\\store", nullptr));
  FaultInjectionFileSystem faults(&t_.fs);
  for (const char* folder :
       {"C:\\t\\store\\bob\\Sent", "C:\\t\\store\\bob\\Spam"}) {
    if (new_mailbox) {
      faults.FailPath(folder);
    } else {
      ASSERT_TRUE(t_.fs.CreateDir("C:\\t\\store\\bob", nullptr));
      ASSERT_TRUE(t_.fs.WriteFile(folder, "", nullptr));
    }
  }
  EXPECT_TRUE(Migrate("bob", "example.com", "example.com", false, &faults));
  const std::string indent(9, ' ');
  const std::string standard = Standard(1, 0, 0, 0);
  const size_t in_end = standard.find('\n') + 1;
  const size_t sent_end = standard.find('\n', in_end) + 1;
  const std::string not_made =
      indent + "无法创建邮箱目录，邮件未转移:C:\\t\\store\\bob\\";
  const std::string failed = indent + "邮件复制失败:C:\\src\\mail\\bob\\";
  EXPECT_EQ(t_.ResultList(),
            not_made + "Spam\n" + standard.substr(0, in_end) + indent +
                "发件箱复制 0 封，失败 2 封\n" + not_made + "Sent\n" + failed +
                "1.sed（目标文件夹无法创建）\n" + failed +
                "2.sed（目标文件夹无法创建）\n" + standard.substr(sent_end));
  EXPECT_EQ(t_.stats.failed_copies, 2);
  EXPECT_EQ(t_.stats.mail_count, 1);
  EXPECT_EQ(failure_lines_, 4);
  EXPECT_EQ(t_.Store("bob\\INBOX\\3.in"), "three");
}

INSTANTIATE_TEST_SUITE_P(ExistingAndNewMailbox, FolderNotMadeTest,
                         testing::Bool());

TEST_F(MailboxMigratorTest, UnsafeUserNameCreatesNothing) {
  for (const char* user : {"..", "a\\b", "con", "x:y"}) {
    EXPECT_FALSE(Migrate(user, "example.com")) << user;
    EXPECT_EQ(failure_lines_, 1);
  }
  EXPECT_FALSE(t_.fs.Exists("C:\\t\\store"));
  EXPECT_EQ(t_.code_page->ToUtf8(t_.host.lines.back()),
            "用户名不能用作邮箱目录，邮件未转移:x:y");
}

// A folder list that exists but cannot be read is named, and the standard
// folders are still copied; an index that cannot be read leaves the names
// unsized but copies every message, with a note after its folder's line.
TEST_F(MailboxMigratorTest, UnreadableFolderListAndIndexAreNotSilent) {
  t_.PutSource("mail\\bob\\1.in", "one");
  t_.PutSource("mail\\bob\\2.0", "two");
  ASSERT_TRUE(t_.fs.CreateDir("C:\\src\\mail\\bob\\Folders.ini", nullptr));
  ASSERT_TRUE(t_.fs.CreateDir("C:\\src\\mail\\bob\\__r_in.ini", nullptr));
  EXPECT_TRUE(Migrate("bob", "example.com"));
  EXPECT_EQ(failure_lines_, 1);
  const std::string indent(9, ' ');
  const std::string standard = Standard(1, 0, 0, 0);
  const size_t first_line = standard.find('\n') + 1;
  EXPECT_EQ(t_.ResultList(),
            standard.substr(0, first_line) + indent +
                "无法读取索引文件，邮件按原名转移:C:\\src\\mail\\bob\\__r_in."
                "ini\n" +
                standard.substr(first_line) + indent +
                "无法读取自建文件夹列表，其中邮件未转移:C:\\src\\mail\\bob\\"
                "Folders.ini\n");
  EXPECT_EQ(t_.Store("bob\\INBOX\\1.in"), "one");
  EXPECT_EQ(t_.stats.failed_copies, 0);
}

// A mailbox's pending mark goes only once its copies are flushed to disk;
// when the flush fails the mark stays, for the next run, and it is a line.
TEST_F(MailboxMigratorTest, MarkGoesOnlyAfterAFlushThatWorked) {
  t_.PutSource("mail\\bob\\1.in", "one");
  const SourceAccount bob{"bob", "example.com", ""};
  for (bool flush_fails : {false, true}) {
    MailboxMigrator::Options options;
    options.source_dir = t_.settings.source_dir;
    options.target_mail_dir = t_.settings.target_mail_dir;
    if (flush_fails) t_.fs.FailPath(options.target_mail_dir);
    MailboxMigrator migrator(&t_.fs, &t_.host, t_.texts, options, &t_.stats);
    ASSERT_TRUE(migrator.MarkPending(bob, "example.com"));
    ASSERT_TRUE(migrator.MigrateMailbox(bob, "example.com", true));
    migrator.Finish();
    EXPECT_EQ(migrator.IsPending(bob, "example.com"), flush_fails);
    EXPECT_EQ(migrator.failure_lines(), flush_fails ? 1 : 0);
  }
  // A sync that finds the mailbox complete wrote nothing: its mark goes
  // without a flush (the failing one is not even tried). One that copies
  // a message keeps its mark until a flush works.
  for (bool more : {false, true}) {
    if (more) t_.PutSource("mail\\bob\\2.in", "two");
    MailboxMigrator::Options options;
    options.source_dir = t_.settings.source_dir;
    options.target_mail_dir = t_.settings.target_mail_dir;
    options.sync = true;
    MailboxMigrator migrator(&t_.fs, &t_.host, t_.texts, options, &t_.stats);
    ASSERT_TRUE(migrator.MarkPending(bob, "example.com", true));
    ASSERT_TRUE(migrator.MigrateMailbox(bob, "example.com", false));
    migrator.Finish();
    EXPECT_EQ(migrator.IsPending(bob, "example.com"), more) << more;
  }
  EXPECT_EQ(t_.mem.SyncCount(), 3);
  EXPECT_EQ(t_.Store("bob\\INBOX\\1.in"), "one");
  EXPECT_NE(t_.ResultList().find("邮件复制失败:C:\\t\\store（没有访问权限）"),
            std::string::npos)
      << t_.ResultList();
}

// A mailbox resumed from its mark loses the copies in progress a killed
// run left in its folders, and nothing else; one not resumed keeps them. A
// source file named like a copy in progress is no message: refused.
TEST_F(MailboxMigratorTest, ResumedMailboxLosesTheCopiesAKilledRunLeft) {
  t_.PutSource("mail\\bob\\1.in", "one");
  t_.PutSource("mail\\bob\\.vmtmp.9.in", "nine");
  const SourceAccount bob{"bob", "example.com", ""};
  const std::string box = t_.settings.target_mail_dir + "\\bob";
  const char* kLeft[] = {"\\INBOX\\.vmtmp.77.0", "\\Sent\\.2.sed.VMTMP.5.1"};
  t_.fs.CreateDir(t_.settings.target_mail_dir, nullptr);
  for (bool resume : {false, true}) {
    for (const char* dir : {"", "\\INBOX", "\\Sent"}) {
      t_.fs.CreateDir(box + dir, nullptr);
    }
    for (const char* left : kLeft) {
      ASSERT_TRUE(t_.fs.WriteFile(box + left, "on", nullptr));
    }
    ASSERT_TRUE(t_.fs.WriteFile(box + "\\INBOX\\.keep", "k", nullptr));
    MailboxMigrator::Options options;
    options.source_dir = t_.settings.source_dir;
    options.target_mail_dir = t_.settings.target_mail_dir;
    MailboxMigrator migrator(&t_.fs, &t_.host, t_.texts, options, &t_.stats);
    ASSERT_TRUE(migrator.MigrateMailbox(bob, "example.com", resume));
    migrator.Finish();
    for (const char* left : kLeft) {
      EXPECT_EQ(t_.fs.Exists(box + left), !resume) << left;
    }
    EXPECT_TRUE(t_.fs.Exists(box + "\\INBOX\\.keep"));
    EXPECT_EQ(t_.Store("bob\\INBOX\\1.in"), "one");
    EXPECT_FALSE(t_.fs.Exists(box + "\\INBOX\\.vmtmp.9.in"));
    EXPECT_NE(t_.ResultList().find(
                  "C:\\src\\mail\\bob\\.vmtmp.9.in（文件名是复制中途的临时文件"
                  "名）"),
              std::string::npos)
        << t_.ResultList();
  }
}

// The server makes a new account's mailbox (a delivery) while the run
// stages it: the staged mailbox must not replace or merge blindly with
// the folder that appeared. Its messages go in one by one, nothing of the
// server's is replaced, the one of the same name is a line and keeps the
// mark, and no staging folder stays. Without the delivery one rename
// publishes the mailbox whole.
class DeliveryAtPublish : public FileSystemWrapper {
 public:
  DeliveryAtPublish(FileSystem* base, bool deliver)
      : FileSystemWrapper(base), deliver_(deliver) {}
  PublishResult PublishDir(const std::string& from, const std::string& to,
                           std::string* error) override {
    ++publishes;
    if (deliver_) {
      CreateDir(to, nullptr);
      CreateDir(to + "\\INBOX", nullptr);
      WriteFile(to + "\\INBOX\\new.srv", "delivered", nullptr);
      WriteFile(to + "\\INBOX\\2.in", "server's", nullptr);
    }
    return FileSystemWrapper::PublishDir(from, to, error);
  }
  int publishes = 0;

 private:
  const bool deliver_;
};

TEST_F(MailboxMigratorTest, MailboxMadeByTheServerWhileStagedIsMergedInto) {
  const std::string store = t_.settings.target_mail_dir;
  for (bool deliver : {false, true}) {
    const std::string user = deliver ? "bob" : "ann";
    t_.PutSource("mail\\" + user + "\\1.in", "one");
    t_.PutSource("mail\\" + user + "\\2.in", "two");
    t_.PutSource("mail\\" + user + "\\3.sed", "three");
    const SourceAccount bob{user, "example.com", ""};
    const std::string box = store + "\\" + user;
    const std::string staging = store + "\\.vmtmp.stage." + user;
    t_.host.lines.clear();
    t_.stats = MigrationStats{};
    DeliveryAtPublish fs(&t_.fs, deliver);
    MailboxMigrator::Options options;
    options.source_dir = t_.settings.source_dir;
    options.target_mail_dir = store;
    MailboxMigrator migrator(&fs, &t_.host, t_.texts, options, &t_.stats);
    ASSERT_TRUE(migrator.MarkPending(bob, "example.com"));
    EXPECT_FALSE(fs.Exists(box)) << "visible while staged";
    EXPECT_TRUE(migrator.IsPending(bob, "example.com"));
    ASSERT_TRUE(migrator.MigrateMailbox(bob, "example.com", false));
    migrator.Finish();
    EXPECT_EQ(fs.publishes, 1);
    EXPECT_FALSE(fs.Exists(staging)) << deliver;
    EXPECT_EQ(t_.Read(box + "\\INBOX\\1.in"), "one");
    EXPECT_EQ(t_.Read(box + "\\INBOX\\2.in"), deliver ? "server's" : "two");
    EXPECT_EQ(t_.Read(box + "\\Sent\\3.sed"), "three");
    EXPECT_TRUE(fs.Exists(box + "\\Spam"));
    EXPECT_EQ(t_.Read(box + "\\INBOX\\new.srv"), deliver ? "delivered" : "");
    EXPECT_EQ(t_.stats.mail_count, deliver ? 2 : 3);
    EXPECT_EQ(t_.stats.failed_copies, deliver ? 1 : 0);
    EXPECT_EQ(migrator.failure_lines(), deliver ? 1 : 0);
    EXPECT_EQ(migrator.IsPending(bob, "example.com"), deliver);
    EXPECT_EQ(t_.ResultList().find("C:\\t\\store\\bob\\INBOX\\2.in") !=
                  std::string::npos,
              deliver)
        << t_.ResultList();
  }
}

// A staging folder a killed run left (a partial copy in it) is pending:
// the next run removes it and builds the mailbox again, or, when the
// server has made the mailbox since, copies into that one.
TEST_F(MailboxMigratorTest, StagingFolderOfAKilledRunIsBuiltAgain) {
  const std::string store = t_.settings.target_mail_dir;
  for (bool server_made_it : {false, true}) {
    const std::string user = server_made_it ? "bob" : "ann";
    t_.PutSource("mail\\" + user + "\\1.in", "one");
    const SourceAccount bob{user, "example.com", ""};
    const std::string staging = store + "\\.vmtmp.stage." + user;
    t_.fs.CreateDir(store, nullptr);
    t_.fs.CreateDir(staging, nullptr);
    t_.fs.CreateDir(staging + "\\INBOX", nullptr);
    t_.fs.WriteFile(staging + "\\INBOX\\1.in", "o", nullptr);
    if (server_made_it) t_.fs.CreateDir(store + "\\" + user, nullptr);
    MailboxMigrator::Options options;
    options.source_dir = t_.settings.source_dir;
    options.target_mail_dir = store;
    MailboxMigrator migrator(&t_.fs, &t_.host, t_.texts, options, &t_.stats);
    ASSERT_TRUE(migrator.IsPending(bob, "example.com"));
    ASSERT_TRUE(migrator.MigrateMailbox(bob, "example.com", true));
    migrator.Finish();
    EXPECT_FALSE(t_.fs.Exists(staging));
    EXPECT_EQ(t_.Store(user + "\\INBOX\\1.in"), "one") << server_made_it;
    EXPECT_FALSE(migrator.IsPending(bob, "example.com"));
  }
}

// A new account's staging folder is its mark until the mark file that is
// published with it is written beside its folders. A mailbox whose mark
// file could not be written is not published (its copies unflushed, it
// would look complete): it is a line, stays pending, and the next run
// builds it. One published keeps its mark until a flush has worked.
TEST_F(MailboxMigratorTest, StagedMailboxIsPublishedOnlyWithItsMark) {
  const std::string store = t_.settings.target_mail_dir;
  const SourceAccount ann{"ann", "example.com", ""};
  const SourceAccount bob{"bob", "example.com", ""};
  for (const std::string user : {"ann", "bob"}) {
    t_.PutSource("mail\\" + user + "\\1.in", "one " + user);
  }
  MailboxMigrator::Options options;
  options.source_dir = t_.settings.source_dir;
  options.target_mail_dir = store;
  t_.fs.CreateDir(store, nullptr);
  {
    FaultInjectionFileSystem faulty(&t_.fs);
    faulty.FailPath(store);  // its flush
    faulty.FailPath(store + "\\.vmtmp.stage.bob\\" +
                    MailboxMigrator::kPendingMark);
    MailboxMigrator migrator(&faulty, &t_.host, t_.texts, options, &t_.stats);
    for (const SourceAccount& account : {ann, bob}) {
      ASSERT_TRUE(migrator.MarkNew(account, "example.com"));
      ASSERT_TRUE(migrator.MigrateMailbox(account, "example.com"));
    }
    migrator.Finish();
    EXPECT_EQ(migrator.failure_lines(), 2);
  }
  EXPECT_TRUE(t_.fs.Exists(store + "\\ann\\" + MailboxMigrator::kPendingMark));
  EXPECT_FALSE(t_.fs.Exists(store + "\\bob"));
  EXPECT_NE(t_.ResultList().find("C:\\t\\store\\bob\n"), std::string::npos)
      << t_.ResultList();
  MailboxMigrator migrator(&t_.fs, &t_.host, t_.texts, options, &t_.stats);
  for (const SourceAccount& account : {ann, bob}) {
    ASSERT_TRUE(migrator.IsPending(account, "example.com"));
    ASSERT_TRUE(migrator.MigrateMailbox(account, "example.com", true));
  }
  migrator.Finish();
  EXPECT_EQ(migrator.failure_lines(), 0);
  for (const SourceAccount& account : {ann, bob}) {
    EXPECT_FALSE(migrator.IsPending(account, "example.com"));
  }
  EXPECT_EQ(t_.Store("bob\\INBOX\\1.in"), "one bob");
  EXPECT_FALSE(t_.fs.Exists(store + "\\.vmtmp.stage.bob"));
}

}  // namespace
}  // namespace vm
