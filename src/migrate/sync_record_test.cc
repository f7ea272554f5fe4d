#include "migrate/sync_record.h"

#include <gtest/gtest.h>

#include <functional>

#include "migrate/source_lists.h"
#include "migrate/user_list_vouch.h"
#include "testing/fixed_clock.h"
#include "testing/golden.h"
#include "testing/mem_file_system.h"
#include "util/md5.h"

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
  const std::optional<SyncEntry> u0 = record.Find("u0");
  ASSERT_TRUE(u0.has_value());
  EXPECT_EQ(u0->entries, 3u);
  EXPECT_EQ(u0->source.changed, (StampTime{100, 500}));
  ASSERT_TRUE(u0->has_folder_list);
  EXPECT_FALSE(u0->folder_list.is_directory);
  EXPECT_EQ(u0->folder_list.modified, (StampTime{-1, 999999999}));
  ASSERT_TRUE(u0->has_box_status);
  EXPECT_EQ(u0->box_status.id, (FileId{7, 200}));
  EXPECT_EQ(u0->box_status.changed, (StampTime{150, 7}));
  EXPECT_EQ(u0->targets[1].name, "\xd6\xd0\xce\xc4");
  EXPECT_EQ(u0->targets[1].status.id, (FileId{7, 202}));
  EXPECT_TRUE(u0->targets[1].doubt.empty());
  EXPECT_FALSE(u0->source_doubtful);
  ASSERT_EQ(u0->targets.size(), 3u);
  EXPECT_EQ(u0->targets[2].listed, 2u);
  EXPECT_EQ(u0->targets[2].doubt, "00112233445566778899aabbccddeeff");
  const std::optional<SyncEntry> v1 = record.Find("v1@b.com");
  ASSERT_TRUE(v1.has_value());
  EXPECT_FALSE(v1->has_folder_list);
  EXPECT_FALSE(v1->has_box_status);
  EXPECT_EQ(v1->lists, "fedcba9876543210fedcba9876543210");
  EXPECT_TRUE(v1->source_doubtful);
  EXPECT_EQ(v1->source_listing, "99887766554433221100ffeeddccbbaa");
  ASSERT_TRUE(record.users().has_value());
  EXPECT_EQ(record.users()->id, (FileId{7, 55}));
  EXPECT_EQ(record.users()->size, 20480u);
  EXPECT_EQ(record.users()->changed, (StampTime{90, 250}));
  // The head alone says the same, as soon as it is read.
  EXPECT_EQ(record.UsersInHead(golden.substr(0, 100)), record.users());
  EXPECT_EQ(Written(record), golden);
  // A record of the version before the user list's line keeps its
  // entries, and vouches for no user list.
  std::string older = golden;
  older.replace(older.find("record 4"), 8, "record 3");
  older.erase(older.find("user-list"),
              golden.find("mailbox") - golden.find("user-list"));
  SyncRecord before(kDataFolder);
  ASSERT_TRUE(before.Parse(older));
  EXPECT_EQ(before.size(), 2u);
  EXPECT_FALSE(before.users().has_value());
  EXPECT_FALSE(before.UsersInHead(older).has_value());
  EXPECT_FALSE(SyncRecord({7, 43}).UsersInHead(golden).has_value());
  std::string none = golden;
  none.replace(none.find("user-list f"),
               golden.find("mailbox") - golden.find("user-list f") - 1,
               "user-list -");
  EXPECT_EQ(Written(before), none);
  // Numbers and times at the ends of their ranges are ones the writer
  // writes, and reads back.
  std::string wide = golden;
  auto widen = [&wide](std::string_view from, std::string_view to) {
    wide.replace(wide.find(from), from.size(), to);
  };
  widen("7 202", "7 18446744073709551615");
  widen("d 7 100 4096 100 0 100 500",
        "d 18446744073709551615 100 18446744073709551615 "
        "-9223372036854775807 999999999 9223372036854775807 0");
  widen("doubtful 2", "doubtful 18446744073709551615");
  SyncRecord read(kDataFolder);
  ASSERT_TRUE(read.Parse(wide));
  EXPECT_EQ(Written(read), wide);
  // Many mailboxes (keys a100 to a399 before u0) go out in several pieces:
  // none lost or repeated where one ends.
  const size_t at = golden.find("mailbox 7530");
  const std::string block = golden.substr(at, golden.find("mailbox 7631") - at);
  std::string many = golden.substr(0, at);
  for (int i = 100; i < 400; ++i) {
    std::string hex = "61";
    for (char digit : std::to_string(i)) hex += std::string("3") + digit;
    std::string copy = block;
    copy.replace(8, 9, hex + " " + hex);
    many += copy;
  }
  many += golden.substr(at);
  SyncRecord large(kDataFolder);
  ASSERT_TRUE(large.Parse(many));
  EXPECT_EQ(large.size(), 302u);
  EXPECT_EQ(Written(large), many);
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
      golden.substr(0, golden.size() - 4),  // cut short
      golden.substr(0, golden.size() - 1),  // no last LF
      with("record 4", "record 2"),         // other version
      with("record 4", "record 3"),         // a line the version lacks
      with("user-list f 7 55 20480 90 0 90 250\n", ""),       // no user list
      with("user-list f", "user-list d"),                     // not a file
      with("user-list f 7 55 20480", "user-list f 7 55"),     // a field short
      with("user-list f", "users f"),                         // another line
      with("data-folder 7 42", "data-folder 7 43"),           // other target
      with("folder-list -", "folder-list"),                   // a field short
      with("100 0 100 500", "100 0 100 1000000000"),          // no time
      with("target 494e424f58 d 7 301", "target - d 7 301"),  // no name
      with("mailbox-folder -\ntarget 494e424f58 d 7 301 4096 200 0 200 0\n",
           "mailbox-folder -\n"),  // no folder
      with("folder-list -\nmailbox-folder -\n", "folder-list -\n"),  // no box
      with("folder-list -\nmailbox-folder -\n",
           "mailbox-folder -\nfolder-list -\n"),       // out of order
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
    EXPECT_FALSE(record.Find("u0").has_value());
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

