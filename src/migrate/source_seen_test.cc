#include "migrate/source_seen.h"

#include <gtest/gtest.h>

#include <string>

#include "migrate/source_mailbox.h"
#include "testing/fixed_clock.h"
#include "testing/mem_file_system.h"

namespace vm {
namespace {

// The folder list's status is taken as the listing spells its name, in
// any case; a folder of that name is none, nor is one the listing lacks.
TEST(SyncRecordTest, FolderListIsSeenAsTheListingSpellsIt) {
  MemFileSystem fs;
  fs.SetNow(1000);
  FixedClock clock(2000);
  const struct {
    const char* box;
    const char* made;  // under the box; "" for none
    bool dir;
  } rows[] = {{"C:\\s\\a", "FOLDERS.INI", false},
              {"C:\\s\\b", "Folders.ini", true},
              {"C:\\s\\c", "", false}};
  ASSERT_TRUE(fs.CreateDir("C:\\s", nullptr));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.box);
    ASSERT_TRUE(fs.CreateDir(row.box, nullptr));
    ASSERT_TRUE(fs.WriteFile(std::string(row.box) + "\\1.in", "m", nullptr));
    const std::string made = std::string(row.box) + "\\" + row.made;
    if (*row.made != 0) {
      ASSERT_TRUE(row.dir ? fs.CreateDir(made, nullptr)
                          : fs.WriteFile(made, "[Folders]", nullptr));
    }
    const MailboxListing listing(&fs, row.box, &clock);
    ASSERT_TRUE(listing.listed);
    const bool file = *row.made != 0 && !row.dir;
    EXPECT_EQ(listing.seen.has_folder_list, file);
    EntryStatus status;
    if (file) {
      ASSERT_TRUE(fs.StatusOf(made, &status));
      EXPECT_TRUE(listing.seen.folder_list == status);
    }
  }
}

}  // namespace
}  // namespace vm
