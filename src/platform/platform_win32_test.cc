// Behaviour only the Windows implementations have: the named mutex, the
// replace that cannot rename, the registry and the ANSI code page.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <thread>

#include "platform/change_notice.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/interprocess_lock.h"
#include "platform/registry.h"
#include "platform/wide_text_win32.h"

namespace vm {
namespace {

std::string TempDir() {
  char buffer[MAX_PATH] = {};
  DWORD length = GetTempPathA(MAX_PATH, buffer);
  std::string dir(buffer, length);
  dir += "vm_win32_test_" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

// One named mutex: a dead owner's abandoned hold counts as ownership for the
// next taker, and a held mutex excludes every other holder of the name.
TEST(NamedMutexTest, AbandonedHoldPassesOnAndAHeldOneExcludes) {
  std::string name = "Tarnwick_vmtest_" + std::to_string(GetCurrentProcessId());
  auto first = OpenInterprocessLock(name);
  ASSERT_NE(first, nullptr);
  // A thread that ends while owning a mutex abandons it, as a process that
  // dies does.
  std::thread owner(
      [&] { ASSERT_EQ(first->LockWithin(0), LockResult::kLocked); });
  owner.join();
  auto second = OpenInterprocessLock(name);
  ASSERT_NE(second, nullptr);
  ASSERT_EQ(second->LockWithin(0), LockResult::kLocked);
  DWORD wait_result = WAIT_FAILED;
  std::thread other([&] {
    HANDLE handle = OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
    ASSERT_NE(handle, nullptr);
    wait_result = WaitForSingleObject(handle, 0);
    if (wait_result == WAIT_OBJECT_0) ReleaseMutex(handle);
    CloseHandle(handle);
  });
  other.join();
  EXPECT_EQ(wait_result, static_cast<DWORD>(WAIT_TIMEOUT));
  second->Unlock();
}

class ReplaceContentsTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = TempDir();
    path_ = dir_ + "\\domain.cfg";
    fs_ = NewDiskFileSystem();
    ASSERT_TRUE(fs_->WriteFile(path_, "old", nullptr));
  }
  void TearDown() override {
    DeleteFileA(path_.c_str());
    RemoveDirectoryA(dir_.c_str());
  }

  // The names in the directory besides the target: a replace must leave no
  // temporary file behind, whichever way it went.
  int OtherEntries() {
    std::vector<DirEntry> entries;
    EXPECT_TRUE(fs_->List(dir_ + "\\*", &entries));
    return static_cast<int>(entries.size()) - 1;
  }

