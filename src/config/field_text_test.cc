#include "config/field_text.h"

#include <gtest/gtest.h>

namespace vm {
namespace {

TEST(FieldTextTest, DecimalReadsLikeTheCLibrary) {
  const struct {
    const char* text;
    int64_t value64;
    int32_t value32;
  } kCases[] = {
      {"  \t\r\n01", 1, 1},
      {"+7abc", 7, 7},
      {"-42x", -42, -42},
      {"- 1", 0, 0},
      {"-4294967296", -4294967296LL, -2147483647 - 1},
      {"99999999999999999999", INT64_MAX, 2147483647},
      {"-9223372036854775808", INT64_MIN, -2147483647 - 1},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ParseDecimal64(c.text), c.value64) << c.text;
    EXPECT_EQ(ParseDecimal32(c.text), c.value32) << c.text;
  }
}

}  // namespace
}  // namespace vm
