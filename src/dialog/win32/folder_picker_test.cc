#include "dialog/win32/folder_picker.h"

#include <gtest/gtest.h>

namespace vm {
namespace {

// The dialog opens at the folder of the program's path (or of a folder
// path ending in a backslash); its result always ends in one. The 0x5C
// trail byte of a GBK name separates nothing.
TEST(FolderPickerTest, StartFolderAndTrailingBackslash) {
  const struct {
    const char* path;
    const char* initial_folder;
    const char* result;
  } kCases[] = {
      {"C:\\", "C:\\", "C:\\"},
      {"D:\\Temp\\", "D:\\Temp", "D:\\Temp\\"},
      {"C:\\VelquorMigrate.exe", "C:\\", "C:\\VelquorMigrate.exe\\"},
      {"C:\\Tools\\VelquorMigrate.exe", "C:\\Tools",
       "C:\\Tools\\VelquorMigrate.exe\\"},
      {"C:\\\xb1\x5c\\m.exe", "C:\\\xb1\x5c", "C:\\\xb1\x5c\\m.exe\\"},
      {"", "", ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(InitialFolder(936, c.path), c.initial_folder) << c.path;
    EXPECT_EQ(WithTrailingBackslash(c.path), c.result) << c.path;
  }
}

// A folder the run's code page (936) cannot name, even one with
// a look-alike in it, is refused.
TEST(FolderPickerTest, ChosenPathMustFitTheCodePage) {
  std::string ansi;
  EXPECT_TRUE(ToAnsiPath(936, L"D:\\\u6536\u4ef6", &ansi));
  EXPECT_EQ(ansi, "D:\\\xca\xd5\xbc\xfe");
  EXPECT_FALSE(ToAnsiPath(936, L"D:\\\u0e01", &ansi));
  EXPECT_FALSE(ToAnsiPath(936, L"D:\\\u00c0", &ansi));
}

TEST(FolderPickerTest, NoResultStringIsRefused) {
  EXPECT_FALSE(PickFolder(936, nullptr, "C:\\", "t"));
}

}  // namespace
}  // namespace vm
