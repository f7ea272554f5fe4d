#include <climits>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "xml/xml_document.h"
#include "xml/xml_test_helpers.h"

namespace vm {
namespace {

TEST(XmlEditingTest, NewItemAndFieldsTakeALineEach) {
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadText("<domain>\r\n</domain>\r\n"));
  ASSERT_TRUE(doc.SeekElement("domain"));
  ASSERT_TRUE(doc.NewElement("item", "", kAsChild));
  EXPECT_EQ(doc.DocumentText(), "<domain>\r\n<item/>\r\n</domain>\r\n");
  ASSERT_TRUE(doc.EnterElement());
  ASSERT_TRUE(doc.NewElement("domain", "example", kAsChild));
  ASSERT_TRUE(doc.NewElementNumber("type", 0, kAsChild));
  EXPECT_EQ(doc.DocumentText(),
            "<domain>\r\n"
            "<item>\r\n"
            "<domain>example</domain>\r\n"
            "<type>0</type>\r\n"
            "</item>\r\n"
            "</domain>\r\n");
  EXPECT_TRUE(doc.CheckWellFormed());
  EXPECT_TRUE(IndexMatchesFreshParse(doc));
  EXPECT_EQ(doc.ChildName(), "type");
  EXPECT_EQ(doc.ChildText(), "0");
}

// Appending <t>1</t> as the child of the element named "p" wherever it
// stands; later elements must move by exactly the growth of the text.
TEST(XmlEditingTest, AppendsIntoEveryFormOfParent) {
  const struct {
    std::string before;
    bool after_last_child;  // child position on p's last child, else 0
    std::string after;
  } kCases[] = {
      {"<r><p/><z/></r>", false, "<r><p>\r\n<t>1</t>\r\n</p><z/></r>"},
      {"<r><p /><z/></r>", false, "<r><p >\r\n<t>1</t>\r\n</p><z/></r>"},
      {"<r><p k='/'/><z/></r>", false,
       "<r><p k='/'>\r\n<t>1</t>\r\n</p><z/></r>"},
      {"<r><p></p><z/></r>", false, "<r><p>\r\n<t>1</t>\r\n</p><z/></r>"},
      {"<r><p>\r\n</p><z/></r>", false, "<r><p>\r\n<t>1</t>\r\n</p><z/></r>"},
      {"<r><p>\r\n<b/>\r\n</p><z/></r>", false,
       "<r><p>\r\n<b/>\r\n<t>1</t>\r\n</p><z/></r>"},
      {"<r><p>\r\n<b/>\r\n</p><z/></r>", true,
       "<r><p>\r\n<b/>\r\n<t>1</t>\r\n</p><z/></r>"},
      {"<r><p>\r\n\t<b/>  \r\n  </p><z/></r>", true,
       "<r><p>\r\n\t<b/>  \r\n  <t>1</t>\r\n</p><z/></r>"},
      {"<r><p><b/>x</p><z/></r>", true, "<r><p><b/><t>1</t>\r\nx</p><z/></r>"},
      {"<r><p>x</p><z/></r>", false, "<r><p>x<t>1</t>\r\n</p><z/></r>"},
      {"<r><p><b/><!-- c --></p></r>", true,
       "<r><p><b/><t>1</t>\r\n<!-- c --></p></r>"},
      {"<p/>", false, "<p>\r\n<t>1</t>\r\n</p>"},
      // The end tag repeats the name as the parser reads it, so that it
      // closes the element again on the next load.
      {"<r><p?x k='1'/></r>", false,
       "<r><p?x k='1'>\r\n<t>1</t>\r\n</p?x></r>"},
      {"<p\r\n/>", false, "<p\r\n>\r\n<t>1</t>\r\n</p>"},
  };
  for (const auto& c : kCases) {
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadText(c.before)) << c.before;
    int32_t p = 1;
    while (doc.ElementName(p) != "p") ++p;
    const int32_t child = c.after_last_child
                              ? doc.Element(doc.Element(p).first_child).previous
                              : 0;
    ASSERT_TRUE(doc.MoveTo(doc.Element(p).parent, p, child));
    ASSERT_TRUE(doc.NewElement("t", "1", kAsChild)) << c.before;
    EXPECT_EQ(doc.DocumentText(), c.after);
    EXPECT_TRUE(doc.CheckWellFormed()) << c.after;
    EXPECT_TRUE(IndexMatchesFreshParse(doc)) << c.before;
    EXPECT_EQ(doc.CurrentPosition(), p);
    EXPECT_EQ(doc.ChildText(), "1");
    EXPECT_EQ(doc.ElementName(doc.ChildPosition()), "t");
  }
}