// A source folder changed in the second it was seen is doubtful: a look
// that finds its listing as recorded before the clock is past that second
// skips it but leaves it doubtful, so a change within that second still
// shows; one after it is trusted. The record file's later time makes an
// unsettled status doubtful where a listing can stand for it.
TEST(SyncRecordTest, DoubtfulSourceIsTrustedOnlyPastItsDoubt) {
  MemFileSystem fs;
  FixedClock clock;
  fs.SetNow(999);
  for (const char* dir :
       {"C:\\s", "C:\\s\\u1", "C:\\t", "C:\\t\\u1", "C:\\t\\u1\\INBOX"}) {
    ASSERT_TRUE(fs.CreateDir(dir, nullptr));
  }
  ASSERT_TRUE(fs.WriteFile("C:\\s\\u1\\1.in", "one", nullptr));
  const SourceAccount account{"u1", "a.com", "{md5}x"};
  auto put = [&](SyncRecord* record, bool listing) {
    clock.Set(1000);
    const SourceSeen seen = SeeSource(&fs, "C:\\s\\u1", clock);
    std::vector<DirEntry> listed;
    ASSERT_TRUE(fs.List("C:\\s\\u1\\*", &listed));
    SyncEntry entry;
    entry.box = "u1";
    entry.lists = ListsDigest(account);
    entry.entries = listed.size();
    if (listing) entry.source_listing = ListingDigest(listed);
    entry.targets.push_back({"INBOX", {}, false, {}, 0});
    record->Put("u1", seen, std::move(entry));
    record->Settle(&fs, "C:\\t", clock);
  };
  auto look = [&](const SyncRecord& record, int64_t now, Judgement* j) {
    clock.Set(now);
    return Unchanged(&fs, record, "u1", account, "C:\\s\\u1", "C:\\t\\u1",
                     clock, j);
  };
  SyncRecord record(kDataFolder);
  put(&record, true);
  ASSERT_TRUE(record.Find("u1").has_value());
  Judgement early;
  EXPECT_TRUE(look(record, 1000, &early));
  EXPECT_EQ(early.confirmed, nullptr);
  SyncRecord same(kDataFolder);
  put(&same, true);
  Judgement late;
  ASSERT_TRUE(look(same, 2000, &late));
  ASSERT_NE(late.confirmed, nullptr);
  EXPECT_FALSE(late.confirmed->source_doubtful);
  EXPECT_TRUE(late.confirmed->targets[0].doubt.empty());
  same.Confirm("u1", std::move(*late.confirmed));
  EXPECT_EQ(Written(same).find("doubtful"), std::string::npos);
  EXPECT_TRUE(look(same, 3000, nullptr));
  // What a run confirmed is settled by the file it is written to; what was
  // read back was settled by its own.
  SyncRecord confirmed(kDataFolder), reread(kDataFolder);
  ASSERT_TRUE(confirmed.Parse(Written(same)));
  ASSERT_TRUE(reread.Parse(Written(same)));
  confirmed.Confirm("u1", confirmed.Find("u1").value());
  EXPECT_TRUE(confirmed.DropUnsettledAt({1000, 0}));
  EXPECT_FALSE(confirmed.Find("u1").has_value());  // its inbox unlisted
  EXPECT_FALSE(reread.DropUnsettledAt({1000, 0}));
  // Back in the doubtful second: a second message leaves the times alone.
  fs.SetNow(999);
  ASSERT_TRUE(fs.WriteFile("C:\\s\\u1\\2.in", "two", nullptr));
  EXPECT_FALSE(look(record, 2000, nullptr));
  // Settled by this clock, not by the record file's.
  fs.SetNow(10);
  fs.SetModifiedTime("C:\\s\\u1", 10);
  fs.SetModifiedTime("C:\\t\\u1\\INBOX", 5);
  SyncRecord skewed(kDataFolder), unlisted(kDataFolder);
  put(&skewed, true);
  put(&unlisted, false);
  ASSERT_FALSE(skewed.Find("u1").value().source_doubtful);
  EXPECT_TRUE(skewed.DropUnsettledAt({11, 0}));
  ASSERT_TRUE(skewed.Find("u1").has_value());
  EXPECT_TRUE(skewed.Find("u1")->source_doubtful);
  EXPECT_TRUE(unlisted.DropUnsettledAt({11, 0}));
  EXPECT_FALSE(unlisted.Find("u1").has_value());
}

