#include "platform/wildcard.h"

#include <gtest/gtest.h>

namespace vm {
namespace {

TEST(WildcardTest, WindowsRules) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"*.in", "a.in", true},
      {"*.in", "A.IN", true},
      {"*.in", "x.inx", false},
      {"*.in", "in", false},
      {"*.in", ".in", true},
      {"*.in", "a.b.in", true},
      {"?.in", "a.in", true},
      {"?.in", "ab.in", false},
      {"*", "", true},
      {"*", "anything", true},
      {"", "", true},
      {"", "a", false},
      {"*.*", "noext", true},
      {"*.*", "a.b", true},
      {"a.*", "a", true},
      {"a.*", "ab", false},
      {"*.1", "x.1", true},
      {"*.1", "x.12", false},
      {"__r_*.ini", "__R_IN.INI", true},
      {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXbYbZ", false},
      {"**a", "bba", true},
      {"[a].in", "[a].in", true},
      {"[a].in", "a.in", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WildcardMatch(c.pattern, c.name, CharEncoding::kUtf8), c.match)
        << c.pattern << " vs " << c.name;
    EXPECT_EQ(WildcardMatch(c.pattern, c.name, CharEncoding::kDoubleByte),
              c.match)
        << c.pattern << " vs " << c.name;
  }
}

TEST(WildcardTest, QuestionMarkTakesWholeCharacters) {
  // "ni" in GBK (C4 E3) and in UTF-8 (E4 BD A0).
  EXPECT_TRUE(WildcardMatch("?.in", "\xC4\xE3.in", CharEncoding::kDoubleByte));
  EXPECT_FALSE(
      WildcardMatch("??.in", "\xC4\xE3.in", CharEncoding::kDoubleByte));
  EXPECT_TRUE(WildcardMatch("?.in", "\xE4\xBD\xA0.in", CharEncoding::kUtf8));
  EXPECT_FALSE(WildcardMatch("??.in", "\xE4\xBD\xA0.in", CharEncoding::kUtf8));
  // A second byte that looks like a letter is compared exactly.
  EXPECT_FALSE(
      WildcardMatch("\x81\x41", "\x81\x61", CharEncoding::kDoubleByte));
  EXPECT_TRUE(
      WildcardMatch("*\x41", "\x81\x41\x61", CharEncoding::kDoubleByte));
  EXPECT_FALSE(WildcardMatch("*\x61", "\x81\x61", CharEncoding::kDoubleByte));
  // A lone lead byte at the end is one character.
  EXPECT_TRUE(WildcardMatch("a?", "a\x81", CharEncoding::kDoubleByte));
}

}  // namespace
}  // namespace vm
