#include "platform/code_page.h"

#include <gtest/gtest.h>

namespace vm {
namespace {

const char kGbk[] = "\xD3\xF2\xC3\xFB";           // "domain name" in GBK
const char kUtf8[] = "\xE5\x9F\x9F\xE5\x90\x8D";  // the same in UTF-8

TEST(CodePageTest, GbkRoundTrip) {
  std::unique_ptr<CodePage> gbk = OpenCodePage("GBK");
  ASSERT_NE(gbk, nullptr);
  EXPECT_EQ(gbk->ToUtf8(kGbk), kUtf8);
  EXPECT_EQ(gbk->ToAnsi(kUtf8), kGbk);
  EXPECT_EQ(gbk->ToUtf8(std::string("a:") + kGbk + "\\b"),
            std::string("a:") + kUtf8 + "\\b");
  EXPECT_EQ(gbk->ToAnsi(""), "");
  EXPECT_TRUE(gbk->IsValidAnsi(kGbk));
  EXPECT_TRUE(gbk->IsValidAnsi("plain"));
}

TEST(CodePageTest, InvalidInputIsReplacedAndTheRestKept) {
  std::unique_ptr<CodePage> gbk = OpenCodePage("GBK");
  ASSERT_NE(gbk, nullptr);
  // 0xFF is no GBK byte; the text after it must survive.
  std::string utf8 = gbk->ToUtf8(std::string("a\xFF") + kGbk + "z");
  EXPECT_EQ(utf8.front(), 'a');
  EXPECT_NE(utf8.find(std::string(kUtf8) + "z"), std::string::npos);
  EXPECT_FALSE(gbk->IsValidAnsi("a\xFF"));
  // A lead byte cut off at the end.
  EXPECT_FALSE(gbk->IsValidAnsi("ab\xD3"));
  EXPECT_EQ(gbk->ToUtf8("ab\xD3").substr(0, 2), "ab");

  // Broken UTF-8 and a character GBK lacks (U+1F600) are replaced too.
  std::string ansi =
      gbk->ToAnsi(std::string("x\xC3(") + "\xF0\x9F\x98\x80" + kUtf8 + "y");
  EXPECT_EQ(ansi.front(), 'x');
  EXPECT_NE(ansi.find(std::string(kGbk) + "y"), std::string::npos);
  EXPECT_NE(ansi.find('('), std::string::npos);
}

TEST(CodePageTest, UnknownNameGivesNull) {
  EXPECT_EQ(OpenCodePage("NO-SUCH-CODE-PAGE"), nullptr);
  EXPECT_NE(OpenCodePage("UTF-8"), nullptr);
}

}  // namespace
}  // namespace vm
