#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "migrate/texts.h"
#include "platform/change_notice.h"
#include "session/run_session.h"
#include "testing/mem_installation.h"

namespace vm {
namespace {

// A notice that, at each wait, makes the next change of a script to the
// source and tells of it as the script says (with the mailbox folders it
// names, when `known`); the clock, and the times files get, move a minute.
struct ScriptedNotice : ChangeNotice {
  struct Step {
    std::function<void()> change;
    NoticeWait told;
    std::vector<std::string> named = {};
    bool known = false;
  };
  ScriptedNotice(FixedClock* c, MemFileSystem* f, std::vector<Step> s)
      : clock(c), fs(f), steps(s) {}
  NoticeWait Wait(int64_t) override {
    clock->Set(clock->NowSeconds() + 60);
    fs->SetNow(clock->NowSeconds());
    if (woken || at == steps.size()) return NoticeWait::kWoken;
    Step& step = steps[at++];
    if (step.change) step.change();
    named.insert(named.end(), step.named.begin(), step.named.end());
    known = known && step.known;
    return woken ? NoticeWait::kWoken : step.told;
  }
  void Wake() override { woken = true; }
  bool TellsChanges() const override { return true; }
  bool TakeNamed(std::vector<std::string>* names) override {
    names->swap(named);
    named.clear();
    const bool was = known;
    known = true;
    return was;
  }

