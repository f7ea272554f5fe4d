// Whole runs over GBK names whose second bytes are ASCII: "B" and "b"
// (张珺, 张琤), "F" (朱镕基), "@" (園丁), "\" (乗) and "|" (亅).

#include <gtest/gtest.h>

#include "config/config_file.h"
#include "config/target_context.h"
#include "migrate/migration_run.h"
#include "migrate/recording_host.h"
#include "migrate/texts.h"
#include "platform/clock.h"
#include "platform/code_page.h"
#include "platform/mem_file_system.h"

namespace vm {
namespace {

class FixedClock : public Clock {
 public:
  int64_t NowSeconds() const override { return 1700000000; }
};

TEST(DoubleByteNamesTest, AccountsKeepTheirNamesPasswordsAndMail) {
  ResetSharedConfigStates();
  MemFileSystem fs;
  FixedClock clock;
  for (const char* dir : {"C:\\src", "C:\\src\\mail", "C:\\out"}) {
    ASSERT_TRUE(fs.CreateDir(dir));
  }
  fs.WriteFile("C:\\out\\domain.cfg",
               "<database>\r\n<domain>\r\n</domain>\r\n<domainalias>\r\n"
               "</domainalias>\r\n</database>",
               nullptr);
  fs.WriteFile("C:\\out\\userauth.cfg",
               "<database>\r\n<user>\r\n</user>\r\n<useralias>\r\n"
               "</useralias>\r\n</database>",
               nullptr);
  const std::string names[] = {
      "\xD5\xC5\xAC\x42", "\xD5\xC5\xAC\x62", "\xD6\xEC\xE9\x46\xBB\xF9",
      "\x88\x40\xB6\xA1", "\x81\x5C",         "\x81\x7C"};
  fs.WriteFile("C:\\src\\domain.ini", "d.com\r\n", nullptr);
  std::string users;
  for (const std::string& name : names) {
    users += name + "\tpw\td.com\r\n";
    std::string box = "C:\\src\\mail\\" + name;
    ASSERT_TRUE(fs.CreateDir(box));
    ASSERT_TRUE(fs.WriteFile(box + "\\1.in", "mail of " + name, nullptr));
  }
  fs.WriteFile("C:\\src\\popusers.ini", users, nullptr);

  TargetContext target;
  target.fs = &fs;
  target.clock = &clock;
  target.target_dir = "C:\\out";
  target.names = NameOps(OpenCodePage("GBK")->LeadBytes());
  RunSettings settings;
  settings.source_dir = "C:\\src";
  settings.target_mail_dir = "C:\\out\\store";
  RecordingHost host;
  MigrationStats stats;
  RunOutcome outcome = MigrationRun(&host, MakeTexts(*OpenCodePage("GBK")),
                                    settings, &target, &stats);
  EXPECT_TRUE(outcome.succeeded);
  EXPECT_EQ(stats.user_count, 6);

  std::string user_file;
  fs.ReadFile("C:\\out\\userauth.cfg", &user_file, nullptr);
  for (const std::string& name : names) {
    EXPECT_NE(user_file.find("<name>" + name + "</name>\r\n<domain/>"),
              std::string::npos)
        << name;
    std::string mail;
    fs.ReadFile("C:\\out\\store\\" + name + "\\INBOX\\1.in", &mail, nullptr);
    EXPECT_EQ(mail, "mail of " + name);
  }
  // The password is the digest of the name as it was listed (张珺).
  EXPECT_NE(user_file.find("<password>{md5}225482743323a78088b500c7b2f9e06c"),
            std::string::npos);
  ResetSharedConfigStates();
}

}  // namespace
}  // namespace vm
