#include "xml/xml_text.h"

#include <string>

#include "gtest/gtest.h"
#include "xml/xml_document.h"

namespace vm {
namespace {

TEST(XmlTextTest, EncodeEntities) {
  const struct {
    std::string text;
    uint32_t options;
    std::string encoded;
  } kCases[] = {
      {"a<b & c>d", 0, "a&lt;b &amp; c&gt;d"},
      {"it's \"x\"", 0, "it's \"x\""},
      {"it's \"x\"", kEscapeQuotes, "it&apos;s &quot;x&quot;"},
      {"&amp; &#65; &x_:-.9; & b", kKeepReferences,
       "&amp; &#65; &x_:-.9; &amp; b"},
      {"&amp;", 0, "&amp;amp;"},
      {"&; &9; &a b; &abc", kKeepReferences,
       "&amp;; &amp;9; &amp;a b; &amp;abc"},
      {"\xb2\xe2<", 0, "\xb2\xe2&lt;"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(EncodeEntities(c.text, c.options), c.encoded) << c.text;
  }
}

TEST(XmlTextTest, DecodeEntities) {
  const struct {
    std::string input;
    std::string output;
  } kCases[] = {
      {"&lt;&gt;&amp;&apos;&quot;", "<>&'\""},
      {"&LT; &nbsp; &amp", "&LT; &nbsp; &amp"},
      {"a& &lt", "a& &lt"},
      {"&#65;&#x41;&#X41;", "AA&#X41;"},
      {"&#127;&#128;&#2047;&#2048;", "\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80"},
      {"&#x4E2D;&#x1F600;", "\xe4\xb8\xad\xf0\x9f\x98\x80"},
      {"&#xD800;&#xDFFF;", "&#xD800;&#xDFFF;"},  // surrogates stay as written
      {"&#1234567;&#0;", "&#1234567;&#0;"},      // beyond Unicode, NUL
      {"&#;&#abc;&#-65;&# 65;", "&#;&#abc;&#-65;&# 65;"},
      {"&#65x;", "A"},  // digits stop at the first non-digit
      {"&#65&#x", "&#65&#x"},
      {"&amp;lt;", "&lt;"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(DecodeEntities(c.input), c.output) << c.input;
  }
}

TEST(XmlTextTest, WrapInCdataSplitsEveryClosingSequence) {
  EXPECT_EQ(WrapInCdata(""), "<![CDATA[]]>");
  EXPECT_EQ(WrapInCdata("<b>]]>]]"), "<![CDATA[<b>]]]]><![CDATA[>]]]]>");
}

TEST(XmlTextTest, TextsReadBackUnchangedThroughADocument) {
  const std::string kTexts[] = {"a]]>b", "<&>'\"", "x]]]>y", "\xb2\xe2 \r\n t",
                                "&amp;", "&#65;",  "]"};
  for (uint32_t mode : {0u, kAsCdata, kEscapeQuotes}) {
    for (const auto& text : kTexts) {
      XmlDocument doc;
      ASSERT_TRUE(doc.LoadText("<r/>"));
      ASSERT_TRUE(doc.SeekElement("r"));
      ASSERT_TRUE(doc.NewElement("v", text, kAsChild | mode));
      XmlDocument reloaded;
      ASSERT_TRUE(reloaded.LoadText(doc.DocumentText()));
      EXPECT_EQ(reloaded.ElementText(2), text) << "mode " << mode;
    }
  }
}

// Marks what it converted.
class FakeCodePage : public CodePage {
 public:
  std::string ToAnsi(const std::string& utf8) const override {
    return "ansi:" + utf8;
  }
  std::string ToUtf8(const std::string& ansi) const override { return ansi; }
  bool IsValidAnsi(const std::string&) const override { return true; }
  std::array<bool, 256> LeadBytes() const override { return {}; }
};

TEST(XmlTextTest, Utf8ToAnsiConvertsUpToTheFirstNul) {
  FakeCodePage code_page;
  EXPECT_EQ(Utf8ToAnsi(std::string("ab\0cd", 5), code_page), "ansi:ab");
  EXPECT_EQ(Utf8ToAnsi(std::string("\0x", 2), code_page), "");
}

}  // namespace
}  // namespace vm
