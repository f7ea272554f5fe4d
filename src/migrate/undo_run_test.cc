// The undo of a run from its manifest, against the real run and stores
// over an in-memory installation.

#include "migrate/undo_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>
#include <string>

#include "migrate/stop_request.h"
#include "platform/helpers/file_system_wrapper.h"
#include "platform/helpers/overlay_file_system.h"
#include "testing/golden.h"
#include "testing/mem_installation.h"
#include "testing/recorded_run.h"

namespace vm {
namespace {

// Asks the undo to stop while it removes its second file.
class StopAtSecondRemoval : public FileSystemWrapper {
 public:
  StopAtSecondRemoval(FileSystem* base, StopRequest* stop)
      : FileSystemWrapper(base), stop_(stop) {}
  bool RemoveFile(const std::string& path, std::string* error) override {
    if (++removals_ == 2) stop_->Request();
    return FileSystemWrapper::RemoveFile(path, error);
  }

 private:
  std::atomic<int> removals_{0};
  StopRequest* stop_;
};

class UndoRunTest : public testing::Test {
 protected:
  UndoRunTest() {
    t_.PutSource("domain.ini", "a.com\r\nb.com\r\n");
    t_.PutSource("popusers.ini",
                 "bob\tc\ta.com\r\ncy\tc\ta.com\r\nann@b.com\tc\tx\tb.com\r\n");
    t_.PutSource("mail\\bob\\1.in", "hello");
    t_.PutSource("mail\\bob\\2.in", "again");
    t_.PutSource("mail\\cy\\3.in", "cy's");
    t_.PutSource("mail\\ann@b.com\\4.out", "bye");
    t_.fs.CreateDir(t_.settings.target_mail_dir, nullptr);
  }

  // Every file and folder under the target, with the files' bytes.
  std::map<std::string, std::string> Snapshot() {
    std::map<std::string, std::string> all;
    Walk(MemTarget::kDir, &all);
    return all;
  }
  void Walk(const std::string& dir, std::map<std::string, std::string>* all) {
    std::vector<DirEntry> entries;
    t_.fs.List(dir + "\\*", &entries);
    for (const DirEntry& e : entries) {
      if (e.is_directory) {
        (*all)[e.path] = "<dir>";
        Walk(e.path, all);
      } else {
        (*all)[e.path] = t_.Read(e.path);
      }
    }
  }

  RunManifest Migrate() { return MigrateRecorded(&t_); }

  // A staging folder in the mail store as a run killed while it built the
  // mailbox leaves it: the pending mark and a folder of messages.
  void Stage(const std::string& name) {
    const std::string dir = t_.settings.target_mail_dir + "\\" + name;
    t_.fs.CreateDir(dir, nullptr);
    t_.fs.CreateDir(dir + "\\INBOX", nullptr);
    t_.fs.WriteFile(dir + "\\velquor-migrate.pending", "", nullptr);
    t_.fs.WriteFile(dir + "\\INBOX\\1.in", "one", nullptr);
    t_.fs.WriteFile(dir + "\\INBOX\\2.in", "two", nullptr);
  }

  // Each item as "outcome what (reason)", UTF-8.
  std::string Lines(const UndoResult& result) {
    std::string text;
    for (const UndoItem& item : result.items) {
      text += t_.code_page->ToUtf8(UndoLine(t_.texts, item, false)) + "\n";
    }
    return text;
  }