// A clock that moves on by `step_nanos` each time it is read.
class SteppingClock : public Clock {
 public:
  SteppingClock(int64_t seconds, int64_t step_nanos)
      : nanos_(seconds * 1'000'000'000), step_(step_nanos) {}
  int64_t NowSeconds() const override { return NowStamp().seconds; }
  StampTime NowStamp() const override {
    const int64_t now = nanos_;
    nanos_ += step_;
    return {now / 1'000'000'000, static_cast<uint32_t>(now % 1'000'000'000)};
  }

 private:
  mutable int64_t nanos_;
  int64_t step_;
};

// A run with time to spare waits for the target folders it changed last to
// settle and trusts their statuses; without patience (a sync), or once it
// runs out, it lists them and records them doubtful.
TEST(SyncRecordTest, PatientSettleTrustsWhatItWaitedFor) {
  struct Row {
    int64_t patience_micros;
    int64_t step_nanos;
    bool trusted;
  };
  const Row rows[] = {
      {0, 500'000'000, false},
      {5'000'000, 500'000'000, true},
      {1, 0, false},  // a clock that does not move: it gives up
  };
  for (const Row& row : rows) {
    MemFileSystem fs;
    fs.SetNow(900);
    ASSERT_TRUE(fs.CreateDir("C:\\s", nullptr));
    ASSERT_TRUE(fs.CreateDir("C:\\s\\u1", nullptr));
    fs.SetNow(1000);
    for (const char* dir :
         {"C:\\t", "C:\\t\\u1", "C:\\t\\u1\\INBOX", "C:\\t\\u1\\Sent"}) {
      ASSERT_TRUE(fs.CreateDir(dir, nullptr));
    }
    SteppingClock clock(1000, row.step_nanos);
    SyncRecord record(kDataFolder);
    SyncEntry entry;
    entry.box = "u1";
    entry.lists = ListsDigest({"u1", "a.com", "{md5}x"});
    for (const char* name : {"INBOX", "Sent"}) {
      entry.targets.push_back({name, {}, false, {}, 0});
    }
    record.Put("u1", SeeSource(&fs, "C:\\s\\u1", clock), std::move(entry));
    record.Settle(&fs, "C:\\t", clock, row.patience_micros);
    const std::optional<SyncEntry> e = record.Find("u1");
    ASSERT_TRUE(e.has_value()) << row.patience_micros;
    EXPECT_EQ(e->has_box_status, row.trusted) << row.patience_micros;
    for (const SyncFolder& folder : e->targets) {
      EXPECT_EQ(folder.doubt.empty(), row.trusted) << folder.name;
    }
  }
}

