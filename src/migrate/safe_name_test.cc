#include "migrate/safe_name.h"

#include <gtest/gtest.h>

namespace vm {
namespace {

TEST(SafeNameTest, RefusesNamesThatLeaveOrAliasTheDirectory) {
  const char* refused[] = {
      "",        ".",     "..",    "a\\b",    "a/b",    "..\\x", "c:",
      "C:x",     "a<b",   "a>b",   "a\"b",    "a|b",    "a?b",   "a*b",
      "a\tb",    "a\x01", "name.", "name ",   "CON",    "con",   "nul.txt",
      "Aux.a.b", "COM1",  "lpt9",  "CONOUT$", "NUL .x",
  };
  for (const char* name : refused) {
    EXPECT_FALSE(IsSafeDirectoryName(name, true)) << "'" << name << "'";
  }
}

TEST(SafeNameTest, AcceptsOrdinaryNames) {
  const char* accepted[] = {
      "inbox",    "工作",  "a.b",     "a..b", "..a",  "user@example.com",
      "COM",      "COM10", "console", "LPT",  "NULL", "my folder",
      "folder#1", "x(1)",
  };
  for (const char* name : accepted) {
    EXPECT_TRUE(IsSafeDirectoryName(name, true)) << "'" << name << "'";
  }
}

TEST(SafeNameTest, TrailByteOfDoubleByteCharacterIsNotASeparator) {
  // GBK characters whose second byte is 0x5C or 0x7C.
  const std::string backslash_trail = "\x95\x5c";
  const std::string bar_trail = "\xb1\x7c";
  EXPECT_TRUE(IsSafeDirectoryName(backslash_trail, true));
  EXPECT_TRUE(IsSafeDirectoryName("a" + bar_trail + "b", true));
  // Read byte by byte (a UTF-8 run), the same bytes are refused.
  EXPECT_FALSE(IsSafeDirectoryName(backslash_trail, false));
  EXPECT_FALSE(IsSafeDirectoryName("\\\x95", true));
}

TEST(SafeNameTest, LeadByteWithoutValidTrailIsRefused) {
  // A lead byte must not swallow a byte that cannot end a character: the
  // system would read that byte on its own (a drive colon, a control byte).
  for (const char* name : {"\xb9:x", "a\xb9:", "\x81\x1f", "\xb9\x7f",
                           "\xb9\xff", "a\x95", "\xb9\x30"}) {
    EXPECT_FALSE(IsSafeDirectoryName(name, true)) << name;
  }
  EXPECT_TRUE(IsSafeDirectoryName("\xb9\x40\xfe\xfe\x81\x80", true));
}

}  // namespace
}  // namespace vm
