// The undo as both front ends run it, over an in-memory installation.

#include "session/undo_session.h"

#include <gtest/gtest.h>

#include "migrate/migration_run.h"
#include "testing/mem_installation.h"

namespace vm {
namespace {

class StringSink : public ManifestSink {
 public:
  bool Append(std::string_view bytes) override {
    text.append(bytes);
    return true;
  }
  bool Flush() override { return true; }
  std::string text;
};

// Catches a dry run that leaves its stores' parses (saved into its
// overlay, the run's items taken out) in the program's shared states: the
// dialog's next preview, or a later run, then reads a target without the
// run's accounts. Twice the same preview, and the undo then removes all.
TEST(UndoSessionTest, APreviewLeavesNothingForTheNextOne) {
  MemInstallation t;
  t.PutSource("domain.ini", "a.com\r\n");
  t.PutSource("popusers.ini", "bob\tc\ta.com\r\ncy\tc\ta.com\r\n");
  t.PutSource("mail\\bob\\1.in", "hello");
  t.fs.CreateDir(t.settings.target_mail_dir, nullptr);
  StringSink sink;
  ManifestWriter writer(&sink, ManifestHeader{});
  t.settings.manifest = &writer;
  ASSERT_TRUE(MigrationRun(&t.host, t.texts, t.settings, &t.context, &t.stats)
                  .succeeded);
  RunManifest manifest;
  int bad_line = 0;
  ASSERT_EQ(ReadManifest(sink.text, &manifest, &bad_line),
            ManifestStatus::kRead);
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
  request.dry_run = false;
  const UndoResult undone = RunUndo(request, manifest);
  EXPECT_TRUE(undone.complete());
  EXPECT_EQ(undone.removed, first.removed);
}

}  // namespace
}  // namespace vm
