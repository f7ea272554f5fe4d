// Documents whose index spans several segments of the element table.

#include <string>

#include "gtest/gtest.h"
#include "testing/xml_index.h"
#include "xml/xml_document.h"

namespace vm {
namespace {

TEST(XmlLargeDocumentTest, ParsesNavigatesCopiesAndGrowsAcrossSegments) {
  constexpr int kItems = 200000;
  std::string text = "<database>\r\n<domain>\r\n";
  for (int i = 0; i < kItems; ++i) {
    text += "<item><name>d" + std::to_string(i) + "</name></item>\r\n";
  }
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadText(text + "</domain>\r\n</database>\r\n"));
  EXPECT_EQ(doc.ElementCount(), 2 * kItems + 3);
  ASSERT_TRUE(doc.SeekChild("domain"));
  ASSERT_TRUE(doc.EnterElement());
  ASSERT_TRUE(doc.EnterElement());
  int items = 0;
  while (doc.SeekElement("item")) ++items;
  EXPECT_EQ(items, kItems);
  doc.MoveTo(doc.ParentPosition(), doc.CurrentPosition(), 0);
  ASSERT_TRUE(doc.SeekChild("name"));
  EXPECT_EQ(doc.ChildText(), "d199999");

  // Appends past the end of a segment, then a copy of the grown table.
  ASSERT_TRUE(doc.MoveTo(1, 2, 0));
  const int kAppends = ElementTable::kSegmentRecords + 5000;
  for (int i = 0; i < kAppends; ++i) {
    ASSERT_TRUE(doc.NewElementNumber("n", i, kAsChild));
  }
  XmlDocument copy = doc;
  EXPECT_EQ(copy.ElementCount(), 2 * kItems + 3 + kAppends);
  EXPECT_TRUE(IndexMatchesFreshParse(copy));
  EXPECT_EQ(copy.ElementText(copy.ElementCount() - 1),
            std::to_string(kAppends - 1));
}

}  // namespace
}  // namespace vm
