// The undo as both front ends run it, over an in-memory installation.

#include "session/undo_session.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace vm