TEST(XmlEditingTest, LoneStartTagsGetTheirEndTagWithTheFirstChild) {
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadText("<r>\r\n</r>"));
  ASSERT_TRUE(doc.SeekElement("r"));
  ASSERT_TRUE(doc.NewElement("open", "", kAsChild | kNoEndTag));
  ASSERT_TRUE(doc.NewElement("after", "", kAsChild));
  EXPECT_EQ(doc.DocumentText(), "<r>\r\n<open>\r\n<after/>\r\n</r>");
  EXPECT_TRUE(IndexMatchesFreshParse(doc));
  EXPECT_FALSE(doc.NewElement("x", "text", kAsChild | kNoEndTag));

  ASSERT_TRUE(doc.MoveTo(doc.CurrentPosition(), doc.CurrentPosition() + 1, 0));
  ASSERT_EQ(doc.ElementName(doc.CurrentPosition()), "open");
  ASSERT_TRUE(doc.NewElement("in", "1", kAsChild));
  EXPECT_EQ(doc.DocumentText(),
            "<r>\r\n<open>\r\n<in>1</in>\r\n</open>\r\n<after/>\r\n</r>");
  EXPECT_TRUE(IndexMatchesFreshParse(doc));
  EXPECT_TRUE(doc.CheckWellFormed());

  // The same for one left open in the file itself.
  ASSERT_FALSE(doc.LoadText("<r><a k='1'></r>"));
  ASSERT_TRUE(doc.SeekChild("a"));
  ASSERT_TRUE(doc.EnterElement());
  ASSERT_TRUE(doc.MoveTo(doc.ParentPosition(), doc.ChildPosition() + 2, 0));
  ASSERT_TRUE(doc.NewElement("b", "", kAsChild));
  EXPECT_EQ(doc.DocumentText(), "<r><a k='1'>\r\n<b/>\r\n</a></r>");
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
      // Without kAsChild: a sibling of the current element (b).
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
    const int32_t created = (c.options & kAsChild) != 0 ? doc.ChildPosition()
                                                        : doc.CurrentPosition();
    EXPECT_EQ(doc.ElementName(created), "n");
    if ((c.options & (kNoEndTag | kKeepReferences)) == 0) {
      EXPECT_EQ(doc.ElementText(created), c.text);
    }
  }
}

// Parsing stops at a NUL byte, so a last top-level element goes in front
// of one; elsewhere the text after the NUL stays as it was.
TEST(XmlEditingTest, TopLevelAppendStaysInFrontOfNul) {
  using namespace std::string_literals;
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadText("<a/>\r\n\0<junk/>"s));
  ASSERT_TRUE(doc.NewElement("b", "x", 0));
  EXPECT_EQ(doc.DocumentText(), "<a/>\r\n<b>x</b>\r\n\0<junk/>"s);
  EXPECT_TRUE(IndexMatchesFreshParse(doc));
  EXPECT_EQ(doc.ElementName(doc.CurrentPosition()), "b");
}

TEST(XmlEditingTest, NumbersAreWrittenInDecimal) {
  const struct {
    int32_t number;
    const char* text;
  } kCases[] = {{0, "0"},
                {-42, "-42"},
                {INT_MAX, "2147483647"},
                {INT_MIN, "-2147483648"}};
  for (const auto& c : kCases) {
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadText("<r/>"));
    ASSERT_TRUE(doc.SeekElement("r"));
    ASSERT_TRUE(doc.NewElementNumber("n", c.number, kAsChild));
    EXPECT_EQ(doc.DocumentText(),
              std::string("<r>\r\n<n>") + c.text + "</n>\r\n</r>");
  }
}

TEST(XmlEditingTest, RefusedAppendsChangeNothing) {
  XmlDocument doc;
  const std::string kText = "<r>\r\n<a/>\r\n<b/>\r\n</r>";
  ASSERT_TRUE(doc.LoadText(kText));
  EXPECT_FALSE(doc.NewElement("n", "", kAsChild));  // no current element
  ASSERT_TRUE(doc.SeekElement("r"));
  const char* kBadNames[] = {"",    "1a",  "-a", "a b", "a/b",  "a>",
                             "a<b", "a=b", "a?", "a!",  "a\\b", "a\tb"};
  for (const char* name : kBadNames) {
    EXPECT_FALSE(doc.NewElement(name, "", kAsChild)) << name;
  }
  EXPECT_FALSE(doc.NewElement(std::string("a\0b", 3), "", kAsChild));
  EXPECT_FALSE(doc.NewElement("n", std::string("x\0y", 3), kAsChild));
  EXPECT_FALSE(doc.NewElement("n", "x", kAsChild | kNoEndTag));
  // A child position that is not a child of the current element.
  ASSERT_TRUE(doc.MoveTo(0, 1, 1));
  EXPECT_FALSE(doc.NewElement("n", "", kAsChild));
  EXPECT_EQ(doc.DocumentText(), kText);
  EXPECT_EQ(doc.ElementCount(), 4);
  EXPECT_TRUE(IndexMatchesFreshParse(doc));
  // Names the scanner takes whole are accepted, multi-byte ones included.
  ASSERT_TRUE(doc.MoveTo(0, 1, 0));
  for (const char* name : {"x:y", "_z", "A.b-c", "\xd3\xc3\xbb\xa7"}) {
    EXPECT_TRUE(doc.NewElement(name, "v", kAsChild)) << name;
    EXPECT_EQ(doc.ChildName(), name);
  }
  EXPECT_TRUE(IndexMatchesFreshParse(doc));
}

}  // namespace
}  // namespace vm
