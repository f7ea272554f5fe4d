// The undo as both front ends run it, over an in-memory installation.

#include "session/undo_session.h"

#include <gtest/gtest.h>

#include "migrate/undo_choices.h"
#include "platform/helpers/file_system_wrapper.h"
#include "testing/fixed_clock.h"
#include "testing/recorded_run.h"

namespace vm {
namespace {

// A disk whose appends to one file fail, as on a full volume.
class AppendRefused : public FileSystemWrapper {
 public:
  AppendRefused(FileSystem* base, std::string path)
      : FileSystemWrapper(base), path_(std::move(path)) {}
  bool AppendFile(const std::string& path, const std::string& contents,
                  std::string* error) override {
    if (path != path_)
      return FileSystemWrapper::AppendFile(path, contents, error);
    *error = "no room";
    return false;
  }

 private:
  std::string path_;
};

// Catches a dry run that leaves its stores' parses (saved into its
// overlay, the run's items taken out) in the program's shared states: the
// dialog's next preview, or a later run, then reads a target without the
// run's accounts. Twice the same preview, and the undo then removes all,
// also the staging folder a killed run left in the mail store, which the
// undo finds from the target alone (else it stays), and the sync record,
// which could let a sync leave unlooked at what the undo changed (a dry
// run keeps it).
TEST(UndoSessionTest, APreviewLeavesNothingForTheNextOne) {
  MemInstallation t;
  t.PutSource("domain.ini", "a.com\r\n");
  t.PutSource("popusers.ini", "bob\tc\ta.com\r\ncy\tc\ta.com\r\n");
  t.PutSource("mail\\bob\\1.in", "hello");
  t.fs.CreateDir(t.settings.target_mail_dir, nullptr);
  const RunManifest manifest = MigrateRecorded(&t);
  // A run killed while it staged cy's mailbox: the undo finds the store
  // the front ends name only by its target.
  const std::string staged = t.settings.target_mail_dir + "\\.vmtmp.stage.cy";
  t.fs.CreateDir(staged, nullptr);
  t.fs.WriteFile(staged + "\\velquor-migrate.pending", "", nullptr);
  const std::string record =
      RunRecordsFolder(&t.fs, MemTarget::kDir) + "\\sync-record";
  t.fs.CreateDir(record.substr(0, record.rfind('\\')), nullptr);
  t.fs.WriteFile(record, "velquor-migrate-sync-record 3\n", nullptr);
  t.NewRun();

  UndoRequest request;
  request.disk = &t.fs;
  request.code_page = t.code_page.get();
  request.texts = &t.texts;
  request.config_states = t.context.states;
  request.target_dir = MemTarget::kDir;
  request.dry_run = true;
  const UndoResult first = RunUndo(request, manifest);
  const UndoResult second = RunUndo(request, manifest);
  EXPECT_EQ(second.removed, first.removed);
  EXPECT_EQ(second.gone, 0);
  EXPECT_TRUE(t.fs.Exists(staged));
  EXPECT_TRUE(t.fs.Exists(record));
  request.dry_run = false;
  // A record that cannot be removed (a folder with a file in its place)
  // stops the undo before it changes anything; the retry once it is gone
  // removes all.
  ASSERT_TRUE(t.fs.RemoveFile(record, nullptr));
  ASSERT_TRUE(t.fs.CreateDir(record, nullptr));
  ASSERT_TRUE(t.fs.WriteFile(record + "\\x", "", nullptr));
  const UndoResult refused = RunUndo(request, manifest);
  EXPECT_EQ(refused.removed, 0);
  ASSERT_EQ(refused.items.size(), 1u);
  EXPECT_EQ(refused.items[0].what, record.substr(0, record.rfind('\\')));
  EXPECT_EQ(refused.items[0].reason.rfind(t.texts.sync_record_unremoved, 0),
            0u);
  EXPECT_TRUE(t.fs.Exists(staged));
  ASSERT_TRUE(t.fs.RemoveFile(record + "\\x", nullptr));
  ASSERT_TRUE(t.fs.RemoveEmptyDir(record, nullptr));
  ASSERT_TRUE(
      t.fs.WriteFile(record, "velquor-migrate-sync-record 3\n", nullptr));
  const UndoResult undone = RunUndo(request, manifest);
  EXPECT_TRUE(undone.complete());
  EXPECT_EQ(undone.removed, first.removed);
  EXPECT_FALSE(t.fs.Exists(staged));
  EXPECT_FALSE(t.fs.Exists(record));
}

// Both front ends run one session: the dialog's (a preview, its question,
// records in a folder) and the console's (no question) must give the same
// result list, report and end for the same undo; a "no" to the question
// removes nothing, and the undo asked again then removes all. Catches a
// front end whose undo drifts from the other's, and a question answered
// no that removed anything.
TEST(UndoSessionTest, BothFrontEndsGiveOneUndo) {
  struct Side {
    MemInstallation t;
    RunManifest manifest;
    SessionEnvironment env;
  } dialog, console;
  const FixedClock clock;
  for (Side* side : {&dialog, &console}) {
    MemInstallation& t = side->t;
    t.PutSource("domain.ini", "a.com\r\nb.com\r\n");
    t.PutSource("popusers.ini",
                "bob\tc\ta.com\r\ncy\tc\ta.com\r\nbob@b.com\tc\tx\tb.com\r\n");
    t.PutSource("mail\\bob\\1.in", "hello");
    t.PutSource("mail\\bob@b.com\\2.in", "other");
    t.fs.CreateDir(t.settings.target_mail_dir, nullptr);
    side->manifest = MigrateRecorded(&t);
    t.NewRun();
    side->env.disk = &t.fs;
    side->env.code_page = t.code_page.get();
    side->env.texts = &t.texts;
    side->env.clock = &clock;
    side->env.state.target_dir = MemTarget::kDir;
    side->env.config_states = t.context.states;
  }
  dialog.env.record_dirs = {"C:\\records"};
  dialog.env.code_page_name = "CP936";
  // The sessions read the manifest from the disk.
  auto put_manifest = [](Side* side) {
    StringSink sink;
    // The manifest is of this target: its data folder's identity.
    FileLocation where;
    side->t.fs.Locate(MemTarget::kDir, &where);
    side->manifest.header.data_folder = where.chain.front();
    ManifestWriter writer(&sink, side->manifest.header);
    for (const ManifestEntry& e : side->manifest.entries) writer.Add(e);
    writer.Flush();
    side->t.fs.WriteFile("C:\\m.manifest", sink.text, nullptr);
  };
  put_manifest(&dialog);
  put_manifest(&console);
  int asked = 0;
  bool answer = false;
  UndoOptions asks;
  asks.manifest_path = "C:\\m.manifest";
  asks.confirm = [&](const UndoResult& preview) {
    ++asked;
    EXPECT_GT(preview.removed, 0);
    return answer;
  };
  const std::string before = dialog.t.Get("userauth.cfg");
  {
    UndoSession declined(dialog.env, asks);
    declined.Run(&dialog.t.host);
    EXPECT_TRUE(declined.declined());
    EXPECT_EQ(dialog.t.Get("userauth.cfg"), before);
  }
  answer = true;
  UndoSession from_dialog(dialog.env, asks);
  from_dialog.Run(&dialog.t.host);
  UndoOptions plain;
  plain.manifest_path = "C:\\m.manifest";
  // Names read in another code page than the run's are other names: such
  // an undo is refused, both named; the dialog's name for GBK agrees.
  console.env.code_page_name = "UTF-8";
  UndoSession other_code_page(console.env, plain);
  other_code_page.Run(&console.t.host);
  EXPECT_FALSE(other_code_page.started());
  EXPECT_NE(other_code_page.refusal().find("UTF-8"), std::string::npos);
  EXPECT_NE(other_code_page.refusal().find("GBK"), std::string::npos);
  console.env.code_page_name = "CP936";
  UndoSession from_console(console.env, plain);
  from_console.Run(&console.t.host);
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(from_dialog.end(), RunEnd::kSucceeded);
  EXPECT_EQ(from_console.end(), RunEnd::kSucceeded);
  EXPECT_EQ(from_dialog.lines(), from_console.lines());
  for (ReportFormat format :
       {ReportFormat::kJson, ReportFormat::kCsv, ReportFormat::kHtml}) {
    EXPECT_EQ(from_dialog.Report(format), from_console.Report(format));
  }
  // The dialog keeps the page beside the log and the JSON, and is told
  // where, for its end box to offer it.
  const std::string& log = from_dialog.log_path();
  ASSERT_GT(log.size(), 4u);
  EXPECT_EQ(from_dialog.html_path(), log.substr(0, log.size() - 4) + ".html");
  std::string page;
  EXPECT_TRUE(dialog.t.fs.ReadFile(from_dialog.html_path(), &page, nullptr));
  EXPECT_EQ(page, from_dialog.Report(ReportFormat::kHtml));
  EXPECT_TRUE(from_console.log_path().empty());
  EXPECT_TRUE(from_console.html_path().empty());
  EXPECT_EQ(dialog.t.Get("userauth.cfg"), console.t.Get("userauth.cfg"));
}

// Two runs on one target, each with its manifest beside its report and a
// copy in the runs folder; run 2 is undone through the copy beside its
// report, and then run 3 adds run 2's domain and account again. Catches:
// an undo that marks only the copy it was given (the list then offers run
// 2 again, and an undo through its other copy takes out what run 3
// added), a list that offers a run any copy of which says undone, and a
// copy that cannot be marked failing the undo or passing in silence.
TEST(UndoSessionTest, AnUndoneRunStaysUndoneInEveryCopy) {
  MemInstallation t;
  t.fs.CreateDir(t.settings.target_mail_dir, nullptr);
  const std::string runs = RunRecordsFolder(&t.fs, MemTarget::kDir);
  t.fs.CreateDir(runs, nullptr);
  auto migrate = [&t, &runs](const std::string& name,
                             const std::string& started) {
    RunManifest m = MigrateRecorded(&t);
    t.NewRun();
    m.header.started = started;
    FileLocation where;
    t.fs.Locate(MemTarget::kDir, &where);
    m.header.data_folder = where.chain.front();
    StringSink sink;
    ManifestWriter writer(&sink, m.header);
    for (const ManifestEntry& e : m.entries) writer.Add(e);
    writer.Flush();
    t.fs.WriteFile("C:\\" + name + ".manifest", sink.text, nullptr);
    t.fs.WriteFile(runs + "\\" + name + ".manifest", sink.text, nullptr);
    return sink.text;
  };
  t.PutSource("domain.ini", "a.com\r\n");
  t.PutSource("popusers.ini", "bob\tc\ta.com\r\nann\tc\ta.com\r\n");
  t.PutSource("mail\\bob\\1.in", "hello");
  const std::string run1 = migrate("r1", "2026-05-04T08:00:00Z");
  t.PutSource("domain.ini", "b.com\r\n");
  t.PutSource("popusers.ini", "cy\tc\tb.com\r\ndi\tc\tb.com\r\n");
  t.PutSource("mail\\cy\\2.in", "again");
  const std::string run2 = migrate("r2", "2026-05-04T09:00:00Z");

  const FixedClock clock;  // 2023-11-14T22:13:20Z
  SessionEnvironment env;
  env.disk = &t.fs;
  env.code_page = t.code_page.get();
  env.texts = &t.texts;
  env.clock = &clock;
  env.state.target_dir = MemTarget::kDir;
  env.config_states = t.context.states;
  env.code_page_name = "GBK";
  UndoOptions beside;
  beside.manifest_path = "C:\\r2.manifest";
  UndoSession undo(env, beside);
  undo.Run(&t.host);
  ASSERT_EQ(undo.end(), RunEnd::kSucceeded);
  const std::string mark = "\nundone 2023-11-14T22:13:20Z\n";
  EXPECT_EQ(t.Read("C:\\r2.manifest"), run2 + mark);
  EXPECT_EQ(t.Read(runs + "\\r2.manifest"), run2 + mark);
  const std::vector<RecordedRun> offered =
      RecordedRuns(&t.fs, {"C:\\", runs}, MemTarget::kDir);
  ASSERT_EQ(offered.size(), 1u);
  EXPECT_EQ(offered[0].header.started, "2026-05-04T08:00:00Z");

  // Run 3 adds cy and di again; an undo or preview through run 2's other
  // copy touches nothing and says when the run was undone.
  MigrateRecorded(&t);
  t.NewRun();
  env.config_states = t.context.states;
  const std::string users = t.Get("userauth.cfg");
  const std::string domains = t.Get("domain.cfg");
  ASSERT_NE(users.find("<name>di</name>"), std::string::npos);
  for (bool dry_run : {true, false}) {
    UndoOptions other;
    other.manifest_path = runs + "\\r2.manifest";
    other.dry_run = dry_run;
    UndoSession again(env, other);
    again.Run(&t.host);
    EXPECT_EQ(again.end(), RunEnd::kSucceeded);
    ASSERT_EQ(again.lines().size(), 2u);
    EXPECT_NE(again.lines()[1].find("2023-11-14T22:13:20Z"), std::string::npos);
  }
  EXPECT_EQ(t.Get("userauth.cfg"), users);
  EXPECT_EQ(t.Get("domain.cfg"), domains);

  // Run 1's copy in the runs folder cannot be marked: the undo stands,
  // and its list names that copy.
  AppendRefused full(&t.fs, runs + "\\r1.manifest");
  env.disk = &full;
  UndoOptions first;
  first.manifest_path = "C:\\r1.manifest";
  UndoSession undo1(env, first);
  undo1.Run(&t.host);
  EXPECT_EQ(undo1.end(), RunEnd::kSucceeded);
  EXPECT_EQ(t.Read("C:\\r1.manifest"), run1 + mark);
  EXPECT_EQ(t.Read(runs + "\\r1.manifest"), run1);
  ASSERT_GE(undo1.lines().size(), 2u);
  const std::string& named = undo1.lines()[undo1.lines().size() - 2];
  EXPECT_EQ(named.rfind(t.texts.undo_copy_unmarked, 0), 0u);
  EXPECT_NE(named.find("r1.manifest: no room"), std::string::npos);
}

}  // namespace
}  // namespace vm
