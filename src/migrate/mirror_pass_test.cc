#include "migrate/mirror_pass.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "migrate/mailbox_use.h"
#include "migrate/mirror_proofs.h"
#include "testing/mem_file_system.h"

namespace vm {
namespace {

// Counts the listings of each folder, and the files looked at alone.
class CountingFileSystem : public MemFileSystem {
 public:
  bool List(const std::string& pattern,
            std::vector<DirEntry>* entries) override {
    ++lists[pattern.substr(0, pattern.rfind('\\'))];
    return MemFileSystem::List(pattern, entries);
  }
  void StatusesIn(const std::string& dir, const std::vector<std::string>& names,
                  std::vector<std::optional<EntryStatus>>* statuses) override {
    looked.insert(looked.end(), names.begin(), names.end());
    MemFileSystem::StatusesIn(dir, names, statuses);
  }
  std::map<std::string, int> lists;
  std::vector<std::string> looked;
};

MirrorPass::Options PreviewOptions() {
  MirrorPass::Options options;
  options.store = "C:\\t\\store";
  options.runs_dir = "C:\\t\\runs";
  options.holding = "1.held";
  options.preview = true;
  return options;
}

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
    const MirrorPass::Options options = PreviewOptions();
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

// A folder listed by names (sizes untold) gets each size from the proofs
// only for a file the tool wrote that is still that very file (the same
// file number) and of one size in them; any other file is looked at: one
// another file replaced since, one not the tool's, one whose number two
// proofs of other sizes share. A file gone before it could be looked at
// has the folder listed again; so has a mailbox a killed run left, with
// sizes, whatever was listed ahead.
TEST(MirrorPassTest, TellsSizesFromTheProofsOfTheVeryFilesItWrote) {
  enum { kAsListed, kGone, kLeftByKill };
  for (int mode : {kAsListed, kGone, kLeftByKill}) {
    const bool gone = mode == kGone;
    CountingFileSystem fs;
    const NameOps names;
    const MirrorPass::Options options = PreviewOptions();
    const std::string inbox = options.store + "\\u\\INBOX";
    for (const std::string& dir :
         {std::string("C:\\t"), options.store, options.store + "\\u", inbox}) {
      ASSERT_TRUE(fs.CreateDir(dir, nullptr));
    }
    const std::map<std::string, std::string> files = {{"1.in", "12345"},
                                                      {"2.in", "1234567"},
                                                      {"3.in", "1234"},
                                                      {"4.in", "12"}};
    MirrorProofs proofs(names);
    for (const auto& [name, bytes] : files) {
      ASSERT_TRUE(fs.WriteFile(inbox + "\\" + name, bytes, nullptr));
      FileStamp stamp;
      ASSERT_TRUE(fs.StampOf(inbox + "\\" + name, &stamp));
      const std::string key = PathKey(inbox + "\\" + name, names);
      if (name == "1.in") proofs.AddFile(key, 5, "", stamp);
      if (name == "2.in") {
        // Written with 3 bytes as another file, since replaced.
        FileStamp then = stamp;
        then.file += 100;
        proofs.AddFile(key, 3, "", then);
      }
      if (name == "4.in") {
        proofs.AddFile(key, 5, "", stamp);
        proofs.AddFile(key, 6, "", stamp);
      }
    }
    proofs.Seal();
    MirrorPass pass(&fs, names, &proofs, nullptr, options);
    MailboxListing source;
    source.listed = true;
    for (const auto& file : files) {
      source.entries.push_back(File("C:\\s", file.first));
    }
    TargetListing ahead;
    ahead.box = options.store + "\\u";
    ahead.listed = true;
    ahead.entries = {{"INBOX", inbox, 0, true, false, false}};
    std::vector<DirEntry> listed;
    ASSERT_TRUE(fs.ListNames(inbox + "\\*", &listed));
    if (gone) {
      DirEntry old = File(inbox, "0.in");
      old.sized = false;
      listed.push_back(old);
    }
    ahead.folders = {listed};
    const std::vector<MirrorPass::Folder> folders =
        pass.Mirror(ahead.box, source, StandardFolders("C:\\s"), true, &ahead,
                    mode == kLeftByKill);
    ASSERT_EQ(folders.size(), 1u);
    std::map<std::string, uint64_t> told;
    for (const DirEntry& file : folders[0].files) {
      EXPECT_TRUE(file.sized) << file.name;
      told[file.name] = file.size;
    }
    for (const auto& [name, bytes] : files) {
      EXPECT_EQ(told[name], bytes.size()) << name;
    }
    EXPECT_EQ(told.size(), files.size());
    std::vector<std::string> looked = {"2.in", "3.in", "4.in"};
    if (gone) looked.push_back("0.in");
    if (mode == kLeftByKill) looked.clear();
    EXPECT_EQ(fs.looked, looked);
    EXPECT_EQ(fs.lists[inbox], mode == kAsListed ? 1 : 2);
    EXPECT_EQ(folders[0].kept, 0);
  }
}

}  // namespace
}  // namespace vm
