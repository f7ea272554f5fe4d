#include "migrate/migration_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "migrate/pending_marks.h"
#include "platform/helpers/file_system_wrapper.h"
#include "session/run_record.h"

#include "testing/golden.h"
#include "testing/mem_installation.h"
#include "testing/recorded_run.h"

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

TEST_F(MigrationRunTest, LoadFailureLogsNothing) {
  t_.stats.user_count = 7;
  RunOutcome outcome = Run();
  EXPECT_FALSE(outcome.loaded);
  EXPECT_FALSE(outcome.succeeded);
  EXPECT_EQ(t_.Events(), "reset\nmessage 没有找到domain.ini文件\n");
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
  RunRecord record;
  RunOutcome outcome = MigrationRun(&t_.host, t_.texts, t_.settings,
                                    &t_.context, &t_.stats, nullptr, &record);
  EXPECT_FALSE(outcome.succeeded);
  EXPECT_EQ(outcome.failure_lines, 1);
  EXPECT_EQ(t_.code_page->ToUtf8(t_.host.messages.at(0)), "读取域信息出错！");
  // The accounts it never reached still have their word in the report.
  ASSERT_EQ(record.accounts().size(), 1u);
  EXPECT_EQ(record.accounts()[0].outcome, AccountOutcome::kFailed);
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

// An account the steps never reach (its domain is no line of domain.ini)
// is named in a failure line of its own, and the run, the preview and the
// verification alike are no success.
TEST_F(MigrationRunTest, LeftOutAccountsAreNamedAndWithholdSuccess) {
  t_.PutSource("domain.ini", "a.com\r\n");
  t_.PutSource("popusers.ini",
               "bob\tc\ta.com\r\ncarl\tc\tb.com\r\ndan@c.com\tc\tc.com\r\n");
  for (int kind = 0; kind < 3; ++kind) {
    t_.settings.preview = kind == 1;
    t_.settings.verify_only = kind == 2;
    RunOutcome outcome = Run();
    EXPECT_FALSE(outcome.succeeded) << kind;
    EXPECT_EQ(outcome.failure_lines, 2) << kind;
    EXPECT_TRUE(t_.host.messages.empty()) << kind;
    const std::string list = t_.ResultList();
    for (const char* name : {"carl@b.com", "dan@c.com"}) {
      EXPECT_NE(list.find(std::string("该帐户的域名不在domain.ini中，未迁移:") +
                          name + "\n"),
                std::string::npos)
          << kind << list;
    }
  }
}

// The record the report and the plan are made from agrees with the result
// list: every failed copy and every verification finding is in its folder
// (a folder listed twice is two folders), the account's last word is its
// failure, and the summary counts only what arrived.
TEST_F(MigrationRunTest, RecordAgreesWithTheResultList) {
  const struct {
    const char* what;
    std::string folders;  // Folders.ini
    std::vector<std::string> failing;
    std::string expected;
  } kCases[] = {
      // Mail that could not all be read fails the account, with the line;
      // refused folders are folders of the record, their mail not copied.
      {"folder list unreadable",
       "work\r\n",
       {"C:\\src\\mail\\bob\\Folders.ini"},
       "域名 1，用户数 1，邮件总数 0\nbob failed: "
       "无法读取自建文件夹列表，其中邮件未转移:C:\\src\\mail\\bob\\Folders."
       "ini\n"},
      {"mailbox unreadable",
       "",
       {"C:\\src\\mail\\bob"},
       "域名 1，用户数 1，邮件总数 0\nbob failed: "
       "无法读取邮件文件夹，其中邮件未转移:C:\\src\\mail\\bob\n"},
      {"refused folders",
       "..\r\n/tmp/abs\r\n..\\evil\r\n",
       {},
       "域名 1，用户数 1，邮件总数 0\nbob failed: "
       "文件夹名称不能用作目录，未转移:..\n"
       " .. 1 copied 0 failed 1 checked 0 missing 0\n"
       " /tmp/abs 1 copied 0 failed 1 checked 0 missing 0\n"},
      {"failed copy",
       "",
       {"C:\\src\\mail\\bob\\2.in"},
       "域名 1，用户数 1，邮件总数 1\nbob failed: 复制失败的邮件数:1\n"
       " INBOX 2 copied 1 failed 1 checked 2 missing 1\n"},
      {"folder listed twice",
       "work\r\nwork\r\n",
       {"C:\\src\\mail\\bob\\1.0"},
       "域名 1，用户数 1，邮件总数 1\nbob failed: 复制失败的邮件数:1\n"
       " work 1 copied 0 failed 1 checked 1 missing 1\n"
       " work 1 copied 1 failed 0 checked 1 missing 0\n"},
  };
  for (const auto& c : kCases) {
    MemInstallation t;
    t.PutSource("domain.ini", "a.com\r\n");
    t.PutSource("popusers.ini", "bob\tc\ta.com\r\n");
    if (c.folders.empty()) {
      t.PutSource("mail\\bob\\1.in", "one");
      t.PutSource("mail\\bob\\2.in", "two");
    } else {
      t.PutSource("mail\\bob\\Folders.ini", c.folders);
      t.PutSource("mail\\bob\\1.0", "one");
      t.PutSource("mail\\bob\\2.1", "two");
    }
    for (const std::string& path : c.failing) t.fs.FailPath(path);
    t.settings.verify = VerifyMode::kSize;
    RunRecord record;
    MigrationRun(&t.host, t.texts, t.settings, &t.context, &t.stats, nullptr,
                 &record);
    std::string got;  // the summary
    for (const std::string& line : t.host.lines) {
      if (t.code_page->ToUtf8(line).rfind("域名", 0) == 0) {
        got = t.code_page->ToUtf8(line);
      }
    }
    int64_t failed = 0, found = 0;
    for (const AccountRecord& a : record.accounts()) {
      got += "\n" + a.user + " " + OutcomeName(a.outcome) + ": " +
             t.code_page->ToUtf8(a.reason) + "\n";
      for (const FolderRecord& f : a.folders) {
        failed += f.counts.failed;
        found += f.missing + f.different;
        if (f.counts.messages == 0) continue;
        got += " " + f.counts.name + " " + std::to_string(f.counts.messages) +
               " copied " + std::to_string(f.counts.copied) + " failed " +
               std::to_string(f.counts.failed) + " checked " +
               std::to_string(f.checked) + " missing " +
               std::to_string(f.missing) + "\n";
      }
    }
    EXPECT_EQ(got, c.expected) << c.what;
    EXPECT_EQ(failed, t.stats.failed_copies) << c.what;
    // A source that cannot be read counts as missing, with its own line.
    const std::string& indent = t.texts.folder_indent;
    EXPECT_EQ(found, std::count_if(
                         t.host.lines.begin(), t.host.lines.end(),
                         [&](const std::string& line) {
                           return line.rfind(indent + t.texts.verify_missing,
                                             0) == 0 ||
                                  line.rfind(indent + t.texts.verify_unreadable,
                                             0) == 0;
                         }))
        << c.what;
  }
}

// A user or domain name that cannot be a mailbox directory is written into
// no configuration file; the result list, the record and the counts all
// say it was refused.
TEST_F(MigrationRunTest, RefusedNamesAreWrittenNowhere) {
  const std::vector<std::string> kRefused = {"..", "/etc", "x/../../y", "con"};
  t_.PutSource("domain.ini", "a.com\r\n../evil\r\n");
  std::string users = "bob\tc\ta.com\r\neve\tc\t../evil\r\n";
  for (const std::string& user : kRefused) users += user + "\tc\ta.com\r\n";
  t_.PutSource("popusers.ini", users);
  RunRecord record;
  const RunOutcome outcome =
      MigrationRun(&t_.host, t_.texts, t_.settings, &t_.context, &t_.stats,
                   nullptr, &record);
  EXPECT_EQ(outcome.failure_lines, 5);
  EXPECT_EQ(t_.stats.user_count, 1);
  EXPECT_EQ(t_.stats.domain_count, 1);
  const std::string list = t_.ResultList();
  for (const std::string& user : kRefused) {
    EXPECT_NE(list.find("用户名不能用作邮箱目录，邮件未转移:" + user + "\n"),
              std::string::npos)
        << list;
    EXPECT_EQ(list.find("导入帐户:" + user + "@"), std::string::npos) << list;
    EXPECT_EQ(t_.Get("userauth.cfg").find("<name>" + user + "<"),
              std::string::npos);
  }
  EXPECT_EQ(t_.Get("domain.cfg").find("evil"), std::string::npos);
  EXPECT_EQ(t_.Get("userauth.cfg").find("eve"), std::string::npos);
  ASSERT_EQ(record.accounts().size(), 6u);
  for (const AccountRecord& a : record.accounts()) {
    EXPECT_EQ(a.outcome, a.user == "bob" ? AccountOutcome::kAdded
                                         : AccountOutcome::kRefused)
        << a.user;
  }
  ASSERT_EQ(record.domains().size(), 2u);
  EXPECT_EQ(record.domains()[1].outcome, DomainOutcome::kFailed);
}

// A listing that failed once is listed again before it is a line; one that
// keeps failing is one line for its mailbox, not one per folder.
TEST_F(MigrationRunTest, FailedListingIsListedAgainThenOneLinePerMailbox) {
  class FailingListing : public FileSystemWrapper {
   public:
    FailingListing(FileSystem* base, int failures)
        : FileSystemWrapper(base), failures_(failures) {}
    bool List(const std::string& pattern,
              std::vector<DirEntry>* entries) override {
      if (pattern.find("\\mail\\bob\\*") != std::string::npos &&
          failures_.fetch_sub(1) > 0) {
        entries->clear();
        return false;
      }
      return FileSystemWrapper::List(pattern, entries);
    }

   private:
    std::atomic<int> failures_;
  };
  for (int failures : {1, 1000}) {
    MemInstallation t;
    t.PutSource("domain.ini", "a.com\r\n");
    t.PutSource("popusers.ini", "ann\tc\ta.com\r\nbob\tc\ta.com\r\n");
    t.PutSource("mail\\bob\\Folders.ini", "Work\r\n");
    t.PutSource("mail\\bob\\1.in", "one");
    FailingListing fs(&t.fs, failures);
    t.context.fs = &fs;
    const RunOutcome outcome =
        MigrationRun(&t.host, t.texts, t.settings, &t.context, &t.stats);
    const std::string list = t.ResultList();
    size_t lines = 0;
    for (size_t at = 0;
         (at = list.find("无法读取邮件文件夹", at)) != std::string::npos;
         ++at) {
      ++lines;
    }
    EXPECT_EQ(lines, failures == 1 ? 0u : 1u) << list;
    EXPECT_EQ(outcome.failure_lines, failures == 1 ? 0 : 1) << list;
    EXPECT_EQ(t.Store("bob\\INBOX\\1.in"), failures == 1 ? "one" : "");
  }
}

// Copies run on worker threads and finish in any order; the result list
// (every call on the host), the counters and the mail store must still be
// those of a run one message at a time, whatever the number of workers.
// Failed copies and a folder that cannot be listed sit between good ones,
// and accounts follow each other while earlier copies still run.
TEST_F(MigrationRunTest, EveryJobCountGivesTheSameRun) {
  struct Result {
    std::string events;
    std::vector<std::string> store;
    int32_t mails, failed;
    int failure_lines;
  };
  auto run = [](int jobs) {
    MemInstallation t;
    std::string users;
    for (int u = 0; u < 6; ++u)
      users += "u" + std::to_string(u) + "\tc\ta.com\r\n";
    t.PutSource("domain.ini", "a.com\r\n");
    t.PutSource("popusers.ini", users);
    std::vector<std::string> paths;
    for (int u = 0; u < 6; ++u) {
      const std::string box = "u" + std::to_string(u);
      t.PutSource("mail\\" + box + "\\Folders.ini", "Work\r\n\r\nOld\r\n");
      for (int m = 0; m < 60; ++m) {
        const char* ext[] = {".in", ".sed", ".del", ".0", ".2"};
        const std::string name = std::to_string(m) + ext[m % 5];
        t.PutSource("mail\\" + box + "\\" + name, box + name);
        paths.push_back(box + "\\" + name);
      }
      t.fs.FailPath(t.settings.source_dir + "\\mail\\" + box + "\\" +
                    std::to_string(5 * u + 1) + ".sed");
    }
    t.fs.FailPath(t.settings.source_dir + "\\mail\\u3");  // cannot be listed
    t.settings.jobs = jobs;
    RunOutcome outcome =
        MigrationRun(&t.host, t.texts, t.settings, &t.context, &t.stats);
    Result r{t.Events(),
             {},
             t.stats.mail_count,
             t.stats.failed_copies,
             outcome.failure_lines};
    for (const std::string& path : paths) {
      for (const char* folder :
           {"INBOX\\", "Sent\\", "Trash\\", "Work\\", "Old\\"}) {
        std::string name = path;
        name.insert(name.find('\\') + 1, folder);
        if (t.fs.Exists(t.settings.target_mail_dir + "\\" + name)) {
          r.store.push_back(name + "=" + t.Store(name));
        }
      }
    }
    return r;
  };
  const Result one = run(1);
  EXPECT_GT(one.failed, 0);
  EXPECT_GT(one.failure_lines, one.failed);  // the listing failure
  EXPECT_EQ(one.store.size(), static_cast<size_t>(one.mails));
  for (int jobs : {2, 4, 16}) {
    const Result many = run(jobs);
    EXPECT_EQ(many.events, one.events) << jobs;
    EXPECT_EQ(many.store, one.store) << jobs;
    EXPECT_EQ(many.mails, one.mails) << jobs;
    EXPECT_EQ(many.failed, one.failed) << jobs;
    EXPECT_EQ(many.failure_lines, one.failure_lines) << jobs;
  }
}

// A manifest that takes its first `accepted` writes and then no more.
class FailingSink : public StringSink {
 public:
  explicit FailingSink(int accepted) : accepted_(accepted) {}
  bool Append(std::string_view bytes) override {
    return accepted_-- > 0 && StringSink::Append(bytes);
  }
  bool Flush() override { return accepted_ >= 0; }

 private:
  int accepted_;
};

// Every folder and file under `dir` but the hidden staging folders; the
// message files among them counted in `*messages`.
void VisibleTree(FileSystem* fs, const std::string& dir,
                 std::vector<std::string>* paths, int* messages) {
  std::vector<DirEntry> entries;
  fs->List(dir + "\\*", &entries);
  for (const DirEntry& entry : entries) {
    if (entry.name.rfind(".vmtmp.", 0) == 0) continue;
    const std::string path = dir + "\\" + entry.name;
    paths->push_back(path);
    if (entry.is_directory) VisibleTree(fs, path, paths, messages);
    if (!entry.is_directory && entry.name != PendingMarks::kFileName) {
      ++*messages;
    }
  }
}

// Fault: a mailbox, folder or message made where the server sees it after
// the manifest stopped reaching the disk, so that an undo cannot find it,
// in a run that goes on as if it had been recorded. The manifest fails at
// each of its writes in turn, until a run needs no more than it takes.
TEST(MigrationRunManifestTest, NothingIsMadeThatTheManifestCouldNotNameFirst) {
  bool refused = false;
  for (int accepted = 0;; ++accepted) {
    SCOPED_TRACE(accepted);
    MemInstallation t;
    t.PutSource("domain.ini", "a.com\r\nb.com\r\n");
    t.PutSource("popusers.ini",
                "bob\tc\ta.com\r\nann\tc\ta.com\r\ncy@b.com\tc\tx\tb.com\r\n");
    for (const char* box : {"bob", "ann", "cy@b.com"}) {
      for (const char* name : {"1.in", "2.in", "3.del"}) {
        t.PutSource(std::string("mail\\") + box + "\\" + name, box);
      }
    }
    FailingSink sink(accepted);
    ManifestWriter writer(&sink, ManifestHeader());
    t.settings.manifest = &writer;
    const bool succeeded =
        MigrationRun(&t.host, t.texts, t.settings, &t.context, &t.stats)
            .succeeded;
    std::vector<std::string> made;
    int messages = 0;
    VisibleTree(&t.fs, t.settings.target_mail_dir, &made, &messages);
    // The summary counts the mail that reached the target, no more.
    EXPECT_EQ(t.stats.mail_count, messages);
    for (const std::string& path : made) {
      EXPECT_TRUE(sink.text.find(" " + path + "\n") != std::string::npos ||
                  sink.text.find(" " + path + " ") != std::string::npos)
          << path;
    }
    refused = refused ||
              t.ResultList().find("运行清单无法先行写入") != std::string::npos;
    if (!writer.failed()) {
      EXPECT_TRUE(succeeded);
      break;
    }
    EXPECT_FALSE(succeeded);
  }
  EXPECT_TRUE(refused);
}

}  // namespace
}  // namespace vm
