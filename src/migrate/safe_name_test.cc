#include "migrate/safe_name.h"

#include <gtest/gtest.h>

namespace vm {
namespace {

const NameOps kGbk;
const NameOps kSingleByte{LeadByteTable{}};

TEST(SafeNameTest, RefusesNamesThatLeaveOrAliasTheDirectory) {
  const struct {
    std::string name;
    bool double_byte;
    bool safe;
  } kCases[] = {
      {"", true, false},
      {"..", true, false},
      {"a\\b", true, false},
      {"a/b", true, false},
      {"C:x", true, false},
      {"a<b", true, false},
      {"a|b", true, false},
      {"a*b", true, false},
      {"a\tb", true, false},
      {"name.", true, false},
      {"name ", true, false},
      {"con", true, false},
      {"nul.txt", true, false},
      {"Aux.a.b", true, false},
      {"lpt9", true, false},
      {"CONOUT$", true, false},
      {"NUL .x", true, false},
      {"inbox", true, true},
      {"a..b", true, true},
      {"..a", true, true},
      {"user@example.com", true, true},
      {"COM10", true, true},
      {"console", true, true},
      {"my folder", true, true},
      {"\xb9\x40\xfe\xfe\x81\x80", true, true},
      // GBK characters whose second byte is "\" or "|"; read byte by byte
      // (a UTF-8 run) the same bytes are refused.
      {"\x95\x5c", true, true},
      {"a\xb1\x7c"
       "b",
       true, true},
      {"\x95\x5c", false, false},
      {"\\\x95", true, false},
      // A lead byte must not swallow a byte that cannot end a character.
      {"\xb9:x", true, false},
      {"\x81\x1f", true, false},
      {"\xb9\x7f", true, false},
      {"\xb9\xff", true, false},
      {"a\x95", true, false},
      {"\xb9\x30", true, false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(IsSafeDirectoryName(c.name, c.double_byte ? kGbk : kSingleByte),
              c.safe)
        << "'" << c.name << "'";
  }
}

}  // namespace
}  // namespace vm
