#include "config/field_text.h"

#include <gtest/gtest.h>

namespace vm {
namespace {

TEST(FieldTextTest, DecimalReadsLikeTheCLibrary) {
  struct Case {
    const char* text;
    int64_t value64;
    int32_t value32;
  } cases[] = {
      {"1", 1, 1},
      {"  \t\r\n01", 1, 1},
      {"1abc", 1, 1},
      {"+7", 7, 7},
      {"-42x", -42, -42},
      {"", 0, 0},
      {"abc", 0, 0},
      {"- 1", 0, 0},
      {"4294967296", 4294967296LL, 2147483647},
      {"-4294967296", -4294967296LL, -2147483647 - 1},
      {"9223372036854775807", INT64_MAX, 2147483647},
      {"99999999999999999999", INT64_MAX, 2147483647},
      {"-9223372036854775808", INT64_MIN, -2147483647 - 1},
      {"-99999999999999999999", INT64_MIN, -2147483647 - 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseDecimal64(c.text), c.value64) << c.text;
    EXPECT_EQ(ParseDecimal32(c.text), c.value32) << c.text;
  }
}

TEST(FieldTextTest, CaseFoldingTouchesAsciiLettersOnly) {
  EXPECT_TRUE(EqualsIgnoringAsciiCase("Example.COM", "example.com"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("example.com", "example.co"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("\xC4\xE3", "\xC4\xE4"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("@", "`"));  // 0x40 vs 0x60
  EXPECT_EQ(AsciiFold("AbC\xC4Z["), "abc\xC4z[");
  EXPECT_EQ(UpToNul(std::string_view("ab\0cd", 5)), "ab");
}

}  // namespace
}  // namespace vm
