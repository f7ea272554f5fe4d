// The runs a front end offers to undo: the target's own, newest first.

#include "migrate/undo_choices.h"

#include <gtest/gtest.h>

#include "migrate/undo_run.h"
#include "testing/mem_file_system.h"

namespace vm {
namespace {

class UndoChoicesTest : public testing::Test {
 protected:
  UndoChoicesTest() {
    for (const char* dir : {"C:\\t", "C:\\t\\data", "C:\\u", "C:\\runs"}) {
      fs_.CreateDir(dir, nullptr);
    }
  }

  // A manifest of the target `dir` started at `started`, with `accounts`
  // accounts of one domain.
  void Put(const std::string& path, const std::string& dir,
           const std::string& started, int accounts) {
    ManifestHeader header;
    header.target_dir = dir;
    header.started = started;
    FileLocation where;
    ASSERT_TRUE(fs_.Locate(ManifestDataFolder(&fs_, dir), &where));
    header.data_folder = where.chain.front();
    AppendingFileSink sink(&fs_, path);
    ManifestWriter writer(&sink, header);
    writer.Add(DirectoryEntry("C:\\store\\a.com"));
    for (int i = 0; i < accounts; ++i) {
      AddedItem item;
      item.element = "<item>" + std::to_string(i) + "</item>";
      SavedAddition added{"u" + std::to_string(i), "a.com", item};
      writer.Add(AccountEntry(added));
    }
    ASSERT_TRUE(writer.Flush());
  }

  MemFileSystem fs_;
};

// Catches: runs listed in the order of the folder's listing, runs of
// another target offered (their undo would be refused), a folder named
// twice listing its runs twice, one run's manifest kept in two folders
// (beside a report and in the runs folder) listed twice, a damaged
// manifest hidden, and runs of one second ordered by their names as text
// ("-2" before the first). A run undone through one of its two copies
// must not be offered through the other, whichever is found first.
TEST_F(UndoChoicesTest, TheTargetsRunsNewestFirstThenTheUnreadable) {
  const std::string own = RunRecordsFolder(&fs_, "C:\\t");
  EXPECT_EQ(own, "C:\\t\\data\\velquor-migrate-runs");
  fs_.CreateDir(own, nullptr);
  Put(own + "\\a.manifest", "C:\\t", "2026-05-04T08:00:00Z", 1);
  Put(own + "\\b.manifest", "C:\\t", "2026-05-04T09:00:00Z", 2);
  Put(own + "\\b-2.manifest", "C:\\t", "2026-05-04T09:00:00Z", 3);
  Put("C:\\runs\\c.manifest", "C:\\t", "2026-05-03T23:00:00Z", 4);
  Put("C:\\runs\\b.manifest", "C:\\t", "2026-05-04T09:00:00Z", 2);
  Put("C:\\runs\\d.manifest", "C:\\u", "2026-05-05T00:00:00Z", 5);
  ASSERT_TRUE(fs_.WriteFile("C:\\runs\\e.manifest", "torn", nullptr));
  const std::string mark = "\nundone 2026-05-06T00:00:00Z\n";
  for (int accounts : {6, 7}) {
    const std::string name = accounts == 6 ? "\\g.manifest" : "\\h.manifest";
    Put(own + name, "C:\\t", "2026-05-05T01:00:00Z", accounts);
    Put("C:\\runs" + name, "C:\\t", "2026-05-05T01:00:00Z", accounts);
  }
  ASSERT_TRUE(fs_.AppendFile("C:\\runs\\g.manifest", mark, nullptr));
  ASSERT_TRUE(fs_.AppendFile(own + "\\h.manifest", mark, nullptr));
  ASSERT_TRUE(fs_.WriteFile("C:\\runs\\f.log", "not one", nullptr));

  const std::vector<RecordedRun> runs =
      RecordedRuns(&fs_, {own, "C:\\runs", own}, "C:\\t");
  std::vector<std::string> seen;
  for (const RecordedRun& run : runs) {
    seen.push_back(run.path + " " + std::to_string(run.accounts) + " " +
                   std::to_string(run.folders));
  }
  const std::vector<std::string> expected = {
      own + "\\b-2.manifest 3 1", own + "\\b.manifest 2 1",
      own + "\\a.manifest 1 1", "C:\\runs\\c.manifest 4 1",
      "C:\\runs\\e.manifest 0 0"};
  EXPECT_EQ(seen, expected);
  EXPECT_FALSE(runs.back().readable);
  EXPECT_EQ(runs.front().header.started, "2026-05-04T09:00:00Z");
}

}  // namespace
}  // namespace vm
