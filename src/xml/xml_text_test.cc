#include "xml/xml_text.h"

#include <string>

#include "gtest/gtest.h"
#include "xml/xml_document.h"

namespace vm {
namespace {

struct CodingCase {
  std::string input;
  std::string output;
};

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
      {"&;", kKeepReferences, "&amp;;"},
      {"&9;", kKeepReferences, "&amp;9;"},
      {"&a b;", kKeepReferences, "&amp;a b;"},
      {"&abc", kKeepReferences, "&amp;abc"},
      {"&", kKeepReferences, "&amp;"},
      {"", 0, ""},
      {"\xb2\xe2<", 0, "\xb2\xe2&lt;"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(EncodeEntities(c.text, c.options), c.encoded) << c.text;
  }
}

TEST(XmlTextTest, DecodeEntities) {
  const CodingCase kCases[] = {
      {"&lt;&gt;&amp;&apos;&quot;", "<>&'\""},
      {"x &amp; y", "x & y"},
      {"&LT; &nbsp; &amp", "&LT; &nbsp; &amp"},
      {"&", "&"},
      {"a&", "a&"},
      {"&lt", "&lt"},
      {"&#65;&#x41;", "AA"},
      {"&#X41;", "&#X41;"},
      {"&#x4E2D;", "\xe4\xb8\xad"},
      {"&#xe9;", "\xc3\xa9"},
      {"&#127;&#128;&#2047;&#2048;", "\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80"},
      {"&#12345678;", "&#12345678;"},
      {"&#1234567;", "&#1234567;"},  // beyond Unicode
      {"&#x1F600;", "\xf0\x9f\x98\x80"},
      {"&#xD800;", "&#xD800;"},
      {"&#0;", "&#0;"},
      {"&#;", "&#;"},
      {"&#abc;", "&#abc;"},
      {"&#-65;", "&#-65;"},
      {"&# 65;", "&# 65;"},
      {"&#65x;", "A"},  // digits stop at the first non-digit
      {"&#65", "&#65"},
      {"&#", "&#"},
      {"&#x", "&#x"},
      {"&amp;lt;", "&lt;"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(DecodeEntities(c.input), c.output) << c.input;
  }
}

TEST(XmlTextTest, WrapInCdataSplitsEveryClosingSequence) {
  const CodingCase kCases[] = {
      {"a]]>b", "<![CDATA[a]]]]><![CDATA[>b]]>"},
      {"", "<![CDATA[]]>"},
      {"<b>&", "<![CDATA[<b>&]]>"},
      {"]]>]]>", "<![CDATA[]]]]><![CDATA[>]]]]><![CDATA[>]]>"},
      {"]]", "<![CDATA[]]]]>"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(WrapInCdata(c.input), c.output) << c.input;
  }
}

TEST(XmlTextTest, TextsReadBackUnchangedThroughADocument) {
  const std::string kTexts[] = {
      "plain",  "a]]>b",           "<&>'\"", "]]>",
      "x]]]>y", "\xb2\xe2 \r\n t", "&amp;",  "&#65;",
  };
  for (uint32_t mode : {0u, kAsCdata, kEscapeQuotes}) {
    for (const auto& text : kTexts) {
      XmlDocument doc;
      ASSERT_TRUE(doc.LoadText("<r/>"));
      ASSERT_TRUE(doc.SeekElement("r"));
      ASSERT_TRUE(doc.NewElement("v", text, kAsChild | mode));
      EXPECT_EQ(doc.ChildText(), text) << "mode " << mode;
      XmlDocument reloaded;
      ASSERT_TRUE(reloaded.LoadText(doc.DocumentText()));
      EXPECT_EQ(reloaded.ElementText(2), text) << "mode " << mode;
    }
  }
}

// Records what it is asked to convert and marks its output.
class FakeCodePage : public CodePage {
 public:
  std::string ToAnsi(const std::string& utf8) const override {
    ++calls;
    return "ansi:" + utf8;
  }
  std::string ToUtf8(const std::string& ansi) const override { return ansi; }
  bool IsValidAnsi(const std::string&) const override { return true; }
  mutable int calls = 0;
};

TEST(XmlTextTest, Utf8ToAnsiConvertsUpToTheFirstNul) {
  FakeCodePage code_page;
  EXPECT_EQ(Utf8ToAnsi("D:\\store", code_page), "ansi:D:\\store");
  EXPECT_EQ(Utf8ToAnsi(std::string("ab\0cd", 5), code_page), "ansi:ab");
  EXPECT_EQ(code_page.calls, 2);
  EXPECT_EQ(Utf8ToAnsi("", code_page), "");
  EXPECT_EQ(Utf8ToAnsi(std::string("\0x", 2), code_page), "");
  EXPECT_EQ(code_page.calls, 2);
}

}  // namespace
}  // namespace vm
