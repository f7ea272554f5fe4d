#include "migrate/mirror_pass.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "migrate/mirror_proofs.h"
#include "testing/mem_file_system.h"

namespace vm {
namespace {

// Counts the listings of each folder.
class CountingFileSystem : public MemFileSystem {
 public:
  bool List(const std::string& pattern,
            std::vector<DirEntry>* entries) override {
    ++lists[pattern.substr(0, pattern.rfind('\\'))];
    return MemFileSystem::List(pattern, entries);
  }
  std::map<std::string, int> lists;
};

DirEntry File(const std::string& dir, const std::string& name) {
  return {name, dir + "\\" + name, 1, false, false, false};
}

std::vector<std::string> Names(const std::vector<DirEntry>& entries) {
  std::vector<std::string> names;
  for (const DirEntry& e : entries) names.push_back(e.name);
  return names;
}

// The target mailbox as the read-ahead listed it a little earlier is taken
// as it is: not listed again, a file gone since is neither taken out nor
// counted as kept, one come since is left alone, and the folder's files
// handed on to the copies are the listing's. A listing of another mailbox
// is not taken. (Nothing is proved, so whatever is gone from the source
// and still there is kept.)
TEST(MirrorPassTest, TakesTheListingMadeAheadOfItsOwnMailboxOnly) {
  for (bool other : {false, true}) {
    CountingFileSystem fs;
    const NameOps names;
    MirrorProofs proofs(names);
    proofs.Seal();
    MirrorPass::Options options;
    options.store = "C:\\t\\store";
    options.runs_dir = "C:\\t\\runs";
    options.holding = "1.held";
    options.preview = true;
    MirrorPass pass(&fs, names, &proofs, nullptr, options);
    const std::string box = "C:\\t\\store\\u";
    const std::string inbox = box + "\\INBOX";
    for (const std::string& dir : {std::string("C:\\t"), options.store, box,
                                   inbox, std::string("C:\\s")}) {
      ASSERT_TRUE(fs.CreateDir(dir, nullptr));
    }
    for (const char* name : {"1.in", "2.in", "4.in"}) {
      ASSERT_TRUE(fs.WriteFile(inbox + "\\" + name, "m", nullptr));
    }
    MailboxListing source;
    source.listed = true;
    source.entries = {File("C:\\s", "1.in")};
    TargetListing ahead;
    ahead.box = other ? box + "2" : box;
    ahead.listed = true;
    ahead.entries = {{"INBOX", inbox, 0, true, false, false}};
    ahead.folders = {std::vector<DirEntry>{
        File(inbox, "1.in"), File(inbox, "2.in"), File(inbox, "3.in")}};
    const std::vector<MirrorPass::Folder> folders =
        pass.Mirror(box, source, StandardFolders("C:\\s"), true, &ahead);
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0].kept, other ? 2 : 1);
    EXPECT_EQ(folders[0].removed, 0);
    EXPECT_EQ(
        Names(folders[0].files),
        (std::vector<std::string>{"1.in", "2.in", other ? "4.in" : "3.in"}));
    EXPECT_EQ(fs.lists[inbox], other ? 1 : 0);
  }
}

}  // namespace
}  // namespace vm
