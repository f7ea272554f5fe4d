#include "session/sync_record_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>

#include "migrate/undo_choices.h"
#include "platform/helpers/file_system_wrapper.h"
#include "session/account_list.h"
#include "session/run_session.h"
#include "testing/mem_installation.h"

namespace vm {
namespace {

// Two domains of three accounts, each with mail in a standard and a
// user-made folder, written at second 100; a run's folders are made at the
// file system's time of the moment (SetNow), its statuses judged by the
// clock. Sessions run through a disk that can stop them at a path.
class SyncPass : public FileSystemWrapper {
 public:
  static constexpr const char* kUsers[] = {"u0",       "u1",       "u2",
                                           "v0@b.com", "v1@b.com", "v2@b.com"};

  SyncPass() : FileSystemWrapper(&t.fs) {
    t.mem.SetNow(100);
    for (const char* user : kUsers) {
      const std::string box = std::string("mail\\") + user + "\\";
      t.PutSource(box + "1.in", user + std::string(" in"));
      t.PutSource(box + "Folders.ini", "Work\r\n");
      t.PutSource(box + "3.0", user + std::string(" work"));
    }
    t.PutSource("domain.ini", "a.com\r\nb.com\r\n");
    t.PutSource("popusers.ini", Users());
  }
  static std::string Users() {
    std::string users;
    for (const char* user : kUsers) {
      users += std::string(user) +
               (user[0] == 'u' ? "\tc\ta.com\r\n" : "\tc\tx\tb.com\r\n");
    }
    return users;
  }
  // A session at file system time `fs_now` and clock time `now`.
  SessionResult Run(bool sync, int64_t fs_now, int64_t now) {
    t.mem.SetNow(fs_now);
    t.clock.Set(now);
    SessionEnvironment env;
    env.disk = this;
    env.code_page = t.code_page.get();
    env.texts = &t.texts;
    env.clock = &t.clock;
    env.steady_seconds = [] { return 0.0; };
    env.state = {"C:\\src", "C:\\t", "C:\\src\\mail", "C:\\t\\store", true};
    env.config_states = t.states.get();
    SessionOptions options;
    options.sync = sync;
    RunSession run(env, options, listener);
    session_ = &run;
    SessionResult result = run.Run(&t.host);
    session_ = nullptr;
    told.clear();
    for (const AccountRecord& account : run.record().accounts()) {
      told.push_back(account.user + (account.outcome == AccountOutcome::kSynced
                                         ? " synced"
                                         : " other"));
    }
    return result;
  }
  std::string Record() {
    return RunRecordsFolder(&t.fs, "C:\\t") + "\\sync-record";
  }
  // The record is written at the clock's time: the file system's clock
  // agrees with the machine's when the run ends.
  bool ReplaceContents(const std::string& p, const std::string& c,
                       std::string* e) override {
    if (p == Record()) t.mem.SetNow(t.clock.NowSeconds());
    return FileSystemWrapper::ReplaceContents(p, c, e);
  }
  // Counts the listings of source mailboxes (not of the mail folder) and
  // of target mailboxes' folders.
  bool List(const std::string& pattern,
            std::vector<DirEntry>* entries) override {
    if (pattern.starts_with("C:\\src\\mail\\") &&
        pattern != "C:\\src\\mail\\*") {
      ++source_listings;
    }
    if (pattern.starts_with("C:\\t\\store\\") &&
        std::count(pattern.begin(), pattern.end(), '\\') > 4) {
      ++target_listings;
    }
    return FileSystemWrapper::List(pattern, entries);
  }
  bool WriteFile(const std::string& p, const std::string& c,
                 std::string* e) override {
    if (p == stop_at && session_ != nullptr) session_->RequestStop();
    return FileSystemWrapper::WriteFile(p, c, e);
  }
  // With hold_record, the record is read only after the user list, and
  // then not before a mailbox of the store is looked at (or a while has
  // passed): a run that judges before the record is read looks at one
  // while it is still held.
  bool ReadFile(const std::string& p, std::string* c, std::string* e) override {
    if (hold_record && p == Record()) {
      std::unique_lock<std::mutex> lock(mutex_);
      seen_.wait_for(lock, std::chrono::seconds(10),
                     [this] { return users_read_; });
      seen_.wait_for(lock, std::chrono::milliseconds(200),
                     [this] { return store_looked_at_; });
    }
    const bool read = FileSystemWrapper::ReadFile(p, c, e);
    if (p.ends_with("\\userauth.cfg")) Note(&users_read_);
    return read;
  }
  bool StatusOf(const std::string& p, EntryStatus* s) override {
    if (p.starts_with("C:\\t\\store\\")) Note(&store_looked_at_);
    return FileSystemWrapper::StatusOf(p, s);
  }
  void StatusesIn(const std::string& dir, const std::vector<std::string>& names,
                  std::vector<std::optional<EntryStatus>>* s) override {
    if (dir.starts_with("C:\\t\\store\\")) Note(&store_looked_at_);
    FileSystemWrapper::StatusesIn(dir, names, s);
  }

