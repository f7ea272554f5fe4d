#include "migrate/run_manifest.h"

#include <gtest/gtest.h>

#include <sstream>

#include "testing/golden.h"
#include "testing/mem_file_system.h"

namespace vm {
namespace {

class StringSink : public ManifestSink {
 public:
  bool Append(std::string_view bytes) override {
    if (fail) return false;
    pending += bytes;
    return true;
  }
  bool Flush() override {
    flushed += pending;
    pending.clear();
    return !fail;
  }
  std::string pending;
  std::string flushed;
  bool fail = false;
};

ManifestHeader Header() {
  return {"1.0.0-7-gabc",         "/srv/tarn wick",       FileId{2049, 131074},
          "2026-05-04T08:00:00Z", ManifestRunKind::kSync, "GBK"};
}

ManifestEntry Stamped(const std::string& path, const FileStamp& stamp);
ManifestEntry Found(const std::string& path);

// One entry of each kind; names with a space, "%", code-page bytes, the
// empty name and the name "-", item bytes with CR LF.
std::vector<ManifestEntry> Entries() {
  const std::string zhang = "\xd5\xc5%x";
  // A mirror's move out of a user folder, and that folder's removal.
  const std::string held_from = "/srv/mail/a.com/" + zhang + "/Inbox Old/4.eml";
  const std::string held_to =
      "20260504T080000Z.held\\a.com\\" + zhang + "\\Inbox Old\\4.eml";
  return {
      DomainEntry({"a.com",
                   "",
                   {"<item>\r\n<domain>a.com</domain>\r\n<type>1</type>\r\n"
                    "</item>",
                    {"", "\r\n", ""}}}),
      AccountEntry(
          {zhang,
           "",
           {"<item>\r\n<name>" + zhang + "</name>\r\n<domain/>\r\n</item>",
            {">\r\n", "\r\n</user", "/"}}}),
      AccountEntry({"-", "", {"<item/>", {}}}),
      DirectoryEntry("/srv/mail/a.com/" + zhang + "/Inbox Old"),
      MessageFileEntry("/srv/mail/a.com/" + zhang + "/1.eml", 0,
                       "d41d8cd98f00b204e9800998ecf8427e"),
      MessageFileEntry("C:\\t\\mail\\b", UINT64_MAX,
                       "0123456789abcdef0123456789abcdef"),
      Stamped("/srv/mail/a.com/" + zhang + "/2.eml",
              {131075, 5, {1700000000, 1}, {1750000000, 123456789}}),
      Stamped("C:\\t\\mail\\c", {UINT64_MAX, 0, {-86401, 999999999}, {}}),
      IntentEntry(ManifestEntry::Kind::kDirectory, "/srv/mail/b.com/ann"),
      // "\\" as the trail byte of a double-byte name stays a byte.
      IntentEntry(ManifestEntry::Kind::kMessageFile,
                  "C:\\t\\mail\\\x95\\\\3.eml"),
      AccountEntry({zhang, "", {}}, ManifestEntry::Step::kSaved),
      DomainEntry({"a.com", "", {}}, ManifestEntry::Step::kSaved),
      Found("/srv/mail/b.com/ann"),
      HeldFileEntry(held_from, held_to, ManifestEntry::Step::kIntent),
      HeldFileEntry(held_from, held_to, ManifestEntry::Step::kMade),
      RemovedDirEntry("/srv/mail/a.com/" + zhang + "/Inbox Old",
                      ManifestEntry::Step::kIntent),
      RemovedDirEntry("/srv/mail/a.com/" + zhang + "/Inbox Old",
                      ManifestEntry::Step::kMade),
      PasswordEntry(zhang, "a.com",
                    "<item>\r\n<name>" + zhang +
                        "</name>\r\n<password>{md5}1</password>\r\n</item>",
                    "<item>\r\n<name>" + zhang +
                        "</name>\r\n<password>{md5}2</password>\r\n</item>"),
      PasswordEntry(zhang, "a.com", "", "", ManifestEntry::Step::kSaved),
  };
}

// What version 3 holds of Entries(): all but the mirror's records.
std::vector<ManifestEntry> Version3Entries() {
  std::vector<ManifestEntry> entries = Entries();
  entries.resize(entries.size() - 6);  // without the mirror's records
  return entries;
}

ManifestEntry Found(const std::string& path) {
  ManifestEntry e = DirectoryEntry(path);
  e.step = ManifestEntry::Step::kFound;
  return e;
}

// The entries as a reader gets them back: paths in the manifest's one form.
std::vector<ManifestEntry> AsRead(std::vector<ManifestEntry> entries) {
  for (ManifestEntry& e : entries) {
    for (char& c : e.path) {
      if (c == '/') c = '\\';
    }
  }
  return entries;
}

// What versions 1 and 2 hold of Entries(): the records made, as written.
std::vector<ManifestEntry> EarlierEntries(size_t count) {
  std::vector<ManifestEntry> entries = Entries();
  entries.resize(count);
  for (ManifestEntry& e : entries) e.step = ManifestEntry::Step::kMade;
  return entries;
}

ManifestEntry Stamped(const std::string& path, const FileStamp& stamp) {
  ManifestEntry e;
  EXPECT_TRUE(CopiedFileEntry(path, {stamp.size, "", stamp}, &e));
  return e;
}

TEST(RunManifestTest, WritesAndReadsTheDocumentedFormat) {
  StringSink sink;
  ManifestWriter writer(&sink, Header());
  for (const ManifestEntry& e : Entries()) writer.Add(e);
  ASSERT_TRUE(writer.Flush());
  EXPECT_EQ(sink.flushed, Golden("manifest/run.manifest"));

  RunManifest read;
  int bad_line = -1;
  ASSERT_EQ(ReadManifest(Golden("manifest/run.manifest"), &read, &bad_line),
            ManifestStatus::kRead);
  EXPECT_EQ(read.header, Header());
  EXPECT_EQ(read.entries, AsRead(Entries()));
  EXPECT_FALSE(read.torn_tail);
  EXPECT_EQ(read.undone, "");

  // An undo's mark: the same run, undone; a near miss of it is damage.
  RunManifest marked;
  ASSERT_EQ(
      ReadManifest(Golden("manifest/run-undone.manifest"), &marked, &bad_line),
      ManifestStatus::kRead);
  EXPECT_EQ(marked.entries, read.entries);
  EXPECT_EQ(marked.undone, "2026-05-04T10:00:00Z");
  const std::string run = Golden("manifest/run.manifest");
  for (const char* near : {"\nundone 2026-05-04T10:00:00Z", "\nundone -\n",
                           "\nundone a b\n", "\nundone%20a\n"}) {
    EXPECT_EQ(ReadManifest(run + near, &marked, &bad_line),
              ManifestStatus::kDamaged)
        << near;
  }
}

// Manifests earlier versions wrote (after the fact, no code page) must
// still be undone as they were: version 1 by its MD5 records, without
// stamps; neither holds an intent, a confirmation or a found folder.
TEST(RunManifestTest, ReadsEarlierVersionsAsMade) {
  for (int version : {1, 2}) {
    const std::string text =
        Golden("manifest/run-v" + std::to_string(version) + ".manifest");
    RunManifest read;
    int bad_line = -1;
    ASSERT_EQ(ReadManifest(text, &read, &bad_line), ManifestStatus::kRead);
    EXPECT_EQ(read.header.code_page, "");
    EXPECT_EQ(read.entries, EarlierEntries(version == 1 ? 6 : 8));
    const int next = version == 1 ? 13 : 15;
    for (const char* later :
         {"file-stamp /a 1 2 3.000000000 4.000000000\n", "intent-file /a\n",
          "account-saved a -\n", "dir-found /a\n"}) {
      if (version == 2 && std::string(later).starts_with("file-stamp")) {
        continue;
      }
      EXPECT_EQ(ReadManifest(text + later, &read, &bad_line),
                ManifestStatus::kDamaged)
          << later;
      EXPECT_EQ(bad_line, next) << later;
    }
  }
  // Version 3: everything but a mirror's records, which it cannot hold.
  const std::string v3 = Golden("manifest/run-v3.manifest");
  RunManifest read;
  int bad_line = -1;
  ASSERT_EQ(ReadManifest(v3, &read, &bad_line), ManifestStatus::kRead);
  EXPECT_EQ(read.entries, AsRead(Version3Entries()));
  for (const char* later :
       {"held /a x.held\\a\n", "removed-dir /a\n", "password-saved a -\n"}) {
    EXPECT_EQ(ReadManifest(v3 + later, &read, &bad_line),
              ManifestStatus::kDamaged)
        << later;
    EXPECT_EQ(bad_line, 21) << later;
  }
}

// A run killed at any byte of an unflushed line leaves a manifest that
// reads up to its last whole line; one killed inside the header is
// refused, since it names no target.
TEST(RunManifestTest, KilledRunReadsUpToItsLastWholeLine) {
  StringSink sink;
  ManifestWriter writer(&sink, Header());
  writer.Add(Entries()[0]);
  writer.Add(Entries()[1]);
  ASSERT_TRUE(writer.Flush());
  writer.Add(Entries()[4]);
  ASSERT_TRUE(writer.Flush());
  const std::string two = sink.flushed.substr(
      0, sink.flushed.rfind('\n', sink.flushed.size() - 2) + 1);
  for (size_t cut = two.size(); cut < sink.flushed.size(); ++cut) {
    RunManifest read;
    int bad_line = 0;
    ASSERT_EQ(ReadManifest(sink.flushed.substr(0, cut), &read, &bad_line),
              ManifestStatus::kRead)
        << cut;
    EXPECT_EQ(read.entries.size(), 2u);
    EXPECT_EQ(read.torn_tail, cut > two.size());
    // Undone after the kill: the mark ends the torn line, which is still
    // left out.
    RunManifest undone;
    ASSERT_EQ(ReadManifest(sink.flushed.substr(0, cut) +
                               "\nundone 2026-05-04T10:00:00Z\n",
                           &undone, &bad_line),
              ManifestStatus::kRead)
        << cut;
    EXPECT_EQ(undone.entries, read.entries);
    EXPECT_EQ(undone.torn_tail, read.torn_tail);
    EXPECT_EQ(undone.undone, "2026-05-04T10:00:00Z");
  }
  const size_t header_end = two.find("kind ");
  for (size_t cut : {size_t{0}, size_t{10}, header_end}) {
    RunManifest read;
    int bad_line = 0;
    EXPECT_EQ(ReadManifest(two.substr(0, cut), &read, &bad_line),
              ManifestStatus::kDamaged);
    EXPECT_EQ(bad_line, cut == header_end ? 6 : 1);
  }
}

TEST(RunManifestTest, RefusesADamagedLineWithItsNumber) {
  const struct {
    int line;
    const char* text;
    ManifestStatus status;
  } kCases[] = {
      {1, "velquor-migrate-manifest 5", ManifestStatus::kUnsupportedVersion},
      {1, "velquor-migrate-manifest 0", ManifestStatus::kUnsupportedVersion},
      {1, "velquor-migrate-manifest 01", ManifestStatus::kDamaged},
      {4, "data-folder 2049", ManifestStatus::kDamaged},
      {6, "kind undo", ManifestStatus::kDamaged},
      {7, "codepage", ManifestStatus::kDamaged},
      {7, "code-page GBK", ManifestStatus::kDamaged},
      {8, "domain a.com - <item/> -", ManifestStatus::kDamaged},
      {8, "domain a.com - - - -", ManifestStatus::kDamaged},
      {9, "account %d5 - - <item/> - -", ManifestStatus::kDamaged},
      {9, "account %41 - - <item/> - -", ManifestStatus::kDamaged},
      {9, "account x - - <item/> - %", ManifestStatus::kDamaged},
      {10, "account  x - <item/> - -", ManifestStatus::kDamaged},
      {11, "dir /a\r", ManifestStatus::kDamaged},
      {12, "file /a 18446744073709551616 d41d8cd98f00b204e9800998ecf8427e",
       ManifestStatus::kDamaged},
      {12, "file /a 1 D41D8CD98F00B204E9800998ECF8427E",
       ManifestStatus::kDamaged},
      {13, "undo /a", ManifestStatus::kDamaged},
      {14, "file-stamp /a 1 2 3.000000000 -0.000000000",
       ManifestStatus::kDamaged},
      {14, "file-stamp /a 1 2 03.000000000 4.000000000",
       ManifestStatus::kDamaged},
      {15, "file-stamp /a 1 2 3.5 4.000000000", ManifestStatus::kDamaged},
      {15, "file-stamp /a 1 2 3.000000000 4.0000000000",
       ManifestStatus::kDamaged},
      {15, "file-stamp /a 1 2 3.000000000 +4.000000000",
       ManifestStatus::kDamaged},
      {15, "file-stamp /a 1 2 3.000000000", ManifestStatus::kDamaged},
      {16, "intent-dir", ManifestStatus::kDamaged},
      {17, "intent-file /a 1 d41d8cd98f00b204e9800998ecf8427e",
       ManifestStatus::kDamaged},
      {18, "account-saved a", ManifestStatus::kDamaged},
      {19, "domain-saved - ", ManifestStatus::kDamaged},
      {20, "dir-found -", ManifestStatus::kDamaged},
      {21, "intent-hold /a", ManifestStatus::kDamaged},
      {22, "held /a - -", ManifestStatus::kDamaged},
      {22, "held - x.held\\a", ManifestStatus::kDamaged},
      {23, "intent-remove-dir /a /b", ManifestStatus::kDamaged},
      {24, "removed-dir", ManifestStatus::kDamaged},
      {25, "password a a.com <item/> -", ManifestStatus::kDamaged},
      {25, "password a a.com <item/>", ManifestStatus::kDamaged},
      {26, "password-saved a a.com <item/>", ManifestStatus::kDamaged},
  };
  for (const auto& c : kCases) {
    std::istringstream golden(Golden("manifest/run.manifest"));
    std::string text;
    int n = 0;
    for (std::string line; std::getline(golden, line);) {
      text += (++n == c.line ? std::string(c.text) : line) + "\n";
    }
    RunManifest read;
    int bad_line = 0;
    EXPECT_EQ(ReadManifest(text, &read, &bad_line), c.status) << c.text;
    EXPECT_EQ(bad_line, c.line) << c.text;
    EXPECT_TRUE(read.entries.empty()) << c.text;
  }
}

// A manifest that missed records must not pass for a complete one, even
// when the sink works again later.
TEST(RunManifestTest, AFailedFlushStaysReported) {
  StringSink sink;
  ManifestWriter writer(&sink, Header());
  sink.fail = true;
  EXPECT_FALSE(writer.Flush());
  sink.fail = false;
  writer.Add(Entries()[3]);
  EXPECT_FALSE(writer.Flush());

  MemFileSystem fs;
  AppendingFileSink file(&fs, "C:\\run.manifest");
  ManifestWriter on_disk(&file, Header());
  on_disk.Add(Entries()[3]);
  ASSERT_TRUE(on_disk.Flush());
  on_disk.Add(Entries()[4]);
  std::string text;
  ASSERT_TRUE(fs.ReadFile("C:\\run.manifest", &text, nullptr));
  RunManifest read;
  int bad_line = 0;
  ASSERT_EQ(ReadManifest(text, &read, &bad_line), ManifestStatus::kRead);
  EXPECT_EQ(read.entries.size(), 1u);
  ASSERT_TRUE(on_disk.Flush());
  ASSERT_TRUE(fs.ReadFile("C:\\run.manifest", &text, nullptr));
  ASSERT_EQ(ReadManifest(text, &read, &bad_line), ManifestStatus::kRead);
  EXPECT_EQ(read.entries.size(), 2u);
}

}  // namespace
}  // namespace vm
