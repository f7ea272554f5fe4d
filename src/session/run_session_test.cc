#include "session/run_session.h"

#include <gtest/gtest.h>

#include "testing/golden.h"

#include "migrate/texts.h"
#include "platform/helpers/file_system_wrapper.h"
#include "testing/mem_installation.h"

namespace vm {
namespace {

// The disk of a session that asks it to stop when the run marks the given
// mailbox pending: that account is then the last one begun.
class StopAtMark : public FileSystemWrapper {
 public:
  StopAtMark(FileSystem* base, std::string mark)
      : FileSystemWrapper(base), mark_(mark) {}
  // A new account's mark is its staging folder.
  DirMade MakeDir(const std::string& p, std::string* e) override {
    if (p == mark_ && session != nullptr) session->RequestStop();
    return FileSystemWrapper::MakeDir(p, e);
  }
  RunSession* session = nullptr;

 private:
  std::string mark_;
};

// Two domains of three accounts, each with mail in a standard and a
// user-made folder; records go to C:\records (C:\t\records, inside the
// target, is refused).
class RunSessionTest : public testing::Test {
 protected:
  static constexpr const char* kUsers[] = {"u0",       "u1",       "u2",
                                           "v0@b.com", "v1@b.com", "v2@b.com"};

  static void Fill(MemInstallation* t) {
    t->PutSource("domain.ini", "a.com\r\nb.com\r\n");
    std::string users;
    for (const char* user : kUsers) {
      users += std::string(user) +
               (user[0] == 'u' ? "\tc\ta.com\r\n" : "\tc\tx\tb.com\r\n");
      const std::string box = std::string("mail\\") + user + "\\";
      t->PutSource(box + "1.in", user + std::string(" in"));
      t->PutSource(box + "2.sed", user + std::string(" sent"));
      t->PutSource(box + "Folders.ini", "Work\r\n");
      t->PutSource(box + "3.0", user + std::string(" work"));
    }
    t->PutSource("popusers.ini", users);
  }
  SessionEnvironment Env(MemInstallation* t, FileSystem* disk) {
    SessionEnvironment env;
    env.disk = disk;
    env.code_page = t->code_page.get();
    env.texts = &t->texts;
    env.clock = &t->clock;
    env.steady_seconds = [] { return 0.0; };
    env.state = {"C:\\src", "C:\\t", "C:\\src\\mail", "C:\\t\\store", true};
    env.record_dirs = {"C:\\t\\records", "C:\\records"};
    env.version = "1.0.0";
    env.code_page_name = "GBK";
    env.config_states = t->states.get();
    return env;
  }
  // The files of the mail store, with their contents.
  static std::string Store(MemInstallation* t) {
    std::string all;
    for (const char* user : kUsers) {
      const std::string box = user;  // b.com is not the primary domain
      for (const char* dir : {"\\INBOX", "\\Sent", "\\Work", ""}) {
        std::vector<DirEntry> entries;
        t->fs.List("C:\\t\\store\\" + box + dir + "\\*", &entries);
        for (const DirEntry& e : entries) {
          if (!e.is_directory) all += e.path + "=" + t->Read(e.path) + "\n";
        }
      }
    }
    return all;
  }
};

TEST_F(RunSessionTest, StoppedRunKeepsTheTargetWholeAndTheNextRunEndsIt) {
  MemInstallation whole;
  Fill(&whole);
  SessionEnvironment whole_env = Env(&whole, &whole.fs);
  RunSession once(whole_env, {}, nullptr);
  ASSERT_TRUE(once.Run(&whole.host).clean);

  MemInstallation t;
  Fill(&t);
  StopAtMark disk(&t.fs, "C:\\t\\store\\.vmtmp.stage.u1");
  SessionEnvironment env = Env(&t, &disk);
  EXPECT_EQ(CountExistingAccounts(env), 0);
  auto stopped = std::make_unique<RunSession>(env, SessionOptions{}, nullptr);
  disk.session = stopped.get();
  const SessionResult& r = stopped->Run(&t.host);
  EXPECT_TRUE(r.outcome.stopped);
  EXPECT_EQ(r.stopped, 4);
  EXPECT_FALSE(r.clean);
  EXPECT_TRUE(t.host.messages.empty());  // no success message
  EXPECT_EQ(stopped->End().kind, MessageKind::kWarning);
  std::string list = t.ResultList();
  EXPECT_NE(
      list.find("因停止而未处理的帐户数:4\n迁移已停止：已完成的帐户和邮件都已"
                "保存，再次开始即可继续迁移。\n"),
      std::string::npos);
  // The two accounts begun are saved with all their mail and no mark.
  EXPECT_EQ(CountExistingAccounts(env), 2);
  for (const char* box : {"u0", "u1"}) {
    EXPECT_EQ(t.Store(std::string(box) + "\\Work\\3.0"),
              box + std::string(" work"));
    EXPECT_FALSE(t.fs.Exists(std::string("C:\\t\\store\\") + box +
                             "\\velquor-migrate.pending"));
  }
  EXPECT_FALSE(t.fs.Exists("C:\\t\\store\\u2"));
  const std::string report = stopped->Report(ReportFormat::kJson);
  size_t count = 0;
  for (size_t at = 0; (at = report.find("\"outcome\": \"unfinished\"", at)) !=
                      std::string::npos;
       ++at) {
    ++count;
  }
  EXPECT_EQ(count, 4u);
  EXPECT_NE(report.find("\"stopped\": true"), std::string::npos);

  // A new Start completes the migration: the same files as one whole run,
  // nothing copied twice, and it says which accounts it found present.
  disk.session = nullptr;
  RunSession again(env, {}, nullptr);
  EXPECT_TRUE(again.Run(&t.host).clean);
  EXPECT_EQ(again.result().existing, 2);
  // Its own accounts of the stopped run had no new mail; it says so.
  EXPECT_NE(
      t.ResultList().find("目标中已存在的帐户数:2，其源中的邮件都已在目标中\n"),
      std::string::npos);
  EXPECT_EQ(Store(&t), Store(&whole));
  EXPECT_EQ(t.Get("userauth.cfg"), whole.Get("userauth.cfg"));
  EXPECT_EQ(CountExistingAccounts(env), 6);

  // A sync with new mail in one folder of one account, changes only: the
  // list (whatever the front end) shows that folder alone; the session's
  // lines, for the log, keep every account.
  t.PutSource("mail\\v1@b.com\\4.sed", "v1 new");
  SessionOptions sync;
  sync.sync = true;
  sync.changes_only = true;
  RunSession changes(env, sync, nullptr);
  EXPECT_TRUE(changes.Run(&t.host).clean);
  auto occurrences = [](const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; ++at) {
      ++n;
    }
    return n;
  };
  list = t.ResultList();
  EXPECT_EQ(occurrences(list, "同步帐户:"), 1u) << list;
  EXPECT_EQ(occurrences(list, "同步帐户:v1@b.com\n"), 1u) << list;
  EXPECT_EQ(occurrences(list, "收件箱"), 0u) << list;
  EXPECT_EQ(occurrences(list, "发件箱"), 1u) << list;
  std::string all;
  for (const std::string& line : changes.lines()) all += line + "\n";
  EXPECT_EQ(occurrences(t.code_page->ToUtf8(all), "同步帐户:"), 6u);
}

// The first run's options again, at the switch: new mail in two of six
// accounts the target holds is not copied, and the end says so and how,
// not that something failed; the sync that copies it ends that.
TEST_F(RunSessionTest, PlainRunOverExistingAccountsTellsTheMailLeftBehind) {
  MemInstallation t;
  Fill(&t);
  SessionEnvironment env = Env(&t, &t.fs);
  ASSERT_TRUE(RunSession(env, {}, nullptr).Run(&t.host).clean);
  t.PutSource("mail\\u0\\5.in", "u0 new");
  t.PutSource("mail\\u0\\6.0", "u0 new work");
  t.PutSource("mail\\v1@b.com\\7.sed", "v1 new");
  const std::string before = Store(&t);
  RunSession again(env, {}, nullptr);
  const SessionResult& r = again.Run(&t.host);
  EXPECT_FALSE(r.clean);
  EXPECT_EQ(Store(&t), before);
  EXPECT_EQ(std::pair(r.stats.behind_accounts, r.stats.behind_mail),
            std::pair(2, int64_t{3}));
  const EndMessage end = again.End();
  EXPECT_EQ(end.kind, MessageKind::kWarning);
  const std::string text = t.code_page->ToUtf8(end.text);
  EXPECT_EQ(text.find("失败 "), std::string::npos) << text;
  EXPECT_NE(text.find("\n\n目标中已存在的帐户数:6，其中有新邮件未复制的帐户 2 "
                      "个、邮件 3 封；勾选“只复制新邮件”后再次开始即可复制"),
            std::string::npos)
      << text;
  SessionOptions sync;
  sync.sync = true;
  EXPECT_TRUE(RunSession(env, sync, nullptr).Run(&t.host).clean);
  EXPECT_TRUE(RunSession(env, {}, nullptr).Run(&t.host).clean);
}

TEST_F(RunSessionTest, RefusedStartKeepsTheListAndPreviewWritesOnlyItsRecords) {
  MemInstallation t;
  t.host.AppendLogLine("earlier run");
  SessionEnvironment env = Env(&t, &t.fs);
  RunSession refused(env, {}, nullptr);
  EXPECT_FALSE(refused.Run(&t.host).outcome.loaded);  // no domain.ini
  EXPECT_EQ(t.host.lines, std::vector<std::string>{"earlier run"});
  EXPECT_TRUE(refused.End().text.empty());
  EXPECT_FALSE(t.fs.Exists("C:\\records"));

  Fill(&t);
  const std::string users = t.Get("userauth.cfg");
  SessionOptions preview;
  preview.kind = SessionKind::kPreview;
  RunSession session(env, preview, nullptr);
  const SessionResult& r = session.Run(&t.host);
  EXPECT_EQ(t.Get("userauth.cfg"), users);
  EXPECT_FALSE(t.fs.Exists("C:\\t\\store"));
  EXPECT_EQ(r.plan.messages, 18);
  const std::string list = t.ResultList();
  EXPECT_EQ(list.find("earlier run"), std::string::npos);
  EXPECT_NE(list.find("预览计划（未写入任何文件）\n将添加的域名数:2\n"),
            std::string::npos);
  EXPECT_NE(list.find("    v2@b.com: 添加，复制邮件 3 封，"),
            std::string::npos);

  // The log is the list with a header, the report the run's JSON, both
  // beside each other in the first folder outside the installations.
  ASSERT_EQ(r.log_path.rfind("C:\\records\\", 0), 0u) << r.log_path;
  // The log's part in the one format of every log (its end names the
  // report), behind the mark that makes Notepad read it as UTF-8.
  std::string expected = Golden("session/preview_log_head.txt");
  for (size_t i = 0; i + 1 < t.host.lines.size(); ++i) {
    expected += t.code_page->ToUtf8(t.host.lines[i]) + "\n";
  }
  expected +=
      "== counts: failure lines 0, failed copies 0, left out 0, not reached "
      "0\n== report: " +
      r.report_path + "\n== ended 2023-11-14T22:13:20Z: succeeded\n";
  EXPECT_EQ(t.Read(r.log_path), expected);
  EXPECT_NE(t.Read(r.report_path).find("\"dry_run\": true"), std::string::npos);
  EXPECT_EQ(session.End().kind, MessageKind::kInformation);
  EXPECT_NE(session.End().text.find(r.log_path), std::string::npos);
}

// The plan's lines name what each account would get and warn, with the
// shortfall, when the mail does not fit the target's volume.
TEST(RunPlanTest, LinesWarnWhenTheMailDoesNotFit) {
  auto code_page = OpenCodePage("GBK");
  RunRecord record;
  record.OnDomain("a.com", DomainOutcome::kAdded);
  record.OnAccountBegin("ann", "a.com", "C:\\t\\store\\ann");
  FolderCounts inbox;
  inbox.name = "INBOX";
  inbox.copied = 3;
  inbox.copied_bytes = 3 << 20;
  record.OnFolder(inbox);
  record.OnAccountEnd("ann", "a.com", AccountOutcome::kAdded, "", "");
  record.OnAccountEnd("bob", "x.com", AccountOutcome::kSkippedNoDomainLine, "",
                      "");
  std::string text;
  const Texts texts = MakeTexts(*code_page);
  for (bool fits : {true, false}) {
    RunPlan plan = MakePlan(record, true, fits ? 3 << 20 : 1 << 20);
    EXPECT_EQ(plan.fits, fits);
    text.clear();
    for (const std::string& line : PlanLines(plan, texts)) {
      text += code_page->ToUtf8(line) + "\n";
    }
  }
  EXPECT_NE(text.find("    ann@a.com: 添加，复制邮件 3 封，3145728 字节\n"
                      "    bob@x.com: 不迁移：其域名不在domain.ini中\n"
                      "需复制的邮件:3 封，3.0 MB\n"
                      "目标邮件存储所在磁盘的可用空间:1.0 MB\n"
                      "警告：目标磁盘空间不足，请再腾出 2.0 MB 后再迁移！\n"),
            std::string::npos)
      << text;
}

TEST_F(RunSessionTest, PasswordOptionsAreCheckedBeforeTheRun) {
  MemInstallation t;
  struct Row {
    PasswordMode mode;
    std::string suffix, password;
    bool refused;
  } rows[] = {
      {PasswordMode::kSameAsUserName, "", "", false},
      {PasswordMode::kUserNamePlusSuffix, " \t", "x", true},
      {PasswordMode::kUserNamePlusSuffix, " ab ", "", false},
      {PasswordMode::kCommonPassword, "x", std::string(20, 'p'), false},
      {PasswordMode::kCommonPassword, "", std::string(21, 'p'), true},
  };
  for (const Row& row : rows) {
    SessionOptions options;
    options.password_mode = row.mode;
    options.suffix = row.suffix;
    options.password = row.password;
    EXPECT_EQ(PasswordOptionProblem(options, t.texts),
              row.refused ? t.texts.bad_password_text : "")
        << row.suffix << row.password;
  }
}

// The model the bar, the status line and the console's line draw: shares
// of bytes, the pace of what was done, copies only in the rate, and no
// more than one word to the listener per interval.
TEST(ProgressModelTest, CountsSharesPaceAndThrottlesItsListener) {
  MemFileSystem fs;
  fs.CreateDir("C:\\src", nullptr);
  fs.CreateDir("C:\\src\\mail", nullptr);
  fs.CreateDir("C:\\src\\mail\\a", nullptr);
  fs.WriteFile("C:\\src\\mail\\a\\1.in", std::string(600, 'x'), nullptr);
  fs.WriteFile("C:\\src\\mail\\a\\2.5", std::string(400, 'x'), nullptr);
  fs.WriteFile("C:\\src\\mail\\a\\x.txt", "not mail", nullptr);
  double now = 10;
  std::vector<ProgressSnapshot> told;
  ProgressModel model(
      &fs, "C:\\src", [&now] { return now; },
      [&told](const ProgressSnapshot& s) { told.push_back(s); }, 1.0);
  SourceDomainList domains = {
      {"a.com", {{"a", "a.com", ""}, {"b", "a.com", ""}}}};
  model.OnSourceLoaded(domains);
  ASSERT_EQ(told.size(), 1u);  // the scan is always told
  EXPECT_EQ(told[0].totals.messages, 2);
  EXPECT_EQ(told[0].totals.bytes, 1000u);
  EXPECT_LT(told[0].SecondsLeft(), 0);

  now = 12;
  model.OnAccountBegin("a", "a.com", "");
  model.OnMessage(600, false);  // present already: handled, not copied
  model.OnAccountEnd("x", "a.com", AccountOutcome::kSkippedNoDomainLine, "",
                     "");
  model.OnAccountEnd("b", "a.com", AccountOutcome::kUnfinished, "", "");
  now = 12.5;
  model.OnMessage(200, true);
  EXPECT_EQ(told.size(), 2u);  // the second within the interval is not told
  ProgressSnapshot s = model.Snapshot();
  EXPECT_EQ(s.done.accounts, 0);
  EXPECT_DOUBLE_EQ(s.Fraction(), 0.8);
  EXPECT_DOUBLE_EQ(s.CopyRate(), 200 / 2.5);
  EXPECT_DOUBLE_EQ(s.SecondsLeft(), 2.5 * 0.2 / 0.8);
  model.OnAccountEnd("a", "a.com", AccountOutcome::kAdded, "", "");
  EXPECT_EQ(ProgressStatusText(model.Snapshot()),
            "帐户 1/2，邮件 2/2，0.0/0.0 MB（已复制 0.0 MB），0.0 MB/秒，剩余 "
            "0:00:01");
  model.OnVerified("a", "a.com", "INBOX", 1, 0, 0);
  model.Notify();
  EXPECT_DOUBLE_EQ(told.back().Fraction(), 0.5);
  EXPECT_EQ(ProgressStatusText(told.back()), "正在校验邮件：已校验 1/2 封");
  now = 20;
  model.Finish();  // the time of a run stops with it
  now = 30;
  EXPECT_EQ(ProgressSummaryText(model.Snapshot()),
            "帐户 1/2，邮件 2/2，已复制 0.0 MB，已校验 1 封，用时 0:00:10");
}

}  // namespace
}  // namespace vm