  std::string dir_;
  std::string path_;
  std::unique_ptr<FileSystem> fs_;
};

// The new file keeps what the replaced file had (a rename would give it
// the attributes and security descriptor of a fresh file).
TEST_F(ReplaceContentsTest, KeepsTheReplacedFilesAttributes) {
  const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  ASSERT_TRUE(SetFileAttributesA(path_.c_str(), kept));
  if ((GetFileAttributesA(path_.c_str()) & kept) != kept) {
    GTEST_SKIP() << "this file system keeps no DOS attributes";
  }
  std::string error;
  ASSERT_TRUE(fs_->ReplaceContents(path_, "new text", &error)) << error;
  EXPECT_EQ(GetFileAttributesA(path_.c_str()) & kept, kept);
  std::string contents;
  ASSERT_TRUE(fs_->ReadFile(path_, &contents, nullptr));
  EXPECT_EQ(contents, "new text");
  EXPECT_EQ(OtherEntries(), 0);
  SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A reader sharing read and write but not delete blocks the rename, so the
// text is rewritten in place; a holder sharing nothing blocks both, so the
// replace fails and keeps the old text.
TEST_F(ReplaceContentsTest, TargetHeldOpenByAnotherHandle) {
  const struct {
    DWORD share;
    bool replaced;
    const char* contents;
  } kCases[] = {
      {FILE_SHARE_READ | FILE_SHARE_WRITE, true, "rewritten"},
      {0, false, "rewritten"},
  };
  for (const auto& c : kCases) {
    HANDLE holder = CreateFileA(path_.c_str(), GENERIC_READ, c.share, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    std::string error;
    bool replaced =
        fs_->ReplaceContents(path_, c.replaced ? "rewritten" : "lost", &error);
    CloseHandle(holder);
    EXPECT_EQ(replaced, c.replaced) << c.share << " " << error;
    EXPECT_EQ(error.empty(), c.replaced) << c.share;
    std::string contents;
    ASSERT_TRUE(fs_->ReadFile(path_, &contents, nullptr));
    EXPECT_EQ(contents, c.contents) << c.share;
    EXPECT_EQ(OtherEntries(), 0) << c.share;
  }
}

TEST(RegistryTest, ReadsStringValuesOfAnOpenableKey) {
  const char kKey[] = "Software\\VelquorMigrateTest\\Server\\";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const char kValue[] = "D:\\Mail\\bin\\server.exe";
  RegSetValueExA(key, "ImagePath", 0, REG_EXPAND_SZ,
                 reinterpret_cast<const BYTE*>(kValue), sizeof(kValue));
  RegCloseKey(key);

  auto registry = OpenSystemRegistry();
  std::string result = "stale";
  bool found = false;
  ASSERT_TRUE(registry->ReadString(kKey, "ImagePath", &result, &found));
  EXPECT_TRUE(found);
  EXPECT_EQ(result, kValue);
  ASSERT_TRUE(registry->ReadString(kKey, "ProgPath", &result, &found));
  EXPECT_FALSE(found);
  EXPECT_EQ(result, "");
  EXPECT_FALSE(registry->ReadString("Software\\VelquorMigrateTest\\Absent\\",
                                    "ProgPath", &result, &found));
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey);
}

// A watch is told of a message written deep in a tree that was there
// before it began, and in a folder made while it runs, two levels down.
// (Wine tells a tree request's changes only in folders listed since.)
TEST(ChangeNoticeTest, ChangesAnywhereInTheTreeAreTold) {
  const std::string dir = TempDir() + "\\notice";
  std::filesystem::create_directories(dir + "\\a\\b\\c");
  auto code_page = OpenCodePage("GBK");
  ASSERT_NE(code_page, nullptr);
  auto notice = WatchFolderTree(*code_page, dir);
  ASSERT_TRUE(notice->TellsChanges());
  auto write = [&](const std::string& path) {
    auto fs = NewDiskFileSystem();
    ASSERT_TRUE(fs->WriteFile(dir + "\\" + path, "x", nullptr));
  };
  // Generous bounds: only a notice that never comes fails.
  constexpr int64_t kNever = 60000;
  write("a\\b\\c\\1.in");
  EXPECT_EQ(notice->Wait(kNever), NoticeWait::kChanged);
  CreateDirectoryA((dir + "\\new").c_str(), nullptr);
  // The notices of the write and of the new folder, however grouped.
  while (notice->Wait(2000) == NoticeWait::kChanged) {
  }
  CreateDirectoryA((dir + "\\new\\deep").c_str(), nullptr);
  write("new\\deep\\2.in");
  EXPECT_EQ(notice->Wait(kNever), NoticeWait::kChanged);
  notice.reset();
  std::filesystem::remove_all(dir);
}

TEST(ProgramPathTest, NamesTheRunningExecutable) {
  std::string path = ProgramPath();
  ASSERT_GT(path.size(), 4u);
  EXPECT_EQ(path.substr(path.size() - 4), ".exe");
  EXPECT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(AnsiCodePageTest, SystemCodePageIsTheChineseOne) {
  // The test run sets a Chinese locale; every GBK name below depends on it.
  ASSERT_EQ(GetACP(), 936u);
  auto system = OpenCodePage("");
  ASSERT_NE(system, nullptr);
  const std::string kUtf8 = "\xe6\x94\xb6\xe4\xbb\xb6\xe7\xae\xb1";  // 收件箱
  const std::string kGbk = "\xca\xd5\xbc\xfe\xcf\xe4";
  EXPECT_EQ(system->ToAnsi(kUtf8), kGbk);
}

// Names reach the disk converted with the run's code page, not the
// system's (936 in this test run): a name is stored as its characters and
// listed back as the same bytes; a name on disk that the code page cannot
// hold exactly is flagged, not turned into a look-alike; bytes that are no
// text of the code page name no file.
TEST(DiskFileSystemTest, NamesFollowTheRunsCodePage) {
  const struct {
    const char* code_page;  // null: the system's
    std::string name;
    const wchar_t* wide;
    const wchar_t* foreign;  // made on disk; null for none
    std::string invalid;     // empty for none
  } kCases[] = {
      {nullptr, "\xca\xd5\xbc\xfe\xcf\xe4", L"\u6536\u4ef6\u7bb1", L"\u0e01.in",
       "\x81"},
      {"GBK", "\xd5\xc5\xce\xb0", L"\u5f20\u4f1f", L"\u00c0.in", "a\x81"},
      {"UTF-8", "\xe6\x94\xb6\xe4\xbb\xb6", L"\u6536\u4ef6", nullptr,
       "\xca\xd5"},
      {"CP1252", "caf\xe9", L"caf\u00e9", L"\u0100\u6536.in", ""},
  };
  for (const auto& c : kCases) {
    const char* label = c.code_page != nullptr ? c.code_page : "system";
    std::string dir = TempDir();
    std::wstring wide_dir(dir.begin(), dir.end());  // plain ASCII
    auto fs = c.code_page != nullptr ? NewDiskFileSystem(c.code_page)
                                     : NewDiskFileSystem();
    ASSERT_NE(fs, nullptr) << label;
    std::string sub = dir + "\\" + c.name;
    ASSERT_TRUE(fs->CreateDir(sub, nullptr)) << label;
    ASSERT_TRUE(fs->WriteFile(sub + "\\" + c.name, "x", nullptr)) << label;
    std::wstring wide_sub = wide_dir + L"\\" + c.wide;
    EXPECT_NE(GetFileAttributesW((wide_sub + L"\\" + c.wide).c_str()),
              INVALID_FILE_ATTRIBUTES)
        << label;
    if (c.foreign != nullptr) {
      HANDLE file =
          CreateFileW((wide_sub + L"\\" + c.foreign).c_str(), GENERIC_WRITE, 0,
                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      ASSERT_NE(file, INVALID_HANDLE_VALUE) << label;
      CloseHandle(file);
    }
    std::vector<DirEntry> entries;
    ASSERT_TRUE(fs->List(sub + "\\*", &entries)) << label;
    ASSERT_EQ(entries.size(), c.foreign != nullptr ? 2u : 1u) << label;
    for (const DirEntry& entry : entries) {
      bool foreign = entry.name != c.name;
      EXPECT_EQ(entry.unconvertible_name, foreign) << label << entry.name;
      EXPECT_EQ(entry.name.find('?') != std::string::npos, foreign) << label;
      EXPECT_EQ(entry.path, sub + "\\" + entry.name) << label;
    }
    if (!c.invalid.empty()) {
      std::string bad = dir + "\\" + c.invalid;
      EXPECT_FALSE(fs->WriteFile(bad, "y", nullptr)) << label;
      EXPECT_FALSE(fs->Exists(bad)) << label;
      EXPECT_TRUE(fs->List(dir + "\\*", &entries)) << label;
      EXPECT_EQ(entries.size(), 1u) << label;
    }
    std::filesystem::remove_all(std::filesystem::path(wide_dir));
  }
}

// Every path reaches the system in the form no length limit stops; what
// has a prefix already, or is no full path, goes as it is.
TEST(LongPathTest, FullPathsGetTheirPrefix) {
  const struct {
    const wchar_t* path;
    const wchar_t* form;
  } kCases[] = {
      {L"C:\\mail\\INBOX\\1.in", L"\\\\?\\C:\\mail\\INBOX\\1.in"},
      {L"c:/mail/x/../INBOX", L"\\\\?\\c:\\mail\\INBOX"},
      {L"\\\\server\\share\\mail", L"\\\\?\\UNC\\server\\share\\mail"},
      {L"\\\\?\\C:\\a\\..\\b", L"\\\\?\\C:\\a\\..\\b"},
      {L"\\\\?\\UNC\\server\\share", L"\\\\?\\UNC\\server\\share"},
      {L"mail\\INBOX", L"mail\\INBOX"},
      {L"C:mail", L"C:mail"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(LongPathForm(c.path), c.form) << WideToUtf8(c.path);
  }
}

// A mailbox deeper than MAX_PATH is made, listed, copied into and read
// like any other.
TEST(LongPathTest, PathsLongerThanMaxPathWork) {
  auto fs = NewDiskFileSystem();
  const std::string root = TempDir();
  std::string dir = root;
  while (dir.size() <= MAX_PATH + 20) {
    dir += "\\" + std::string(40, 'd');
    ASSERT_EQ(fs->MakeDir(dir, nullptr), DirMade::kMade) << dir.size();
  }
  ASSERT_TRUE(fs->WriteFile(dir + "\\1.in", "message", nullptr));
  EXPECT_EQ(fs->CopyNew(dir + "\\1.in", dir + "\\2.in", nullptr),
            CopyResult::kCopied);
  std::string copy;
  EXPECT_TRUE(fs->ReadFile(dir + "\\2.in", &copy, nullptr));
  EXPECT_EQ(copy, "message");
  std::vector<DirEntry> entries;
  EXPECT_TRUE(fs->List(dir + "\\*.in", &entries));
  EXPECT_EQ(entries.size(), 2u);
  for (const char* name : {"\\1.in", "\\2.in"}) {
    EXPECT_TRUE(fs->RemoveFile(dir + name, nullptr));
  }
  for (; dir.size() >= root.size(); dir.resize(dir.rfind('\\'))) {
    RemoveDirectoryW(
        LongPathForm(std::wstring(dir.begin(), dir.end())).c_str());
  }
}

}  // namespace
}  // namespace vm
