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
    for (CharEncoding encoding :
         {CharEncoding::kUtf8, CharEncoding::kDoubleByte}) {
      EXPECT_EQ(WildcardMatch(c.pattern, c.name, encoding), c.match)
          << c.pattern << " vs " << c.name;
    }
  }
}

TEST(WildcardTest, QuestionMarkTakesWholeCharacters) {
  const auto kGbk = CharEncoding::kDoubleByte;
  const auto kUtf8 = CharEncoding::kUtf8;
  EXPECT_TRUE(WildcardMatch("?.in", "\xC4\xE3.in", kGbk));
  EXPECT_FALSE(WildcardMatch("??.in", "\xC4\xE3.in", kGbk));
  EXPECT_TRUE(WildcardMatch("?.in", "\xE4\xBD\xA0.in", kUtf8));
  EXPECT_FALSE(WildcardMatch("??.in", "\xE4\xBD\xA0.in", kUtf8));
  // A second byte that looks like a letter is compared exactly.
  EXPECT_FALSE(WildcardMatch("\x81\x41", "\x81\x61", kGbk));
  EXPECT_TRUE(WildcardMatch("*\x41", "\x81\x41\x61", kGbk));
  EXPECT_FALSE(WildcardMatch("*\x61", "\x81\x61", kGbk));
  EXPECT_TRUE(WildcardMatch("a?", "a\x81", kGbk));  // a lone lead byte
}

}  // namespace
}  // namespace vm
