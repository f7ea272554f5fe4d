#include "session/changes_only.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "testing/recording_host.h"

namespace vm {
namespace {

class ChangesOnlyFilterTest : public testing::Test {
 protected:
  // A synced account's lines and calls as the run makes them; each folder
  // is its copies and failures.
  void Synced(const std::string& user,
              std::initializer_list<std::pair<int64_t, int64_t>> folders) {
    filter_.AppendLogLine("sync " + user);
    filter_.OnAccountBegin(user, "a.com", "box");
    int n = 0;
    for (const auto& [copied, failed] : folders) {
      const std::string name = user + " folder " + std::to_string(++n);
      filter_.AppendLogLine(name + " ...");
      filter_.RemoveLastLine();
      filter_.AppendLogLine(name + " done");
      FolderCounts counts;
      counts.name = name;
      counts.messages = 3;
      counts.copied = copied;
      counts.failed = failed;
      counts.present = 3 - copied - failed;
      filter_.OnFolder(counts);
      for (int64_t i = 0; i < failed; ++i) {
        filter_.AppendLogLine(name + " failure " + std::to_string(i + 1));
        filter_.SelectLastLine();
      }
    }
    filter_.OnAccountEnd(user, "a.com", AccountOutcome::kSynced, "", "box");
  }

  RecordingHost host_;
  ChangesOnlyFilter filter_{&host_, nullptr};
};

// A folder whose copies all failed copied nothing, yet it is a change the
// list must show with its failures, and so is an account that has only
// such a folder; a folder and an account with nothing new go.
TEST_F(ChangesOnlyFilterTest, KeepsFoldersWithFailuresEvenWithoutCopies) {
  filter_.AppendLogLine("begin");
  Synced("ann", {{0, 0}, {0, 2}, {1, 0}});
  Synced("bob", {{0, 0}, {0, 0}});
  Synced("cy", {{0, 0}, {0, 1}});
  filter_.AppendLogLine("end");
  filter_.Finish();
  EXPECT_EQ(host_.lines, (std::vector<std::string>{
                             "begin",
                             "sync ann",
                             "ann folder 2 done",
                             "ann folder 2 failure 1",
                             "ann folder 2 failure 2",
                             "ann folder 3 done",
                             "sync cy",
                             "cy folder 2 done",
                             "cy folder 2 failure 1",
                             "end",
                         }));
}

}  // namespace
}  // namespace vm
