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

// The test run's code page is 936: a folder it cannot name, even one with
// a look-alike in it, is refused.
TEST(FolderPickerTest, ChosenPathMustFitTheCodePage) {
  std::string ansi;
  EXPECT_TRUE(ToAnsiPath(L"D:\\\u6536\u4ef6", &ansi));
  EXPECT_EQ(ansi, "D:\\\xca\xd5\xbc\xfe");
  EXPECT_FALSE(ToAnsiPath(L"D:\\\u0e01", &ansi));
  EXPECT_FALSE(ToAnsiPath(L"D:\\\u00c0", &ansi));
}

TEST(FolderPickerTest, NoResultStringIsRefused) {
  EXPECT_FALSE(PickFolder(nullptr, "C:\\"));
}

}  // namespace
}  // namespace vm