// A doubtful target folder may be listed by names, with the sizes of the
// files the tool wrote told: the digest is then the listing's with sizes,
// as the next sync lists the folder. A size told wrongly (a file changed
// since the tool wrote it) gives another digest, so that the next sync
// lists the mailbox rather than skip it.
TEST(SyncRecordTest, DoubtfulFolderTakesTheSizesItIsTold) {
  for (uint64_t told : {5, 9}) {
    MemFileSystem fs;
    fs.SetNow(900);
    ASSERT_TRUE(fs.CreateDir("C:\\s", nullptr));
    ASSERT_TRUE(fs.CreateDir("C:\\s\\u1", nullptr));
    fs.SetNow(1000);
    for (const char* dir : {"C:\\t", "C:\\t\\u1", "C:\\t\\u1\\INBOX"}) {
      ASSERT_TRUE(fs.CreateDir(dir, nullptr));
    }
    ASSERT_TRUE(fs.WriteFile("C:\\t\\u1\\INBOX\\1.in", "12345", nullptr));
    ASSERT_TRUE(fs.WriteFile("C:\\t\\u1\\INBOX\\2.in", "123", nullptr));
    FixedClock clock(1000);
    SyncRecord record(kDataFolder);
    SyncEntry entry;
    entry.box = "u1";
    entry.lists = ListsDigest({"u1", "a.com", "{md5}x"});
    entry.targets.push_back({"INBOX", {}, false, {}, 0});
    record.Put("u1", SeeSource(&fs, "C:\\s\\u1", clock), std::move(entry));
    std::vector<std::string> asked;
    record.Settle(&fs, "C:\\t", clock, 0,
                  [&](const std::string& path, uint64_t, uint64_t* size) {
                    asked.push_back(path.substr(path.rfind('\\') + 1));
                    if (asked.back() != "1.in") return false;
                    *size = told;
                    return true;
                  });
    EXPECT_EQ(asked, (std::vector<std::string>{"1.in", "2.in"}));
    const std::optional<SyncEntry> e = record.Find("u1");
    ASSERT_TRUE(e.has_value());
    ASSERT_EQ(e->targets.size(), 1u);
    std::vector<DirEntry> listed;
    ASSERT_TRUE(fs.List("C:\\t\\u1\\INBOX\\*", &listed));
    EXPECT_EQ(e->targets[0].listed, 2u);
    EXPECT_EQ(e->targets[0].doubt == ListingDigest(listed), told == 5) << told;
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

namespace vm {
namespace {

// What the record says of the user list as a run leaves it: each row is
// the list's file as the record is saved, after a run that held `kHeld`
// (or never read the list, and found it as the record vouched).
TEST(SyncRecordTest, VouchesForTheUserListOnlyAsTheRunHeldItOnceSettled) {
  const std::string path = "C:\\t\\userauth.cfg";
  const std::string kHeld = "<database><user><item><name>u1</name>";
  struct Row {
    const char* name;
    std::function<void(MemFileSystem*)> change;
    bool carried;
    int64_t clock;
    bool vouched;
    bool same_status = true;  // the file's status is still as held
  };
  const Row rows[] = {
      {"as held", [](MemFileSystem*) {}, false, 200, true},
      // Another writer in the same second, to the same size: the status
      // alone cannot tell; the bytes do.
      {"rewritten in the same second",
       [&](MemFileSystem* fs) {
         fs->WriteFile(path, "<database><user><item><name>u9</name>", nullptr);
       },
       false, 200, false},
      {"changed within the clock's tick", [](MemFileSystem*) {}, false, 100,
       false},
      {"gone", [&](MemFileSystem* fs) { fs->RemoveFile(path, nullptr); }, false,
       200, false, false},
      {"never read, as vouched", [](MemFileSystem*) {}, true, 200, true},
      {"never read, written since",
       [&](MemFileSystem* fs) {
         fs->SetNow(150);
         fs->WriteFile(path, kHeld, nullptr);
       },
       true, 200, false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    MemFileSystem fs;
    fs.SetNow(100);
    ASSERT_TRUE(fs.CreateDir("C:\\t", nullptr));
    ASSERT_TRUE(fs.WriteFile(path, kHeld, nullptr));
    EntryStatus held;
    ASSERT_TRUE(fs.StatusOf(path, &held));
    UsersSeen seen;
    seen.path = path;
    if (row.carried) {
      seen.carried = held;
    } else {
      seen.size = kHeld.size();
      seen.digest = Md5Hex(kHeld);
    }
    row.change(&fs);
    if (row.same_status) {
      EntryStatus now;
      ASSERT_TRUE(fs.StatusOf(path, &now));
      ASSERT_EQ(now, held);
    }
    SyncRecord record(kDataFolder);
    record.SawUsers(seen);
    SettleUsers(&fs, FixedClock(row.clock), 0, &record);
    EXPECT_EQ(record.users().has_value(), row.vouched);
    EntryStatus now;
    if (row.vouched && fs.StatusOf(path, &now)) {
      EXPECT_EQ(*record.users(), now);
    }
    // What was seen is taken once: a later save (the next pass of a
    // watch) vouches for nothing it did not see itself.
    SettleUsers(&fs, FixedClock(row.clock), 0, &record);
    EXPECT_FALSE(record.users().has_value());
  }
}

// The record file's own time is the file system's clock: a list not
// settled by it either is not vouched for.
TEST(SyncRecordTest, UserListNotSettledByTheRecordFilesTimeIsNotVouched) {
  SyncRecord record(kDataFolder);
  EntryStatus list;
  list.id = {7, 55};
  list.modified = list.changed = {150, 0};
  record.SetUsers(list);
  EXPECT_FALSE(record.DropUnsettledAt({300, 0}));
  EXPECT_TRUE(record.users().has_value());
  EXPECT_TRUE(record.DropUnsettledAt({150, 500}));
  EXPECT_FALSE(record.users().has_value());
}

}  // namespace
}  // namespace vm
