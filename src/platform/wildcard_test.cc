#include "platform/wildcard.h"

#include <gtest/gtest.h>

namespace vm {
namespace {

TEST(WildcardTest, WindowsRules) {
  const struct {
    const char* pattern;
    const char* name;
    bool match;
  } kCases[] = {
      {"*.in", "A.IN", true},
      {"*.in", "x.inx", false},
      {"*.in", "in", false},
      {"*.in", ".in", true},
      {"*.in", "a.b.in", true},
      {"?.in", "ab.in", false},
      {"*", "", true},
      {"", "a", false},
      {"*.*", "noext", true},
      {"a.*", "a", true},
      {"a.*", "ab", false},
      {"*.1", "x.12", false},
      {"__r_*.ini", "__R_IN.INI", true},
      {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXbYbZ", false},
      {"**a", "bba", true},
      {"[a].in", "a.in", false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(WildcardMatchUtf8(c.pattern, c.name), c.match)
        << c.pattern << " vs " << c.name;
    EXPECT_EQ(WildcardMatch(c.pattern, c.name, NameOps()), c.match)
        << c.pattern << " vs " << c.name;
  }
}

TEST(WildcardTest, QuestionMarkTakesWholeCharacters) {
  const NameOps kGbk;
  EXPECT_TRUE(WildcardMatch("?.in", "\xC4\xE3.in", kGbk));
  EXPECT_FALSE(WildcardMatch("??.in", "\xC4\xE3.in", kGbk));
  EXPECT_TRUE(WildcardMatchUtf8("?.in", "\xE4\xBD\xA0.in"));
  EXPECT_FALSE(WildcardMatchUtf8("??.in", "\xE4\xBD\xA0.in"));
  // The run's code page decides: in Shift-JIS 0xB1 and 0xB2 are two
  // characters (0x81-0x9F and 0xE0-0xFC lead), in GBK one.
  LeadByteTable sjis{};
  for (int c = 0x81; c <= 0xFC; ++c) sjis[c] = c <= 0x9F || c >= 0xE0;
  EXPECT_TRUE(WildcardMatch("??", "\xB1\xB2", NameOps(sjis)));
  EXPECT_FALSE(WildcardMatch("??", "\xB1\xB2", kGbk));
  // A second byte that looks like a letter is compared exactly.
  EXPECT_FALSE(WildcardMatch("\x81\x41", "\x81\x61", kGbk));
  EXPECT_TRUE(WildcardMatch("*\x41", "\x81\x41\x61", kGbk));
  EXPECT_FALSE(WildcardMatch("*\x61", "\x81\x61", kGbk));
  EXPECT_TRUE(WildcardMatch("a?", "a\x81", kGbk));  // a lone lead byte
}

}  // namespace
}  // namespace vm
