#include "app/win32/folder_picker.h"

#include <gtest/gtest.h>

namespace vm {
namespace {

// The browser opens on the initial path less one trailing backslash (a file
// path, as start-up passes the program's own, goes unchanged); its result
// always ends in one.
TEST(FolderPickerTest, TrailingBackslashes) {
  const struct {
    const char* path;
    const char* initial_selection;
    const char* result;
  } kCases[] = {
      {"C:\\", "C:", "C:\\"},
      {"D:\\Temp\\", "D:\\Temp", "D:\\Temp\\"},
      {"D:\\Temp\\\\", "D:\\Temp\\", "D:\\Temp\\\\"},
      {"D:\\Temp", "D:\\Temp", "D:\\Temp\\"},
      {"C:\\Tools\\VelquorMigrate.exe", "C:\\Tools\\VelquorMigrate.exe",
       "C:\\Tools\\VelquorMigrate.exe\\"},
      {"", "", ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(InitialSelection(c.path), c.initial_selection) << c.path;
    EXPECT_EQ(WithTrailingBackslash(c.path), c.result) << c.path;
  }
}

TEST(FolderPickerTest, NoResultStringIsRefused) {
  EXPECT_FALSE(PickFolder(nullptr, "C:\\"));
}

}  // namespace
}  // namespace vm
