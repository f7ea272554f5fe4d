// The undo as both front ends run it, over an in-memory installation.

#include "session/undo_session.h"

#include <gtest/gtest.h>

#include "testing/fixed_clock.h"
#include "testing/recorded_run.h"

namespace vm {
namespace {

// Catches a dry run that leaves its stores' parses (saved into its
// overlay, the run's items taken out) in the program's shared states: the
// dialog's next preview, or a later run, then reads a target without the
// run's accounts. Twice the same preview, and the undo then removes all,
// also the staging folder a killed run left in the mail store, which the
// undo finds from the target alone (else it stays).
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
  request.dry_run = false;
  const UndoResult undone = RunUndo(request, manifest);
  EXPECT_TRUE(undone.complete());
  EXPECT_EQ(undone.removed, first.removed);
  EXPECT_FALSE(t.fs.Exists(staged));
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

}  // namespace
}  // namespace vm
