// A whole run over GBK names whose second bytes are ASCII: "B" and "b"
// (张珺, 张琤), "F" (朱镕基), "@" (園丁), "\" (乗) and "|" (亅).

#include <gtest/gtest.h>

#include "migrate/migration_run.h"
#include "testing/mem_installation.h"

namespace vm {
namespace {

TEST(DoubleByteNamesTest, AccountsKeepTheirNamesPasswordsAndMail) {
  MemInstallation t;
  t.context.names = NameOps(t.code_page->LeadBytes());
  const std::string names[] = {
      "\xD5\xC5\xAC\x42", "\xD5\xC5\xAC\x62", "\xD6\xEC\xE9\x46\xBB\xF9",
      "\x88\x40\xB6\xA1", "\x81\x5C",         "\x81\x7C"};
  t.PutSource("domain.ini", "d.com\r\n");
  std::string users;
  for (const std::string& name : names) {
    users += name + "\tpw\td.com\r\n";
    t.PutSource("mail\\" + name + "\\1.in", "mail of " + name);
  }
  t.PutSource("popusers.ini", users);
  RunOutcome outcome =
      MigrationRun(&t.host, t.texts, t.settings, &t.context, &t.stats);
  EXPECT_TRUE(outcome.succeeded);
  EXPECT_EQ(t.stats.user_count, 6);

  std::string user_file = t.Get("userauth.cfg");
  for (const std::string& name : names) {
    EXPECT_NE(user_file.find("<name>" + name + "</name>\r\n<domain/>"),
              std::string::npos)
        << name;
    EXPECT_EQ(t.Store(name + "\\INBOX\\1.in"), "mail of " + name);
  }
  // The password is the digest of the name as listed (张珺).
  EXPECT_NE(user_file.find("<password>{md5}225482743323a78088b500c7b2f9e06c"),
            std::string::npos);
}

}  // namespace
}  // namespace vm
