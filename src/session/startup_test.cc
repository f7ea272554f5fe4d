#include "session/startup.h"

#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "platform/helpers/file_system_wrapper.h"
#include "testing/fault_injection_file_system.h"
#include "testing/golden.h"
#include "testing/mem_file_system.h"

namespace vm {
namespace {

TEST(StartupTest, TrimAndImagePath) {
  struct Case {
    std::string in, out;
  } trims[] = {
      {"C:\\Tarnwick\\", "C:\\Tarnwick"},
      {"  C:\\Tarnwick\\\\ \t", "C:\\Tarnwick"},
      {"C:\\", "C:"},
      {"\\\\", ""},
      {"", ""},
      {"C:\\a\\ \\", "C:\\a\\ "},  // blanks go first, then backslashes
  };
  for (const Case& c : trims) EXPECT_EQ(TrimDirectory(c.in), c.out) << c.in;
  std::unique_ptr<CodePage> gbk = OpenCodePage("GBK");
  struct ImagePath {
    std::string value, dir;
  } image_paths[] = {
      {"D:\\Mail\\bin\\server.exe", "D:\\Mail\\bin"},
      {"server.exe", ""},
      {"\"C:\\a b\\s.exe\" -k \\x", "C:\\a b"},
      {" \"C:\\a b\\s.exe\"", "C:\\a b"},
      {"C:\\Program Files\\V q\\S.EXE -service C:\\x\\y",
       "C:\\Program Files\\V q"},
      {"C:\\a.exe.d\\s.exe\t-k", "C:\\a.exe.d"},
      {"C:\\svc\\server -k", "C:\\svc"},
      // 0x5C as the second byte of a GBK character is no separator.
      {"C:\\\x95\\\\\x95\\.exe", "C:\\\x95\\"},
  };
  for (const ImagePath& c : image_paths) {
    EXPECT_EQ(DirectoryOfImagePath(c.value, *gbk), c.dir) << c.value;
  }
}

class StartupFilesTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs_.CreateDir("C:\\t", nullptr));
    ASSERT_TRUE(fs_.CreateDir("C:\\t\\data", nullptr));
  }
  std::string Read(const std::string& path) {
    std::string text;
    fs_.ReadFile(path, &text, nullptr);
    return text;
  }
  MemFileSystem mem_;
  FaultInjectionFileSystem fs_{&mem_};
};

// Each skeleton is written whole or not at all, so a start-up cut short
// leaves no part-file that the next start-up would take as present; a file
// that exists, even empty, is kept.
TEST_F(StartupFilesTest, CreatesMissingSkeletonsWhole) {
  fs_.FailWritesAfter(20);
  CreateMissingTargetFiles(&fs_, "C:\\t", false);
  EXPECT_FALSE(fs_.Exists("C:\\t\\data\\domain.cfg"));
  EXPECT_FALSE(fs_.Exists("C:\\t\\data\\userauth.cfg"));
  fs_.FailWritesAfter(-1);
  ASSERT_TRUE(fs_.WriteFile("C:\\t\\data\\domain.cfg", "", nullptr));
  CreateMissingTargetFiles(&fs_, "C:\\t", false);
  EXPECT_EQ(Read("C:\\t\\data\\domain.cfg"), "");
  EXPECT_EQ(Read("C:\\t\\data\\userauth.cfg"),
            Golden("config/userauth_empty.cfg"));
  EXPECT_EQ(Read("C:\\t\\data\\mailgroup.cfg"),
            Golden("config/mailgroup_empty.cfg"));
  EXPECT_FALSE(fs_.Exists("C:\\t\\domain.cfg"));
  CreateMissingTargetFiles(&fs_, "C:\\t", true);
  EXPECT_EQ(Read("C:\\t\\domain.cfg"), Golden("config/domain_empty.cfg"));
}