  MemInstallation t;
  std::string stop_at;
  bool hold_record = false;
  ProgressModel::Listener listener;  // a progress line drawn
  int source_listings = 0;
  int target_listings = 0;
  std::vector<std::string> told;  // the last run's accounts, as recorded

 private:
  void Note(bool* flag) {
    if (!hold_record) return;
    std::lock_guard<std::mutex> lock(mutex_);
    *flag = true;
    seen_.notify_all();
  }

  RunSession* session_ = nullptr;
  std::mutex mutex_;
  std::condition_variable seen_;
  bool users_read_ = false;
  bool store_looked_at_ = false;
};

// A change made at second 300, between a first run (folders made at 200,
// judged at 1000) and a sync (judged at 2000), with what that sync must
// have put into the target (store path => contents) and how many mailboxes
// it may leave unlisted; then a sync with nothing new lists nothing.
struct ChangeRow {
  const char* name;
  std::function<void(SyncPass*)> change;
  std::map<std::string, std::string> copied;
  int unchanged;
  int accounts = 6;
  int added = 0;  // accounts the sync adds (again)
  std::function<void(SyncPass*)> before = nullptr;  // before the first run
};

// u1's source mailbox holds nothing: its target folders hold no copy, and
// only the mailbox folder's own status speaks for them.
void EmptyU1(SyncPass* p) {
  for (const char* name : {"1.in", "Folders.ini", "3.0"}) {
    p->t.fs.RemoveFile(std::string("C:\\src\\mail\\u1\\") + name, nullptr);
  }
}

// The target's user list without the item of `user`.
std::string WithoutUser(std::string list, const std::string& user) {
  const size_t at = list.rfind("<item>", list.find("<name>" + user + "<"));
  size_t end = list.find("</item>", at) + 7;
  while (list[end] == '\r' || list[end] == '\n') ++end;
  list.erase(at, end - at);
  return list;
}

TEST(SyncPassTest, NextSyncListsWhatChangedAndCopiesEveryNewMessage) {
  auto put = [](const char* name, const char* text) {
    return [=](SyncPass* p) { p->t.PutSource(name, text); };
  };
  const ChangeRow rows[] = {
      {"nothing", [](SyncPass*) {}, {}, 6},
      {"message added",
       put("mail\\u1\\4.in", "new"),
       {{"u1\\INBOX\\4.in", "new"}},
       5},
      {"folder added",
       [](SyncPass* p) {
         p->t.PutSource("mail\\u2\\Folders.ini", "Work\r\nNew\r\n");
         p->t.PutSource("mail\\u2\\5.1", "five");
       },
       {{"u2\\New\\5.1", "five"}},
       5},
      // Rewritten in place: only the list's own status tells.
      {"folder list renames a folder",
       put("mail\\v0@b.com\\Folders.ini", "Play\r\n"),
       {{"v0@b.com\\Play\\3.0", "v0@b.com work"}},
       5},
      {"account added to the lists",
       [](SyncPass* p) {
         p->t.PutSource("mail\\u3\\1.in", "u3 in");
         p->t.PutSource("popusers.ini", SyncPass::Users() + "u3\tc\ta.com\r\n");
       },
       {{"u3\\INBOX\\1.in", "u3 in"}},
       6,
       7,
       1},
      {"message removed from the target",
       [](SyncPass* p) {
         p->t.fs.RemoveFile("C:\\t\\store\\u2\\Work\\3.0", nullptr);
       },
       {{"u2\\Work\\3.0", "u2 work"}},
       5},
      // Taken out of the user list, its mailbox left: added again.
      {"account taken out of the user list",
       [](SyncPass* p) {
         p->t.Put("userauth.cfg", WithoutUser(p->t.Get("userauth.cfg"), "u1"));
       },
       {},
       5,
       6,
       1},
      // Left by a killed pass (a sync's mark; an addition's staging
      // folder, spelled otherwise): listed whatever the record says.
      {"pending mark left",
       [](SyncPass* p) {
         p->t.fs.WriteFile("C:\\t\\store\\u1\\velquor-migrate.pending", "sync",
                           nullptr);
       },
       {},
       5},
      {"staging folder left",
       [](SyncPass* p) {
         p->t.fs.CreateDir("C:\\t\\store\\.vmtmp.stage.U2", nullptr);
       },
       {},
       5,
       6,
       1},
      // The same in a mailbox whose source is empty, and a folder gone
      // from it: neither shows in its folders' statuses.
      {"pending mark left in an empty mailbox",
       [](SyncPass* p) {
         p->t.fs.WriteFile("C:\\t\\store\\u1\\velquor-migrate.pending", "sync",
                           nullptr);
       },
       {},
       5,
       6,
       0,
       EmptyU1},
      {"folder removed from an empty mailbox",
       [](SyncPass* p) {
         p->t.fs.RemoveEmptyDir("C:\\t\\store\\u1\\Spam", nullptr);
       },
       {},
       5,
       6,
       0,
       EmptyU1},
      {"record deleted",
       [](SyncPass* p) {
         p->t.fs.RemoveFile(p->Record(), nullptr);
         p->t.PutSource("mail\\u1\\4.in", "new");
       },
       {{"u1\\INBOX\\4.in", "new"}},
       0},
      {"record cut short",
       [](SyncPass* p) {
         const std::string text = p->t.Read(p->Record());
         p->t.fs.WriteFile(p->Record(), text.substr(0, text.size() - 4),
                           nullptr);
       },
       {},
       0},
      {"record of another target",
       [](SyncPass* p) {
         std::string text = p->t.Read(p->Record());
         text.insert(text.find("data-folder ") + 12, "1");
         p->t.fs.WriteFile(p->Record(), text, nullptr);
       },
       {},
       0},
  };
  for (const ChangeRow& row : rows) {
    SCOPED_TRACE(row.name);
    SyncPass p;
    if (row.before) row.before(&p);
    ASSERT_TRUE(p.Run(false, 200, 1000).clean);
    p.t.mem.SetNow(300);
    row.change(&p);
    const SessionResult r = p.Run(true, 300, 2000);
    EXPECT_TRUE(r.clean);
    EXPECT_EQ(r.stats.unchanged_boxes, row.unchanged);
    EXPECT_EQ(r.stats.mail_count, static_cast<int>(row.copied.size()));
    EXPECT_EQ(r.stats.user_count, row.added);
    for (const auto& [path, text] : row.copied)
      EXPECT_EQ(p.t.Store(path), text);
    // A progress line does not list what the sync skips.
    p.listener = [](const ProgressSnapshot&) {};
    p.source_listings = 0;
    const SessionResult again = p.Run(true, 300, 3000);
    EXPECT_EQ(again.stats.unchanged_boxes, row.accounts);
    EXPECT_EQ(again.stats.listed_boxes, 0);
    EXPECT_EQ(p.source_listings, 0);
  }
}

// An account gone from the lists keeps its entry. Once it is gone from the
// user list too, a sync that finds it so vouches for no user list: put
// back in the lists, the account is added again, not taken as existing.
TEST(SyncPassTest, AccountBackInTheListsIsAddedAgainOnceGoneFromTheUserList) {
  SyncPass p;
  ASSERT_TRUE(p.Run(false, 200, 1000).clean);
  std::string without = SyncPass::Users();
  without.erase(without.find("u1\t"),
                without.find("u2\t") - without.find("u1\t"));
  p.t.mem.SetNow(300);
  p.t.PutSource("popusers.ini", without);
  p.t.Put("userauth.cfg", WithoutUser(p.t.Get("userauth.cfg"), "u1"));
  const SessionResult gone = p.Run(true, 300, 2000);
  EXPECT_EQ(gone.stats.unchanged_boxes, 5);
  p.t.mem.SetNow(400);
  p.t.PutSource("popusers.ini", SyncPass::Users());
  const SessionResult back = p.Run(true, 400, 3000);
  EXPECT_TRUE(back.clean);
  EXPECT_EQ(back.stats.user_count, 1);
  EXPECT_EQ(back.stats.unchanged_boxes, 5);
  EXPECT_NE(p.t.Get("userauth.cfg").find("<name>u1<"), std::string::npos);
}

// A sync of many accounts judges them on several threads: only the
// accounts with new mail, spread over the list, are listed, each gets its
// message, and the others are left unlisted. Each account is told once,
// in list order: those before the first one with new mail while the rest
// are still judged, the others after.
TEST(SyncPassTest, ManyAccountsJudgedAtOnceListOnlyTheChanged) {
  SyncPass p;
  std::string users = SyncPass::Users();
  for (int i = 0; i < 40; ++i) {
    const std::string name = "w" + std::to_string(i);
    p.t.PutSource("mail\\" + name + "\\1.in", name);
    users += name + "\tc\ta.com\r\n";
  }
  p.t.PutSource("popusers.ini", users);
  ASSERT_TRUE(p.Run(false, 200, 1000).clean);
  p.t.mem.SetNow(300);
  for (const char* name : {"w0", "w17", "w39"}) {
    p.t.PutSource(std::string("mail\\") + name + "\\4.in", name);
  }
  const SessionResult r = p.Run(true, 300, 2000);
  EXPECT_EQ(r.stats.unchanged_boxes, 43);
  EXPECT_EQ(r.stats.mail_count, 3);
  for (const char* name : {"w0", "w17", "w39"}) {
    EXPECT_EQ(p.t.Store(std::string(name) + "\\INBOX\\4.in"), name);
  }
  // Accounts go by domain, in the domains' order.
  std::vector<std::string> expected = {"u0 synced", "u1 synced", "u2 synced"};
  for (int i = 0; i < 40; ++i) {
    expected.push_back("w" + std::to_string(i) + " synced");
  }
  for (const char* user : {"v0@b.com", "v1@b.com", "v2@b.com"}) {
    expected.push_back(std::string(user) + " synced");
  }
  EXPECT_EQ(p.told, expected);
}

// A folder changed in the very second its status was taken (source: as it
// was listed; target: as the record was written) is doubtful: the next
// sync lists that folder alone, and copies what a second change within
// that second put there although its status is as it was. A doubtful
// folder found as it was is trusted once the clock is past its doubt,
// not before: then no sync lists it again.
TEST(SyncPassTest, FolderChangedWithinTheClockTickIsListedAgain) {
  SyncPass source;
  source.t.mem.SetModifiedTime("C:\\src\\mail\\u1", 999);
  ASSERT_TRUE(source.Run(false, 200, 1000).clean);
  EXPECT_EQ(source.Run(true, 999, 1000).stats.unchanged_boxes, 6);
  source.t.mem.SetNow(999);
  source.t.PutSource("mail\\u1\\4.in", "new");
  const SessionResult r = source.Run(true, 300, 2000);
  EXPECT_EQ(source.t.Store("u1\\INBOX\\4.in"), "new");
  EXPECT_EQ(r.stats.unchanged_boxes, 5);

  SyncPass target;
  ASSERT_TRUE(target.Run(false, 999, 1000).clean);
  target.t.fs.RemoveFile("C:\\t\\store\\u2\\Work\\3.0", nullptr);
  const SessionResult rechecked = target.Run(true, 300, 2000);
  EXPECT_EQ(rechecked.stats.unchanged_boxes, 5);
  EXPECT_EQ(rechecked.stats.listed_boxes, 1);
  EXPECT_EQ(target.t.Store("u2\\Work\\3.0"), "u2 work");
  target.source_listings = 0;
  target.target_listings = 0;
  EXPECT_EQ(target.Run(true, 300, 3000).stats.unchanged_boxes, 6);
  EXPECT_EQ(target.source_listings + target.target_listings, 0);
}

// Two source accounts of one target mailbox: the second is refused by
// every run, also once the first is left unlisted as unchanged, and its
// mail never goes into the first one's mailbox.
TEST(SyncPassTest, AccountSharingAnUnchangedMailboxIsRefusedAgain) {
  SyncPass p;
  p.t.PutSource("mail\\u1@a.com\\7.in", "other");
  p.t.PutSource("popusers.ini", SyncPass::Users() + "u1@a.com\tc\ta.com\r\n");
  ASSERT_FALSE(p.Run(false, 200, 1000).clean);
  const SessionResult r = p.Run(true, 300, 2000);
  EXPECT_FALSE(r.clean);
  EXPECT_EQ(r.stats.unchanged_boxes, 6);
  EXPECT_FALSE(p.t.fs.Exists("C:\\t\\store\\u1\\INBOX\\7.in"));
}

// The record is read on a thread of its own while the run reads the user
// list: a run that judged its accounts before the record was read would
// find nothing recorded and list every mailbox.
TEST(SyncPassTest, AccountsAreJudgedByTheRecordReadAlongside) {
  SyncPass p;
  ASSERT_TRUE(p.Run(false, 200, 1000).clean);
  p.hold_record = true;
  const SessionResult r = p.Run(true, 300, 2000);
  EXPECT_TRUE(r.clean);
  EXPECT_EQ(r.stats.unchanged_boxes, 6);
  EXPECT_EQ(r.stats.listed_boxes, 0);
}

// A sync stopped half way records the mailboxes it finished; the next one
// lists the rest and copies everything the stopped one did not.
TEST(SyncPassTest, SyncAfterAStoppedOneCopiesTheRest) {
  SyncPass p;
  ASSERT_TRUE(p.Run(false, 200, 1000).clean);
  p.t.mem.SetNow(300);
  for (const char* user : SyncPass::kUsers) {
    p.t.PutSource(std::string("mail\\") + user + "\\4.in", user);
  }
  p.stop_at = "C:\\t\\store\\u1\\velquor-migrate.pending";
  const SessionResult stopped = p.Run(true, 300, 2000);
  ASSERT_TRUE(stopped.outcome.stopped);
  EXPECT_EQ(stopped.stats.mail_count, 2);
  p.stop_at.clear();
  const SessionResult rest = p.Run(true, 300, 3000);
  EXPECT_EQ(rest.stats.unchanged_boxes, 2);
  EXPECT_EQ(rest.stats.mail_count, 4);
  for (const char* user : SyncPass::kUsers) {
    EXPECT_EQ(p.t.Store(std::string(user) + "\\INBOX\\4.in"), user);
  }
}

}  // namespace
}  // namespace vm
