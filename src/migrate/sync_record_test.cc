#include "migrate/sync_record.h"

#include <gtest/gtest.h>

#include "testing/golden.h"

namespace vm {
namespace {

constexpr FileId kDataFolder{7, 42};

std::string Written(const SyncRecord& record) {
  std::string text;
  EXPECT_TRUE(record.Write([&text](std::string_view piece) {
    text += piece;
    return true;
  }));
  return text;
}

TEST(SyncRecordTest, ReadsAndWritesTheHandWrittenRecord) {
  const std::string golden = Golden("migrate/two-mailboxes.sync-record");
  SyncRecord record(kDataFolder);
  ASSERT_TRUE(record.Parse(golden));
  ASSERT_EQ(record.size(), 2u);
  const SyncEntry* u0 = record.Find("u0");
  ASSERT_NE(u0, nullptr);
  EXPECT_EQ(u0->entries, 3u);
  EXPECT_EQ(u0->source.changed, (StampTime{100, 500}));
  ASSERT_TRUE(u0->has_folder_list);
  EXPECT_FALSE(u0->folder_list.is_directory);
  EXPECT_EQ(u0->folder_list.modified, (StampTime{-1, 999999999}));
  EXPECT_EQ(u0->targets[1].name, "\xd6\xd0\xce\xc4");
  EXPECT_EQ(u0->targets[1].status.id, (FileId{7, 202}));
  EXPECT_TRUE(u0->targets[1].doubt.empty());
  EXPECT_FALSE(u0->source_doubtful);
  ASSERT_EQ(u0->targets.size(), 3u);
  EXPECT_EQ(u0->targets[2].listed, 2u);
  EXPECT_EQ(u0->targets[2].doubt, "00112233445566778899aabbccddeeff");
  const SyncEntry* v1 = record.Find("v1@b.com");
  ASSERT_NE(v1, nullptr);
  EXPECT_FALSE(v1->has_folder_list);
  EXPECT_EQ(v1->lists, "fedcba9876543210fedcba9876543210");
  EXPECT_TRUE(v1->source_doubtful);
  EXPECT_EQ(v1->source_listing, "99887766554433221100ffeeddccbbaa");
  EXPECT_EQ(Written(record), golden);
  // A number of twenty digits is one the writer writes, and reads back.
  std::string wide = golden;
  wide.replace(wide.find("7 202"), 5, "7 18446744073709551615");
  SyncRecord read(kDataFolder);
  ASSERT_TRUE(read.Parse(wide));
  EXPECT_EQ(Written(read), wide);
}

// Each text is the golden one with one fault; none may be used in part.
TEST(SyncRecordTest, RecordNotWholeOrOfAnotherTargetIsNone) {
  const std::string golden = Golden("migrate/two-mailboxes.sync-record");
  auto with = [&golden](const std::string& from, const std::string& to) {
    std::string text = golden;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  const std::string faults[] = {
      golden.substr(0, golden.size() - 4),                    // cut short
      golden.substr(0, golden.size() - 1),                    // no last LF
      with("record 2", "record 1"),                           // other version
      with("data-folder 7 42", "data-folder 7 43"),           // other target
      with("folder-list -", "folder-list"),                   // a field short
      with("100 0 100 500", "100 0 100 1000000000"),          // no time
      with("target 494e424f58 d 7 301", "target - d 7 301"),  // no name
      with("folder-list -\ntarget 494e424f58 d 7 301 4096 200 0 200 0\n",
           "folder-list -\n"),                         // no folder
      with("7530 7530", "7530 -"),                     // no box name
      with("494e424f58", "494E424F58"),                // other spelling
      with("source d 7 100", "source x 7 100"),        // no kind
      with("mailbox 7530 7530", "mailbox 7730 7530"),  // out of key order
      with("folder-list -\n", "folder-list -\nfolder-list -\n"),  // twice
      with("4096 100 0 100 500", "4096 100 0 0100 500"),  // other spelling
      with("doubtful 2 00", "doubtful x 00"),             // no count
      with("doubtful 2 00", "doubtful 00"),               // a field short
      with("doubtful 9988", "doubtful 988"),              // digest cut short
      with("source doubtful", "source doubtful 1"),       // a field more
  };
  for (size_t i = 0; i < std::size(faults); ++i) {
    SCOPED_TRACE(i);
    SyncRecord record(kDataFolder);
    EXPECT_FALSE(record.Parse(faults[i]));
    EXPECT_EQ(record.size(), 0u);
    EXPECT_EQ(record.Find("u0"), nullptr);
  }
}

// A listing's digest stands for a folder's status: it must tell apart
// listings that differ in a name, a size or a kind, in any order.
TEST(SyncRecordTest, ListingDigestTellsEveryDifferenceButOrder) {
  auto entry = [](const char* name, uint64_t size, bool dir = false) {
    DirEntry e;
    e.name = name;
    e.size = size;
    e.is_directory = dir;
    return e;
  };
  const std::string two = ListingDigest({entry("1.in", 5), entry("2.in", 7)});
  EXPECT_EQ(ListingDigest({entry("2.in", 7), entry("1.in", 5)}), two);
  const std::vector<DirEntry> others[] = {
      {entry("1.in", 5)},
      {entry("1.in", 5), entry("2.in", 8)},
      {entry("1.in", 5), entry("3.in", 7)},
      {entry("1.in", 5), entry("2.in", 7, true)},
      {entry("1.in", 5), entry("2.in", 7), entry("2.in", 7)},
      {entry("1.in\t5\tf\n2.in", 7)},
  };
  for (const std::vector<DirEntry>& other : others) {
    EXPECT_NE(ListingDigest(other), two) << other.back().name;
  }
}

// Times within the window of the moment a status was taken, by either of
// its times, or after it, are not trusted; whole seconds get the wider one.
TEST(SyncRecordTest, StatusTakenWithinTheClockPrecisionIsNotSettled) {
  struct Row {
    StampTime modified, changed, at;
    bool settled;
  };
  const Row rows[] = {
      {{100, 0}, {100, 0}, {103, 0}, true},
      {{100, 0}, {100, 0}, {102, 0}, false},
      {{100, 5}, {100, 5}, {101, 6}, true},
      {{100, 5}, {100, 5}, {101, 5}, false},
      {{90, 5}, {100, 5}, {101, 5}, false},
      {{200, 5}, {200, 5}, {101, 5}, false},
  };
  for (const Row& row : rows) {
    EntryStatus status;
    status.modified = row.modified;
    status.changed = row.changed;
    EXPECT_EQ(Settled(status, row.at), row.settled)
        << row.modified.seconds << " " << row.at.seconds;
  }
}

}  // namespace
}  // namespace vm