  FixedClock* clock;
  MemFileSystem* fs;
  std::vector<Step> steps;
  size_t at = 0;
  bool woken = false;
  std::vector<std::string> named;
  bool known = false;
};

// A session over `t` whose watch gets `steps`.
SessionEnvironment WatchEnvironment(MemInstallation& t,
                                    std::vector<ScriptedNotice::Step> steps) {
  SessionEnvironment env;
  env.disk = &t.fs;
  env.code_page = t.code_page.get();
  env.texts = &t.texts;
  env.clock = &t.clock;
  env.steady_seconds = [] { return 0.0; };
  env.state = {"C:\\src", "C:\\t", "C:\\src\\mail", "C:\\t\\store", true};
  env.record_dirs = {"C:\\records"};
  env.config_states = t.states.get();
  env.watch_notice = [&t, steps](const std::string& dir) {
    EXPECT_EQ(dir, "C:\\src\\mail");
    return std::make_unique<ScriptedNotice>(&t.clock, &t.mem, steps);
  };
  return env;
}

// Changes of every kind between passes, then a stop while the watch waits
// and mail that came just before it: every message is copied, the list
// has a line per pass, the records are one set rewritten.
TEST(WatchSessionTest, EveryChangeBetweenPassesReachesTheTarget) {
  MemInstallation t;
  t.PutSource("domain.ini", "a.com\r\n");
  t.PutSource("popusers.ini", "u0\tc\ta.com\r\nu1\tc\ta.com\r\n");
  for (const char* user : {"u0", "u1"}) {
    t.PutSource(std::string("mail\\") + user + "\\1.in", "one");
  }
  RunSession* session = nullptr;
  using W = NoticeWait;
  std::vector<ScriptedNotice::Step> steps = {
      {[&] { t.PutSource("mail\\u0\\2.in", "two"); }, W::kChanged},
      {[&] { t.PutSource("mail\\u1\\3.sed", "three"); }, W::kOverflow},
      {[&] {
         t.PutSource("mail\\u1\\Folders.ini", "Work\r\n");
         t.PutSource("mail\\u1\\4.0", "four");
       },
       W::kChanged},
      {[&] {
         t.PutSource("popusers.ini",
                     "u0\tc\ta.com\r\nu1\tc\ta.com\r\nu2\tc\ta.com\r\n");
         t.PutSource("mail\\u2\\5.in", "five");
       },
       W::kChanged},
      {nullptr, W::kChanged},  // nothing new
      {[&] {
         t.PutSource("mail\\u2\\6.in", "six");
         session->RequestStop();
       },
       W::kTimedOut},
  };
  SessionEnvironment env = WatchEnvironment(t, steps);
  SessionOptions options;
  options.watch_seconds = 5;
  std::vector<std::string> statuses;
  SessionHooks hooks;
  hooks.pass_ended = [&](const RunSession& s, const std::string& status) {
    statuses.push_back(t.code_page->ToUtf8(status));
    EXPECT_EQ(s.Reported().accounts().size(), statuses.size() < 5 ? 2u : 3u);
  };
  RunSession watch(env, options, nullptr, hooks);
  session = &watch;
  const SessionResult& r = watch.Run(&t.host);

  for (const char* file :
       {"u0\\INBOX\\1.in", "u0\\INBOX\\2.in", "u1\\Sent\\3.sed",
        "u1\\Work\\4.0", "u2\\INBOX\\5.in", "u2\\INBOX\\6.in"}) {
    EXPECT_FALSE(t.Store(file).empty()) << file;
  }
  EXPECT_TRUE(r.clean);
  EXPECT_TRUE(r.watch_stopped);
  EXPECT_EQ(r.passes, 7);
  EXPECT_EQ(r.stats.mail_count, 7);
  const std::string list = t.ResultList();
  for (const char* line :
       {"\n第 1 次同步：新增 2 封，用时 0.0 秒\n",
        "\n第 2 次同步：新增 1 封，用时 0.0 秒\n",
        "\n第 5 次同步：新增 1 封，用时 0.0 秒\n",
        "\n第 6 次同步：新增 0 封，用时 0.0 秒\n",
        "\n第 7 次同步：新增 1 封，用时 0.0 秒\n持续同步已停止："}) {
    EXPECT_NE(list.find(line), std::string::npos) << line << list;
  }
  // The passes that copied add no account lines to the list.
  EXPECT_EQ(list.find("同步帐户:"), std::string::npos) << list;
  ASSERT_EQ(statuses.size(), 7u);
  // Nothing new in pass 6: the status keeps pass 5's time; pass 7's,
  // two minutes later, has its own.
  EXPECT_EQ(statuses[5], statuses[4]);
  EXPECT_NE(statuses[6], statuses[5]);
  EXPECT_EQ(statuses[5].find("源自 "), 0u);
  EXPECT_NE(statuses[5].find(" 起没有变化，上次同步用时 0.0 秒"),
            std::string::npos);
  // One log, rewritten after each pass, and it ends with the last line.
  std::vector<DirEntry> records;
  t.fs.List("C:\\records\\*", &records);
  EXPECT_EQ(records.size(), 3u);               // .log, .json, .html
  const std::string log = t.Read(r.log_path);  // UTF-8
  EXPECT_NE(log.find("第 7 次同步"), std::string::npos);
  EXPECT_NE(watch.Report(ReportFormat::kJson).find("\"stopped\": true"),
            std::string::npos);
}

// Between full passes a pass looks only where the notices told changes:
// a mailbox they name in another letter case is looked at; one they did
// not name waits for the next full pass, the interval after the last; the
// pass after a stop looks everywhere.
TEST(WatchSessionTest, NoticesNameWhereAPassLooks) {
  MemInstallation t;
  t.PutSource("domain.ini", "a.com\r\n");
  t.PutSource("popusers.ini", "u0\tc\ta.com\r\nu1\tc\ta.com\r\n");
  t.PutSource("mail\\u0\\1.in", "one");
  t.PutSource("mail\\u1\\1.in", "one");
  RunSession* session = nullptr;
  using W = NoticeWait;
  std::vector<ScriptedNotice::Step> steps = {
      {[&] { t.PutSource("mail\\u0\\2.in", "two"); }, W::kChanged},
      {[&] {
         t.PutSource("mail\\u0\\3.in", "three");
         t.PutSource("mail\\u1\\4.in", "four");
       },
       W::kChanged,
       {"U0"},
       true},
      {nullptr, W::kChanged, {}, true},
      {[&] { t.PutSource("mail\\u0\\5.in", "five"); },
       W::kChanged,
       {"u0"},
       true},
      {[&] {
         t.PutSource("mail\\u1\\6.in", "six");
         session->RequestStop();
       },
       W::kTimedOut,
       {},
       true},
  };
  SessionEnvironment env = WatchEnvironment(t, steps);
  SessionOptions options;
  options.watch_seconds = 150;
  RunSession watch(env, options, nullptr, {});
  session = &watch;
  const SessionResult& r = watch.Run(&t.host);
  EXPECT_TRUE(r.clean);
  EXPECT_EQ(r.passes, 6);
  for (const char* file :
       {"u0\\INBOX\\5.in", "u1\\INBOX\\4.in", "u1\\INBOX\\6.in"}) {
    EXPECT_FALSE(t.Store(file).empty()) << file;
  }
  const std::string list = t.ResultList();
  for (const char* line :
       {"\n第 2 次同步：新增 1 封，", "\n第 3 次同步：新增 1 封，",
        "\n第 4 次同步：新增 0 封，", "\n第 5 次同步：新增 2 封，",
        "\n第 6 次同步：新增 1 封，"}) {
    EXPECT_NE(list.find(line), std::string::npos) << line << list;
  }
}

// The notice is armed before the migration, so the first pass after it
// already looks only where the notice named changes.
TEST(WatchSessionTest, FirstPassAfterTheMigrationTrustsTheNotice) {
  MemInstallation t;
  // The migration's mail is written well before its record (which follows
  // the flush), so none of it is doubtful.
  t.mem.SetNow(t.clock.NowSeconds() - 100);
  struct RecordLater : PhaseObserver {
    void PhaseBegin(const char*) override {}
    void PhaseEnd(const char* phase) override {
      if (std::string(phase) == "flush") t->mem.SetNow(t->clock.NowSeconds());
    }
    MemInstallation* t;
  } later;
  later.t = &t;
  t.PutSource("domain.ini", "a.com\r\n");
  t.PutSource("popusers.ini", "u0\tc\ta.com\r\nu1\tc\ta.com\r\n");
  t.PutSource("mail\\u0\\1.in", "one");
  t.PutSource("mail\\u1\\1.in", "one");
  RunSession* session = nullptr;
  std::vector<ScriptedNotice::Step> steps = {
      {[&] {
         t.PutSource("mail\\u0\\2.in", "two");
         t.PutSource("mail\\u1\\3.in", "three");
       },
       NoticeWait::kChanged,
       {"u0"},
       true},
      {[&] { session->RequestStop(); }, NoticeWait::kTimedOut, {}, true},
  };
  SessionEnvironment env = WatchEnvironment(t, steps);
  SessionOptions options;
  options.watch_seconds = 150;
  SessionHooks hooks;
  hooks.phases = &later;
  RunSession watch(env, options, nullptr, hooks);
  session = &watch;
  const SessionResult& r = watch.Run(&t.host);
  EXPECT_TRUE(r.clean);
  const std::string list = t.ResultList();
  for (const char* line :
       {"\n第 2 次同步：新增 1 封，", "\n第 3 次同步：新增 1 封，"}) {
    EXPECT_NE(list.find(line), std::string::npos) << line << list;
  }
  EXPECT_FALSE(t.Store("u1\\INBOX\\3.in").empty());
}

}  // namespace
}  // namespace vm
