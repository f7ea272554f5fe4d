#include <climits>
#include <string>

#include "gtest/gtest.h"
#include "testing/golden.h"
#include "testing/xml_index.h"
#include "xml/xml_document.h"

namespace vm {
namespace {

std::string AppendIntoP(const std::string& before) {
  XmlDocument doc;
  doc.LoadText(before);
  int32_t p = 1;
  while (p < doc.ElementCount() && doc.ElementName(p)[0] != 'p') ++p;
  const int32_t first = doc.Element(p).first_child;
  const int32_t last = first != 0 ? doc.Element(first).previous : 0;
  if (!doc.MoveTo(doc.Element(p).parent, p, last) ||
      !doc.NewElement("t", "1", kAsChild)) {
    return "refused";
  }
  EXPECT_TRUE(IndexMatchesFreshParse(doc)) << before;
  EXPECT_EQ(doc.ChildText(), "1");
  return doc.DocumentText();
}

TEST(XmlEditingTest, AppendsIntoEveryFormOfParent) {
  ExpectGoldenTable("xml/append.txt", AppendIntoP);
}

TEST(XmlEditingTest, OptionsShapeTheMarkup) {
  const struct {
    std::string text;
    uint32_t options;
    std::string after;
  } kCases[] = {
      {"", kAsChild, "<r>\r\n<b/>\r\n<n/>\r\n</r>"},
      {"", kAsChild | kSpacedEmpty, "<r>\r\n<b/>\r\n<n />\r\n</r>"},
      {"", kAsChild | kNoEndTag, "<r>\r\n<b/>\r\n<n>\r\n</r>"},
      {"a<b>&'\"", kAsChild,
       "<r>\r\n<b/>\r\n<n>a&lt;b&gt;&amp;'\"</n>\r\n</r>"},
      {"'\"", kAsChild | kEscapeQuotes,
       "<r>\r\n<b/>\r\n<n>&apos;&quot;</n>\r\n</r>"},
      {"&amp;&", kAsChild | kKeepReferences,
       "<r>\r\n<b/>\r\n<n>&amp;&amp;</n>\r\n</r>"},
      {"x]]>", kAsChild | kAsCdata,
       "<r>\r\n<b/>\r\n<n><![CDATA[x]]]]><![CDATA[>]]></n>\r\n</r>"},
      {"1", kAsChild | kInsertBefore, "<r>\r\n<n>1</n>\r\n<b/>\r\n</r>"},
      {"1", 0, "<r>\r\n<b/>\r\n<n>1</n>\r\n</r>"},
      {"1", kInsertBefore, "<r>\r\n<n>1</n>\r\n<b/>\r\n</r>"},
  };
  for (const auto& c : kCases) {
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadText("<r>\r\n<b/>\r\n</r>"));
    ASSERT_TRUE(doc.SeekChild("b"));
    if ((c.options & kAsChild) == 0) doc.EnterElement(), doc.SeekElement("b");
    if ((c.options & kInsertBefore) != 0 && (c.options & kAsChild) != 0) {
      doc.MoveTo(doc.ParentPosition(), doc.CurrentPosition(), 0);
    }
    ASSERT_TRUE(doc.NewElement("n", c.text, c.options)) << c.after;
    EXPECT_EQ(doc.DocumentText(), c.after);
    EXPECT_TRUE(IndexMatchesFreshParse(doc)) << c.after;
  }
}

TEST(XmlEditingTest, LoneStartTagGetsItsEndTagWithTheFirstChild) {
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadText("<r>\r\n</r>"));
  ASSERT_TRUE(doc.SeekElement("r"));
  ASSERT_TRUE(doc.NewElement("open", "", kAsChild | kNoEndTag));
  ASSERT_TRUE(doc.NewElementNumber("after", INT_MIN, kAsChild));
  ASSERT_TRUE(doc.MoveTo(doc.CurrentPosition(), doc.CurrentPosition() + 1, 0));
  ASSERT_TRUE(doc.NewElementNumber("in", INT_MAX, kAsChild));
  EXPECT_EQ(doc.DocumentText(),
            "<r>\r\n<open>\r\n<in>2147483647</in>\r\n</open>\r\n"
            "<after>-2147483648</after>\r\n</r>");
  EXPECT_TRUE(IndexMatchesFreshParse(doc));
}

// Parsing stops at a NUL byte, so a last top-level element goes in front
// of one; the text after the NUL stays as it was.
TEST(XmlEditingTest, TopLevelAppendStaysInFrontOfNul) {
  using namespace std::string_literals;
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadText("<a/>\r\n\0<junk/>"s));
  ASSERT_TRUE(doc.NewElement("b", "x", 0));
  EXPECT_EQ(doc.DocumentText(), "<a/>\r\n<b>x</b>\r\n\0<junk/>"s);
  EXPECT_TRUE(IndexMatchesFreshParse(doc));
}

TEST(XmlEditingTest, RefusedAppendsChangeNothing) {
  XmlDocument doc;
  const std::string kText = "<r>\r\n<a/>\r\n</r>";
  ASSERT_TRUE(doc.LoadText(kText));
  EXPECT_FALSE(doc.NewElement("n", "", kAsChild));  // no current element
  ASSERT_TRUE(doc.SeekElement("r"));
  const std::string kBadNames[] = {"",   "1a",  "-a", "a b",  "a/b",
                                   "a>", "a=b", "a?", "a\tb", {"a\0b", 3}};
  for (const std::string& name : kBadNames) {
    EXPECT_FALSE(doc.NewElement(name, "", kAsChild)) << name;
  }
  EXPECT_FALSE(doc.NewElement("n", std::string("x\0y", 3), kAsChild));
  EXPECT_FALSE(doc.NewElement("n", "x", kAsChild | kNoEndTag));
  ASSERT_TRUE(doc.MoveTo(0, 1, 1));  // a child position that is not a child
  EXPECT_FALSE(doc.NewElement("n", "", kAsChild));
  EXPECT_EQ(doc.DocumentText(), kText);
  ASSERT_TRUE(doc.MoveTo(0, 1, 0));
  for (const char* name : {"x:y", "_z", "A.b-c", "\xd3\xc3\xbb\xa7"}) {
    EXPECT_TRUE(doc.NewElement(name, "v", kAsChild)) << name;
  }
  EXPECT_TRUE(IndexMatchesFreshParse(doc));
}

}  // namespace
}  // namespace vm