  MemInstallation t_;
};

// The staging folders of two listed accounts of a.com (the primary domain)
// go; those of other runs stay: ann's mailbox is "ann@b.com", not "ann",
// and dan is none of the run's.
TEST_F(UndoRunTest, UndoGivesBackTheTargetByteForByte) {
  Stage(".vmtmp.stage.ann");
  Stage(".vmtmp.stage.dan");
  const auto before = Snapshot();
  const RunManifest manifest = Migrate();
  ASSERT_NE(Snapshot(), before);
  Stage(".vmtmp.stage.bob");
  Stage(".vmtmp.stage.CY");
  t_.NewRun();
  // A front end's progress counts every item once, whatever its thread.
  std::atomic<int> handled{0};
  const UndoResult result =
      UndoRun(manifest, &t_.context, t_.settings.target_mail_dir, t_.texts,
              false, nullptr, kUndoJobs, [&] { ++handled; });
  EXPECT_TRUE(result.complete()) << Lines(result);
  // 3 accounts, 2 domains, 4 messages, 3 mailboxes of 5 folders each, 2
  // staging folders (no manifest entries: progress counts those).
  EXPECT_EQ(result.removed, 3 + 2 + 4 + 3 * 6 + 2);
  EXPECT_EQ(handled, result.removed - 2);
  EXPECT_EQ(Snapshot(), before);
  // A second undo finds everything gone and changes nothing.
  t_.NewRun();
  const UndoResult again =
      UndoRun(manifest, &t_.context, t_.settings.target_mail_dir, t_.texts,
              false, nullptr);
  EXPECT_TRUE(again.complete());
  EXPECT_EQ(again.gone, result.removed - 2);
  EXPECT_EQ(Snapshot(), before);
}

// A stop lets the removal under way finish and leaves the rest, the
// configuration items included, for a second undo, which completes it.
TEST_F(UndoRunTest, StoppedUndoLeavesTheRestForTheNextOne) {
  const auto before = Snapshot();
  const RunManifest manifest = Migrate();
  const std::string users = t_.Get("userauth.cfg");
  t_.NewRun();
  StopRequest stop;
  StopAtSecondRemoval stopping(&t_.fs, &stop);
  t_.context.fs = &stopping;
  const UndoResult stopped =
      UndoRun(manifest, &t_.context, t_.settings.target_mail_dir, t_.texts,
              false, &stop, 1);
  t_.context.fs = &t_.fs;
  // On one thread, mailbox by mailbox: at least the last mailbox's six
  // folders and the five configuration items are not reached.
  EXPECT_EQ(stopped.removed + stopped.stopped,
            static_cast<int>(stopped.items.size()));
  EXPECT_GE(stopped.stopped, 6 + 5) << Lines(stopped);
  EXPECT_EQ(t_.Get("userauth.cfg"), users);
  t_.NewRun();
  const UndoResult rest =
      UndoRun(manifest, &t_.context, t_.settings.target_mail_dir, t_.texts,
              false, nullptr);
  EXPECT_TRUE(rest.complete()) << Lines(rest);
  EXPECT_EQ(rest.removed, stopped.stopped);
  EXPECT_EQ(Snapshot(), before);
}

// What changed after the run is kept and named: a message of other bytes,
// a mailbox that received mail (with its account, and the domain that
// account needs), an account entry the server changed. A dry run says the
// same and writes nothing.
TEST_F(UndoRunTest, ChangesSinceTheRunAreKeptWithTheirReasons) {
  const RunManifest manifest = Migrate();
  const std::string store = t_.settings.target_mail_dir;
  ASSERT_TRUE(t_.fs.WriteFile(store + "\\bob\\INBOX\\1.in", "HELLO", nullptr));
  ASSERT_TRUE(
      t_.fs.WriteFile(store + "\\ann@b.com\\INBOX\\9.in", "new", nullptr));
  std::string users = t_.Get("userauth.cfg");
  const size_t cy = users.find("<name>cy</name>");
  ASSERT_NE(cy, std::string::npos);
  users.insert(cy, "<note>server</note>");
  t_.Put("userauth.cfg", users);
  // A staging folder holding more than a run stages is kept whole.
  Stage(".vmtmp.stage.bob");
  t_.fs.CreateDir(store + "\\.vmtmp.stage.bob\\INBOX\\deeper", nullptr);

  t_.NewRun();
  const auto changed = Snapshot();
  const UndoResult preview =
      UndoRun(manifest, &t_.context, t_.settings.target_mail_dir, t_.texts,
              true, nullptr);
  EXPECT_EQ(Snapshot(), changed);
  t_.NewRun();
  const UndoResult result =
      UndoRun(manifest, &t_.context, t_.settings.target_mail_dir, t_.texts,
              false, nullptr);
  EXPECT_EQ(Lines(preview), Lines(result));
  // The folders of two mailboxes are made on workers: their order varies.
  std::multiset<std::string> kept;
  for (const UndoItem& item : result.items) {
    if (item.outcome == UndoOutcome::kKept) {
      kept.insert(t_.code_page->ToUtf8(UndoLine(t_.texts, item, false)));
    }
  }
  const std::string s = "已保留:C:\\t\\store\\";
  const std::string why = "（其中有本次运行之外的邮件或文件）";
  const std::multiset<std::string> expected = {
      s + "bob\\INBOX\\1.in（运行后大小或内容已改变）",
      s + "ann@b.com\\INBOX" + why,
      s + "bob\\INBOX" + why,
      s + "ann@b.com" + why,
      s + "bob" + why,
      s + ".vmtmp.stage.bob" + why,
      "已保留:ann@b.com（邮箱中有运行后到达的邮件，帐户与邮箱一并保留）",
      "已保留:bob@a.com（邮箱中有运行后到达的邮件，帐户与邮箱一并保留）",
      "已保留:cy@a.com（运行后该项已被改动）",
      "已保留:b.com（该域名下仍有保留的帐户）",
      "已保留:a.com（该域名下仍有保留的帐户）"};
  EXPECT_EQ(kept, expected);
  EXPECT_EQ(t_.Read(store + "\\bob\\INBOX\\1.in"), "HELLO");
  EXPECT_EQ(t_.Read(store + "\\.vmtmp.stage.bob\\INBOX\\1.in"), "one");
  EXPECT_FALSE(t_.fs.Exists(store + "\\bob\\INBOX\\2.in"));
  EXPECT_FALSE(t_.fs.Exists(store + "\\cy"));
  EXPECT_FALSE(result.complete());
}

// A manifest of the earlier format records message files by their MD5
// digest. Faults: digest records no longer checked (a rewrite that kept
// the size removed), or all taken as changed (an untouched copy kept).
TEST_F(UndoRunTest, VersionOneManifestUndoesByDigest) {
  Migrate();
  const std::string inbox = t_.settings.target_mail_dir + "\\bob\\INBOX\\";
  ASSERT_TRUE(t_.fs.WriteFile(inbox + "1.in", "HELLO", nullptr));
  RunManifest v1;
  int bad_line = 0;
  ASSERT_EQ(ReadManifest(Golden("migrate/undo-v1.manifest"), &v1, &bad_line),
            ManifestStatus::kRead);
  t_.NewRun();
  const UndoResult result = UndoRun(
      v1, &t_.context, t_.settings.target_mail_dir, t_.texts, false, nullptr);
  EXPECT_EQ(
      Lines(result),
      "已删除:C:\\t\\store\\bob\\INBOX\\2.in\n"
      "已保留:C:\\t\\store\\bob\\INBOX\\1.in（运行后大小或内容已改变）\n");
  EXPECT_EQ(t_.Read(inbox + "1.in"), "HELLO");
  EXPECT_FALSE(t_.fs.Exists(inbox + "2.in"));
}

// An account the server added since the run keeps the run's domain it is
// in (whatever the letter case), which would otherwise be left without
// its domain; the run's own accounts and its other domain go. A dry run
// says the same.
TEST_F(UndoRunTest, ADomainTheServerAddedAnAccountToStays) {
  const RunManifest manifest = Migrate();
  std::string users = t_.Get("userauth.cfg");
  const size_t end = users.rfind("</user>");
  ASSERT_NE(end, std::string::npos);
  users.insert(end,
               "<item>\r\n<name>zed</name>\r\n<domain>A.COM</domain>"
               "\r\n</item>\r\n");
  t_.Put("userauth.cfg", users);
  t_.NewRun();
  // As the front ends preview: the stores' saves go to an overlay.
  OverlayFileSystem overlay(&t_.fs, t_.context.names);
  t_.context.fs = &overlay;
  const UndoResult preview =
      UndoRun(manifest, &t_.context, t_.settings.target_mail_dir, t_.texts,
              true, nullptr);
  t_.context.fs = &t_.fs;
  t_.NewRun();
  const UndoResult result =
      UndoRun(manifest, &t_.context, t_.settings.target_mail_dir, t_.texts,
              false, nullptr);
  EXPECT_EQ(Lines(preview), Lines(result));
  EXPECT_EQ(result.kept, 1) << Lines(result);
  EXPECT_NE(Lines(result).find("已保留:a.com（该域名下仍有保留的帐户）"),
            std::string::npos);
  const std::string after = t_.Get("userauth.cfg");
  EXPECT_NE(after.find("<name>zed</name>"), std::string::npos);
  EXPECT_EQ(after.find("<name>bob</name>"), std::string::npos);
}

}  // namespace
}  // namespace vm
