#include "migrate/mailbox_migrator.h"

#include <gtest/gtest.h>

#include "migrate/texts.h"
#include "platform/code_page.h"
#include "testing/mem_file_system.h"
#include "testing/recording_host.h"

namespace vm {
namespace {

std::string IndexLine(const std::string& name, const std::string& flag) {
  return name + "\f\ta\f\tb\f\tc\f\t1\f\t0\f\tN\f\t" + flag + "\f\tx\r\n";
}

class MailboxMigratorTest : public testing::Test {
 protected:
  void SetUp() override {
    texts_ = MakeTexts(*OpenCodePage("GBK"));
    for (const char* dir : {"C:\\src", "C:\\src\\mail", "C:\\out"}) {
      ASSERT_TRUE(fs_.CreateDir(dir));
    }
  }

  // Creates the source mailbox of `user` with files name -> contents.
  void MakeBox(const std::string& user,
               const std::vector<std::pair<std::string, std::string>>& files) {
    std::string box = "C:\\src\\mail\\" + user;
    ASSERT_TRUE(fs_.CreateDir(box));
    for (const auto& [name, contents] : files) {
      ASSERT_TRUE(fs_.WriteFile(box + "\\" + name, contents, nullptr));
    }
  }

  bool Migrate(const std::string& user, const std::string& domain,
               const std::string& primary = "example.com") {
    MailboxMigrator::Options options;
    options.source_dir = "C:\\src";
    options.target_mail_dir = "C:\\out\\store";
    MailboxMigrator migrator(&fs_, &host_, texts_, options, &stats_);
    bool ok = migrator.MigrateMailbox(SourceAccount{user, domain, ""}, primary);
    failure_lines_ = migrator.failure_lines();
    return ok;
  }

  std::string Read(const std::string& path) {
    std::string contents;
    EXPECT_TRUE(fs_.ReadFile(path, &contents, nullptr)) << path;
    return contents;
  }

