#include "app/win32/folder_picker.h"

#include <gtest/gtest.h>

namespace vm {
namespace {

TEST(FolderPickerTest, InitialSelectionLosesOneTrailingBackslash) {
  struct Case {
    const char* initial;
    const char* selection;
  } cases[] = {
      {"C:\\", "C:"},
      {"D:\\Temp\\", "D:\\Temp"},
      {"D:\\Temp\\\\", "D:\\Temp\\"},
      // A file path, as start-up passes the program's own, goes unchanged.
      {"C:\\Tools\\VelquorMigrate.exe", "C:\\Tools\\VelquorMigrate.exe"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(InitialSelection(c.initial), c.selection) << c.initial;
  }
}

TEST(FolderPickerTest, ResultAlwaysEndsInABackslash) {
  EXPECT_EQ(WithTrailingBackslash("D:\\"), "D:\\");
  EXPECT_EQ(WithTrailingBackslash("D:\\Temp"), "D:\\Temp\\");
  EXPECT_EQ(WithTrailingBackslash(""), "");
}

TEST(FolderPickerTest, NoResultStringIsRefused) {
  EXPECT_FALSE(PickFolder(nullptr, "C:\\"));
}

}  // namespace
}  // namespace vm