TEST_F(StartupFilesTest, VersionCheckReadsCharset) {
  struct Case {
    const char* text;
    bool ok;
  } cases[] = {
      {"<database><charset>utf-8</charset></database>", true},
      {"<database><charset>UTF-8</charset></database>", true},
      {"<database><charset>gbk</charset></database>", false},
      {"<database></database>", false},
      {"<other><charset>utf-8</charset></other>", false},
      {"", false},
  };
  EXPECT_FALSE(CheckTargetVersion(&fs_, "C:\\t"));  // no system.cfg
  for (const Case& c : cases) {
    ASSERT_TRUE(fs_.WriteFile("C:\\t\\system.cfg", c.text, nullptr));
    EXPECT_EQ(CheckTargetVersion(&fs_, "C:\\t"), c.ok) << c.text;
  }
  // data\system.cfg wins over system.cfg.
  ASSERT_TRUE(fs_.WriteFile("C:\\t\\data\\system.cfg",
                            "<database><charset>gbk</charset></database>",
                            nullptr));
  EXPECT_FALSE(CheckTargetVersion(&fs_, "C:\\t"));
}

TEST_F(StartupFilesTest, MailStoreFromSystemConfigElseStore) {
  std::unique_ptr<CodePage> gbk = OpenCodePage("GBK");
  // Both mail stores come from the trimmed folders.
  AppState settled;
  settled.source_dir = " D:\\Mail\\bin\\ ";
  settled.target_dir = "C:\\t\\\\";
  SettleDirectories(&fs_, *gbk, &settled);
  EXPECT_EQ(settled.source_dir, "D:\\Mail\\bin");
  EXPECT_EQ(settled.source_mail_dir, "D:\\Mail\\bin\\mail");
  EXPECT_EQ(settled.target_dir, "C:\\t");
  EXPECT_EQ(settled.target_mail_dir, "C:\\t\\store");

  AppState state;
  state.target_dir = "C:\\t";
  FindTargetMailDir(&fs_, *gbk, &state);
  EXPECT_EQ(state.target_mail_dir, "C:\\t\\store");

  ASSERT_TRUE(fs_.WriteFile(
      "C:\\t\\system.cfg",
      "<database><advanced><directory><mailstore>D:\\邮件</mailstore>"
      "</directory></advanced></database>",
      nullptr));
  FindTargetMailDir(&fs_, *gbk, &state);
  EXPECT_EQ(state.target_mail_dir, "D:\\\xd3\xca\xbc\xfe");  // GBK

  ASSERT_TRUE(
      fs_.WriteFile("C:\\t\\data\\system.cfg",
                    "<database><advanced><directory><mailstore></mailstore>"
                    "</directory></advanced></database>",
                    nullptr));
  FindTargetMailDir(&fs_, *gbk, &state);
  EXPECT_EQ(state.target_mail_dir, "C:\\t\\store");
}

// A disk where C:\link leads to the target C:\t, as a link, a junction or
// a short name would.
class LinkedDisk : public FileSystemWrapper {
 public:
  explicit LinkedDisk(FileSystem* base) : FileSystemWrapper(base) {}
  bool Locate(const std::string& path, FileLocation* where) override {
    const std::string link = "C:\\link";
    return FileSystemWrapper::Locate(
        path.rfind(link, 0) == 0 ? "C:\\t" + path.substr(link.size()) : path,
        where);
  }
};

// Records never go into an installation, whatever the folder's spelling:
// the dialog once compared spellings and let a link into the target pass.
TEST(StartupTest, RecordsFolderIsJudgedByIdentity) {
  MemFileSystem mem;
  for (const char* dir : {"C:\\src", "C:\\t", "C:\\t\\store", "C:\\out"}) {
    mem.CreateDir(dir, nullptr);
  }
  LinkedDisk disk(&mem);
  const AppState state = {"C:\\src", "C:\\t", "C:\\src\\mail", "C:\\t\\store",
                          true};
  EXPECT_FALSE(MayHoldRecords(&disk, "C:\\link\\records", state));
  EXPECT_FALSE(MayHoldRecords(&disk, "C:\\T\\Records", state));
  EXPECT_FALSE(MayHoldRecords(&disk, "C:\\src\\mail\\x", state));
  EXPECT_TRUE(MayHoldRecords(&disk, "C:\\out\\records", state));
}

}  // namespace
}  // namespace vm
