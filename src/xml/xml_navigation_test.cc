#include <string>
#include <string_view>

#include "gtest/gtest.h"
#include "xml/xml_document.h"

namespace vm {
namespace {

constexpr char kDomains[] =
    "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n"
    "<database>\r\n<domain>\r\n<items>\r\n</items>\r\n"
    "<item>\r\n<domain>one.example</domain>\r\n<type>1</type>\r\n</item>\r\n"
    "<!-- second -->\r\n"
    "<item>\r\n<domain>two.example</domain>\r\n<type>0</type>\r\n</item>\r\n"
    "</domain>\r\n</database>\r\n";

TEST(XmlNavigationTest, StoreWalkReadsEveryItemField) {
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadText(kDomains));
  ASSERT_TRUE(doc.SeekChild("domain"));
  EXPECT_EQ(doc.ElementName(doc.CurrentPosition()), "database");
  ASSERT_TRUE(doc.EnterElement());
  ASSERT_TRUE(doc.EnterElement());
  std::string seen;
  while (doc.SeekElement("item")) {
    doc.MoveTo(doc.ParentPosition(), doc.CurrentPosition(), 0);
    ASSERT_TRUE(doc.SeekChild("domain"));
    seen += doc.ChildText() + "=";
    doc.MoveTo(doc.ParentPosition(), doc.CurrentPosition(), 0);
    ASSERT_TRUE(doc.SeekChild("type"));
    seen += doc.ChildText() + ";";
  }
  EXPECT_EQ(seen, "one.example=1;two.example=0;");
  // A failed search leaves the positions alone; only siblings are searched.
  const int32_t current = doc.CurrentPosition();
  EXPECT_FALSE(doc.SeekChild("nothing"));
  EXPECT_EQ(doc.CurrentPosition(), current);
  doc.MoveTo(0, 0, 0);
  EXPECT_FALSE(doc.SeekElement("item"));
  EXPECT_FALSE(doc.MoveTo(0, doc.ElementCount(), 0));
  EXPECT_FALSE(doc.EnterElement());
}

TEST(XmlNavigationTest, NamesMatchWholeOrUpToASeparator) {
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadText("<r><items/><item k='1'/></r>"));
  ASSERT_TRUE(doc.SeekElement("r"));
  ASSERT_TRUE(doc.EnterElement());
  ASSERT_TRUE(doc.SeekElement("item x"));
  EXPECT_EQ(doc.CurrentPosition(), 3);
  for (const char* name : {"ite", "Item", "items="}) {
    doc.MoveTo(doc.ParentPosition(), 0, 0);
    EXPECT_EQ(doc.SeekElement(name), std::string_view(name) == "items=")
        << name;
  }
}

TEST(XmlNavigationTest, ElementTextCollectsTextAndCdataOnly) {
  const struct {
    std::string element;
    std::string text;
  } kCases[] = {
      {"<a>x &amp; y</a>", "x & y"},
      {"<a><![CDATA[<b>&amp;]]></a>", "<b>&amp;"},
      {"<a> <!-- c --> </a>", ""},
      {"<a><b>x</b></a>", ""},
      {"<a>x<!-- c -->y<?pi?>z</a>", "xyz"},
      {"<a>1 &lt; 2<![CDATA[]]]]><![CDATA[>]]> 3</a>", "1 < 2]]> 3"},
      {"<a><![CDATA[x]]]></a>", "x]"},
      {"<a>\r\n  x\r\n</a>", "\r\n  x\r\n"},
      {"<a><![C]]></a>", ""},
  };
  for (const auto& c : kCases) {
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadText(c.element)) << c.element << doc.ErrorText();
    EXPECT_EQ(doc.ElementText(1), c.text) << c.element;
  }
}

}  // namespace
}  // namespace vm
