#include <string>

#include "gtest/gtest.h"
#include "xml/xml_document.h"

namespace vm {
namespace {

constexpr char kDomains[] =
    "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n"
    "<database>\r\n"
    "<domain>\r\n"
    "<items>\r\n</items>\r\n"
    "<item>\r\n<domain>one.example</domain>\r\n<type>1</type>\r\n</item>\r\n"
    "<!-- second -->\r\n"
    "<item>\r\n<domain>two.example</domain>\r\n<type>0</type>\r\n</item>\r\n"
    "</domain>\r\n"
    "</database>\r\n";

class XmlNavigationTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(doc_.LoadText(kDomains)); }

  // The usual walk of a store down to the list element.
  void EnterList() {
    doc_.MoveTo(0, 0, 0);
    ASSERT_TRUE(doc_.SeekElement("database"));
    ASSERT_TRUE(doc_.EnterElement());
    ASSERT_TRUE(doc_.SeekElement("domain"));
    ASSERT_TRUE(doc_.EnterElement());
  }

  XmlDocument doc_;
};

TEST_F(XmlNavigationTest, StoreWalkReadsEveryItemField) {
  EnterList();
  std::string seen;
  while (doc_.SeekElement("item")) {
    ASSERT_TRUE(doc_.MoveTo(doc_.ParentPosition(), doc_.CurrentPosition(), 0));
    ASSERT_TRUE(doc_.SeekChild("domain"));
    EXPECT_EQ(doc_.ChildName(), "domain");
    seen += doc_.ChildText() + "=";
    doc_.MoveTo(doc_.ParentPosition(), doc_.CurrentPosition(), 0);
    ASSERT_TRUE(doc_.SeekChild("type"));
    seen += doc_.ChildText() + ";";
  }
  EXPECT_EQ(seen, "one.example=1;two.example=0;");
}

TEST_F(XmlNavigationTest, NamesMatchWholeOrUpToASeparator) {
  EnterList();
  // "item" skips "items"; "items" finds it.
  ASSERT_TRUE(doc_.SeekElement("item"));
  EXPECT_EQ(doc_.ElementName(doc_.CurrentPosition()), "item");
  int32_t first_item = doc_.CurrentPosition();
  doc_.MoveTo(doc_.ParentPosition(), 0, 0);
  ASSERT_TRUE(doc_.SeekElement("items"));
  EXPECT_EQ(doc_.ElementName(doc_.CurrentPosition()), "items");
  doc_.MoveTo(doc_.ParentPosition(), 0, 0);
  ASSERT_TRUE(doc_.SeekElement("item x"));
  EXPECT_EQ(doc_.CurrentPosition(), first_item);
  doc_.MoveTo(doc_.ParentPosition(), 0, 0);
  EXPECT_TRUE(doc_.SeekElement("item=1"));
  doc_.MoveTo(doc_.ParentPosition(), 0, 0);
  EXPECT_FALSE(doc_.SeekElement("ite"));
  EXPECT_FALSE(doc_.SeekElement("Item"));
  // Case-blind only when asked for.
  doc_.SetOptions(kIgnoreCase);
  EXPECT_TRUE(doc_.SeekElement("ITEM"));
}

TEST_F(XmlNavigationTest, FailedSearchesLeaveThePositionsAlone) {
  EnterList();
  ASSERT_TRUE(doc_.SeekElement("item"));
  const int32_t parent = doc_.ParentPosition();
  const int32_t current = doc_.CurrentPosition();
  EXPECT_FALSE(doc_.SeekElement("nothing"));
  EXPECT_FALSE(doc_.SeekChild("nothing"));
  EXPECT_EQ(doc_.ParentPosition(), parent);
  EXPECT_EQ(doc_.CurrentPosition(), current);
  EXPECT_EQ(doc_.ChildPosition(), 0);
  // Only siblings are searched, never deeper elements.
  doc_.MoveTo(0, 0, 0);
  EXPECT_FALSE(doc_.SeekElement("item"));
  EXPECT_FALSE(doc_.MoveTo(0, doc_.ElementCount(), 0));
  EXPECT_FALSE(doc_.MoveTo(-1, 0, 0));
  EXPECT_EQ(doc_.CurrentPosition(), 0);
}

TEST_F(XmlNavigationTest, SeekChildAtTheTopStartsFromTheRoot) {
  doc_.MoveTo(0, 0, 0);
  ASSERT_TRUE(doc_.SeekChild("domain"));
  EXPECT_EQ(doc_.ElementName(doc_.CurrentPosition()), "database");
  EXPECT_EQ(doc_.ParentPosition(), 0);
  EXPECT_EQ(doc_.ChildName(), "domain");
  // The next SeekChild continues after the child position.
  EXPECT_FALSE(doc_.SeekChild("domain"));
  // EnterElement goes into the child just found.
  ASSERT_TRUE(doc_.EnterElement());
  EXPECT_EQ(doc_.ElementName(doc_.ParentPosition()), "database");
  EXPECT_EQ(doc_.ElementName(doc_.CurrentPosition()), "domain");
  // An empty name finds any element.
  EXPECT_TRUE(doc_.SeekChild());
  EXPECT_EQ(doc_.ChildName(), "items");
}

TEST_F(XmlNavigationTest, EnterElementNeedsACurrentElement) {
  doc_.MoveTo(0, 0, 0);
  EXPECT_FALSE(doc_.EnterElement());
  EXPECT_EQ(doc_.ParentPosition(), 0);
  XmlDocument empty;
  EXPECT_FALSE(empty.SeekElement());
  EXPECT_FALSE(empty.SeekChild());
  EXPECT_EQ(empty.ChildText(), "");
  EXPECT_EQ(empty.ChildName(), "");
}

TEST(XmlElementTextTest, CollectsTextAndCdataOnly) {
  const struct {
    std::string element;
    std::string text;
  } kCases[] = {
      {"<a>x &amp; y</a>", "x & y"},
      {"<a><![CDATA[<b>&amp;]]></a>", "<b>&amp;"},
      {"<a> <!-- c --> </a>", ""},
      {"<a><b>x</b></a>", ""},
      {"<a/>", ""},
      {"<a></a>", ""},
      {"<a> x </a>", " x "},
      {"<a>x<!-- c -->y<?pi?>z</a>", "xyz"},
      {"<a>1 &lt; 2<![CDATA[]]]]><![CDATA[>]]> 3</a>", "1 < 2]]> 3"},
      {"<a>a>b<!-- -->c</a>", "a>bc"},
      {"<a>\r\n  x\r\n</a>", "\r\n  x\r\n"},
      {"<a>&#x4E2D;</a>", "\xe4\xb8\xad"},
      {"<a><![C]]></a>", ""},
      {"<a><![CDATA[x]]> <![CDATA[y]]></a>", "xy"},
  };
  for (const auto& c : kCases) {
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadText(c.element)) << c.element << doc.ErrorText();
    EXPECT_EQ(doc.ElementText(1), c.text) << c.element;
  }
  XmlDocument doc;
  doc.LoadText("<a>x</a>");
  EXPECT_EQ(doc.ElementText(0), "");
  EXPECT_EQ(doc.ElementText(2), "");
  EXPECT_EQ(doc.ElementText(-1), "");
  EXPECT_EQ(doc.ElementName(2), "");
}

}  // namespace
}  // namespace vm
