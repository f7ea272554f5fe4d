// Documents whose index spans several segments.

#include <string>

#include "gtest/gtest.h"
#include "xml/xml_document.h"
#include "xml/xml_test_helpers.h"

namespace vm {
namespace {

std::string DomainList(int items) {
  std::string text = "<?xml version=\"1.0\"?>\r\n<database>\r\n<domain>\r\n";
  for (int i = 0; i < items; ++i) {
    text += "<item><name>d" + std::to_string(i) + "</name></item>\r\n";
  }
  return text + "</domain>\r\n</database>\r\n";
}

void EnterList(XmlDocument* doc) {
  doc->MoveTo(0, 0, 0);
  ASSERT_TRUE(doc->SeekElement("database"));
  ASSERT_TRUE(doc->EnterElement());
  ASSERT_TRUE(doc->SeekElement("domain"));
  ASSERT_TRUE(doc->EnterElement());
}

TEST(XmlLargeDocumentTest, ParsesNavigatesAndGrowsAcrossSegments) {
  constexpr int kItems = 200000;
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadText(DomainList(kItems)));
  EXPECT_EQ(doc.ElementCount(), 2 * kItems + 3);
  EXPECT_GT(doc.TableCapacity(), 6 * ElementTable::kSegmentRecords);

  EnterList(&doc);
  int items = 0;
  while (doc.SeekElement("item")) {
    if (items % 32768 == 0 || items == kItems - 1) {
      doc.MoveTo(doc.ParentPosition(), doc.CurrentPosition(), 0);
      ASSERT_TRUE(doc.SeekChild("name"));
      ASSERT_EQ(doc.ChildText(), "d" + std::to_string(items));
    }
    ++items;
  }
  EXPECT_EQ(items, kItems);

  // Append the way a store does.
  doc.MoveTo(0, 0, 0);
  ASSERT_TRUE(doc.SeekElement("database"));
  ASSERT_TRUE(doc.EnterElement());
  ASSERT_TRUE(doc.SeekElement("domain"));
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(doc.NewElement("item", "", kAsChild));
    ASSERT_TRUE(doc.EnterElement());
    ASSERT_TRUE(doc.NewElement("name", "new" + std::to_string(i), kAsChild));
    ASSERT_TRUE(doc.NewElementNumber("type", i, kAsChild));
    doc.MoveTo(0, 0, 0);
    ASSERT_TRUE(doc.SeekElement("database"));
    ASSERT_TRUE(doc.EnterElement());
    ASSERT_TRUE(doc.SeekElement("domain"));
  }
  EXPECT_TRUE(doc.CheckWellFormed());
  EXPECT_TRUE(IndexMatchesFreshParse(doc));
  EXPECT_NE(doc.DocumentText().find(
                "<item><name>d199999</name></item>\r\n<item>\r\n"
                "<name>new0</name>\r\n<type>0</type>\r\n</item>\r\n"),
            std::string::npos);
}

TEST(XmlLargeDocumentTest, AppendsGrowTheTablePastASegment) {
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadText("<r>\r\n</r>"));
  ASSERT_TRUE(doc.SeekElement("r"));
  const int kAppends = ElementTable::kSegmentRecords + 5000;
  for (int i = 0; i < kAppends; ++i) {
    ASSERT_TRUE(doc.NewElementNumber("i", i, kAsChild));
  }
  EXPECT_EQ(doc.ElementCount(), kAppends + 2);
  EXPECT_TRUE(IndexMatchesFreshParse(doc));
  EXPECT_EQ(doc.ElementText(kAppends + 1), std::to_string(kAppends - 1));
  EXPECT_EQ(doc.ElementText(ElementTable::kSegmentRecords),
            std::to_string(ElementTable::kSegmentRecords - 2));
}

}  // namespace
}  // namespace vm