  MemFileSystem fs_;
  RecordingHost host_;
  Texts texts_;
  MigrationStats stats_;
  int failure_lines_ = 0;
};

TEST_F(MailboxMigratorTest, EmptyMailboxLogsFourFoldersWithZeroCounts) {
  ASSERT_TRUE(Migrate("bob", "example.com"));
  std::vector<std::string> expected_events;
  for (int i = 0; i < 4; ++i) {
    expected_events.push_back("log " + texts_.standard_in_progress[i]);
    expected_events.push_back("remove");
    expected_events.push_back("log " + texts_.standard_done[i] + " 0!");
    expected_events.push_back("select " + std::to_string(i));
  }
  EXPECT_EQ(host_.events, expected_events);
  for (const char* folder : {"INBOX", "Sent", "Draft", "Trash", "Spam"}) {
    EXPECT_TRUE(fs_.Exists(std::string("C:\\out\\store\\bob\\") + folder));
  }
  EXPECT_EQ(stats_.mail_count, 0);
  EXPECT_EQ(failure_lines_, 0);
}

TEST_F(MailboxMigratorTest, TargetDirectoryDependsOnPrimaryDomainExactly) {
  struct Case {
    std::string user, domain, primary, box;
  } cases[] = {
      {"bob", "example.com", "example.com", "bob"},
      {"bob@example.com", "example.com", "example.com", "bob"},
      {"ann", "other.org", "example.com", "ann@other.org"},
      {"eve", "Example.com", "example.com", "eve@Example.com"},
  };
  for (const Case& c : cases) {
    MakeBox(c.user, {{"1.in", "m"}});
    Migrate(c.user, c.domain, c.primary);
    EXPECT_EQ(Read("C:\\out\\store\\" + c.box + "\\INBOX\\1.in"), "m")
        << c.user;
  }
}

TEST_F(MailboxMigratorTest, IndexFlagGivesSizedName) {
  MakeBox("bob",
          {{"12.in", std::string(2048, 'x')},
           {"1.in", "one"},
           {"3.in", "three"},
           {"5.sed", "five"},
           {"__r_in.ini", IndexLine("11.in", "1") + IndexLine("12.in", "1") +
                              IndexLine("3.in", "2") + IndexLine("1.in", "0")},
           {"__r_sed.ini", IndexLine("5.sed", "01")}});
  Migrate("bob", "example.com");
  std::string box = "C:\\out\\store\\bob\\";
  EXPECT_EQ(Read(box + "INBOX\\12.in,S=2048.0.S").size(), 2048u);
  // "1.in" is contained in the line about "11.in" and takes its flag.
  EXPECT_EQ(Read(box + "INBOX\\1.in,S=3.0.S"), "one");
  EXPECT_EQ(Read(box + "INBOX\\3.in"), "three");
  EXPECT_EQ(Read(box + "Sent\\5.sed,S=4.0.S"), "five");
  EXPECT_FALSE(fs_.Exists(box + "INBOX\\__r_in.ini"));
  EXPECT_EQ(stats_.mail_count, 4);
  EXPECT_EQ(host_.lines[0], texts_.standard_done[0] + " 3!");
  EXPECT_EQ(host_.lines[1], texts_.standard_done[1] + " 1!");
}

TEST_F(MailboxMigratorTest, UserFoldersKeepTheirNumbersAndRefuseUnsafeNames) {
  std::string folder_list =
      "Work\t0\t0\r\n"    // 0
      "..\\..\\evil\r\n"  // 1: refused, keeps its number
      "\r\n"              // 2: empty name, refused
      "Private\r\n";      // 3: no TAB, taken whole
  MakeBox("bob", {{"Folders.ini", folder_list},
                  {"a.0", "work"},
                  {"b.1", "evil"},
                  {"c.3", "private"},
                  {"__r_3.ini", IndexLine("c.3", "1")}});
  Migrate("bob", "example.com");
  std::string box = "C:\\out\\store\\bob\\";
  EXPECT_EQ(Read(box + "Work\\a.0"), "work");
  EXPECT_EQ(Read(box + "Private\\c.3,S=7.0.S"), "private");
  EXPECT_FALSE(fs_.Exists("C:\\evil"));
  EXPECT_FALSE(fs_.Exists("C:\\out\\evil"));
  EXPECT_EQ(stats_.mail_count, 2);
  EXPECT_EQ(failure_lines_, 2);
  std::vector<std::string> tail(host_.lines.end() - 4, host_.lines.end());
  const std::string& indent = texts_.folder_indent;
  EXPECT_EQ(tail, (std::vector<std::string>{
                      indent + "Work" + texts_.user_folder_done,
                      indent + texts_.unsafe_folder_name + "..\\..\\evil",
                      indent + texts_.unsafe_folder_name,
                      indent + "Private" + texts_.user_folder_done}));
}

TEST_F(MailboxMigratorTest, ExistingTargetCountsButFailedCopyIsReported) {
  MakeBox("bob", {{"1.in", "new"}, {"2.in", "two"}});
  ASSERT_TRUE(fs_.CreateDir("C:\\out\\store"));
  ASSERT_TRUE(fs_.CreateDir("C:\\out\\store\\bob"));
  ASSERT_TRUE(fs_.CreateDir("C:\\out\\store\\bob\\INBOX"));
  ASSERT_TRUE(
      fs_.WriteFile("C:\\out\\store\\bob\\INBOX\\1.in", "old", nullptr));
  fs_.FailPath("C:\\out\\store\\bob\\INBOX\\2.in");
  Migrate("bob", "example.com");
  EXPECT_EQ(Read("C:\\out\\store\\bob\\INBOX\\1.in"), "old");
  EXPECT_EQ(stats_.mail_count, 2);
  EXPECT_EQ(stats_.failed_copies, 1);
  EXPECT_EQ(failure_lines_, 1);
  // The done line replaces the in-progress line; the failure follows it.
  ASSERT_GE(host_.lines.size(), 2u);
  EXPECT_EQ(host_.lines[0], texts_.standard_done[0] + " 2!");
  EXPECT_EQ(host_.lines[1].rfind(texts_.folder_indent + texts_.copy_failed +
                                     "C:\\src\\mail\\bob\\2.in",
                                 0),
            0u)
      << host_.lines[1];
}

TEST_F(MailboxMigratorTest, UnsafeUserNameCreatesNothing) {
  for (const char* user : {"..", "a\\b", "con", "x:y"}) {
    EXPECT_FALSE(Migrate(user, "example.com")) << user;
    EXPECT_EQ(failure_lines_, 1);
  }
  EXPECT_FALSE(fs_.Exists("C:\\out\\store"));
  EXPECT_EQ(host_.lines.back(), texts_.unsafe_mailbox_name + "x:y");
}

TEST_F(MailboxMigratorTest, DirectoriesInTheSourceAreNotCopied) {
  MakeBox("bob", {{"1.in", "m"}});
  ASSERT_TRUE(fs_.CreateDir("C:\\src\\mail\\bob\\sub.in"));
  Migrate("bob", "example.com");
  EXPECT_EQ(stats_.mail_count, 1);
  EXPECT_FALSE(fs_.Exists("C:\\out\\store\\bob\\INBOX\\sub.in"));
}

// A folder list that exists but cannot be read is named, and the standard
// folders are still copied; an index that cannot be read leaves the names
// unsized but copies every message.
TEST_F(MailboxMigratorTest, UnreadableFolderListAndIndexAreNotSilent) {
  MakeBox("bob", {{"1.in", "one"}, {"2.0", "two"}});
  ASSERT_TRUE(fs_.CreateDir("C:\\src\\mail\\bob\\Folders.ini"));
  ASSERT_TRUE(fs_.CreateDir("C:\\src\\mail\\bob\\__r_in.ini"));
  EXPECT_TRUE(Migrate("bob", "example.com"));
  // The index line is a note after the folder's done line, not a failure.
  EXPECT_EQ(failure_lines_, 1);
  ASSERT_EQ(host_.lines.size(), 6u);
  EXPECT_EQ(host_.lines[0], texts_.standard_done[0] + " 1!");
  EXPECT_EQ(host_.lines[1], texts_.folder_indent + texts_.index_unreadable +
                                "C:\\src\\mail\\bob\\__r_in.ini");
  EXPECT_EQ(host_.lines.back(), texts_.folder_indent +
                                    texts_.folder_list_unreadable +
                                    "C:\\src\\mail\\bob\\Folders.ini");
  EXPECT_EQ(Read("C:\\out\\store\\bob\\INBOX\\1.in"), "one");
  EXPECT_EQ(stats_.mail_count, 1);
  EXPECT_EQ(stats_.failed_copies, 0);
}

}  // namespace
}  // namespace vm
