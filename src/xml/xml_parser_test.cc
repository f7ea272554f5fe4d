#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "testing/xml_index.h"
#include "xml/xml_document.h"

namespace vm {
namespace {

TEST(XmlParserTest, ReportsTheFirstProblemWithItsOffset) {
  const struct {
    std::string text;
    std::string error;  // empty: well-formed
  } kCases[] = {
      {"", "Empty document"},
      {"<!-- only a comment -->", "No root element"},
      {"<a/><b/>", "Root element has sibling"},
      {"<a/> trailing text\r\n", ""},
      {"<?xml version='1.0'?>\r\n<!DOCTYPE a [ <!ELEMENT a ANY> ]><a>x</a>",
       ""},
      {"<a><b></a>",
       "End tag 'a' at offset 7 does not match start tag 'b' at offset 3"},
      {"<a><b>", "Element 'b' at offset 3 not ended"},
      {"<ab></a></ab>", "No start tag for end tag 'a' at offset 4"},
      {"<a x='>'/><!-- x='<' -->", ""},
      {"<a x=1/>", "Element 'a' at offset 0 not ended"},
      {"<a>< b</a>", "Incorrect tag name character at offset 3"},
      {"<a><!x></a>", "Incorrect ! tag at offset 3"},
      {"<a><!-x></a>", "Incorrect comment tag at offset 3"},
      {"<a><![x></a>", "Incorrect tag at offset 3"},
      {"<a><!-- x", "Comment at offset 3 unterminated"},
      {"<a><![CDATA[x", "CDATA Section at offset 3 unterminated"},
      {"<a><?pi x", "Processing instruction at offset 3 unterminated"},
      {"<a/><!DOCTYPE a [", "Doctype at offset 4 unterminated"},
      {"<a><b x='1'", "Element tag at offset 3 unterminated"},
      {"<a></a", "Element end tag at offset 3 unterminated"},
      {"<a><", "tag at offset 3 unterminated"},
      // The first message stays; the root messages replace it.
      {"<a></b></c></a>", "No start tag for end tag 'b' at offset 3"},
      {"<a></a></b><c/>", "Root element has sibling"},
      {"<a=b></a><!-- 'a' closes 'a=b' -->", ""},
      {"<a><![CDATA[</a>]]></a>", ""},
      {"<\xb2\xe2>\xb2\xe2</\xb2\xe2>", ""},
      // Parsing stops at a NUL; every byte is kept.
      {std::string("<a>x\0</a>", 9), "Element 'a' at offset 0 not ended"},
      {std::string("<a>x</a>\0<b>", 12), ""},
  };
  for (const auto& c : kCases) {
    XmlDocument doc;
    EXPECT_EQ(doc.LoadText(c.text), c.error.empty()) << c.text;
    EXPECT_EQ(doc.CheckWellFormed(), c.error.empty()) << c.text;
    EXPECT_EQ(doc.ErrorText(), c.error) << c.text;
    EXPECT_EQ(doc.DocumentText(), c.text);
  }
  XmlDocument doc;
  EXPECT_TRUE(doc.LoadText("<a/>"));
  EXPECT_FALSE(doc.LoadText(nullptr));
  EXPECT_EQ(doc.ErrorText(), "Empty document");
}

// Records as "start+length tags start/end level flags links
// parent,first,next,previous" in document order (see OrderedIndex).
TEST(XmlParserTest, IndexesOffsetsLinksAndFlags) {
  const struct {
    std::string text;
    std::vector<std::string> index;
  } kCases[] = {
      {"<r><a x='1'>t</a>\r\n<b/><c >y</c ></r>",
       {"0+37 tags 0/0 level 0 flags - links 0,1,0,0",
        "0+37 tags 3/4 level 0 flags F links 0,2,0,1",
        "3+14 tags 9/4 level 1 flags F links 1,0,3,4",
        "19+4 tags 4/0 level 1 flags - links 1,0,4,2",
        "23+10 tags 4/5 level 1 flags - links 1,0,0,3"}},
      // b is not ended: c and d follow it as siblings under a.
      {"<a><b><c/><d></d></a>",
       {"0+21 tags 0/0 level 0 flags - links 0,1,0,0",
        "0+21 tags 3/4 level 0 flags F links 0,2,0,1",
        "3+3 tags 3/0 level 1 flags FN links 1,0,3,4",
        "6+4 tags 4/0 level 1 flags - links 1,0,4,2",
        "10+7 tags 3/4 level 1 flags - links 1,0,0,3"}},
      // An error marks the element it stands in.
      {"<a><b></x></b></a>",
       {"0+18 tags 0/0 level 0 flags - links 0,1,0,0",
        "0+18 tags 3/4 level 0 flags F links 0,2,0,1",
        "3+11 tags 3/4 level 1 flags FE links 1,0,0,2"}},
  };
  for (const auto& c : kCases) {
    XmlDocument doc;
    doc.LoadText(c.text);
    EXPECT_EQ(OrderedIndex(doc), c.index) << c.text;
  }
}

TEST(XmlParserTest, DeepNestingNeedsNoStackDepth) {
  constexpr int kDepth = 100000;
  std::string open_tags;
  std::string close_tags;
  for (int i = 0; i < kDepth; ++i) open_tags += "<a>", close_tags += "</a>";
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadText(open_tags + "x" + close_tags));
  EXPECT_EQ(doc.Element(kDepth).parent, kDepth - 1);
  EXPECT_EQ(doc.ElementText(kDepth), "x");
  // Never closed: every element ends up not ended at the top level.
  EXPECT_FALSE(doc.LoadText(open_tags));
  EXPECT_EQ(doc.Element(doc.Element(0).first_child).previous, kDepth);
  EXPECT_EQ(doc.Element(kDepth).parent, 0);
}

TEST(XmlParserTest, LongTagsKeepTheirExactLengths) {
  const std::string value(5 * 1024 * 1024, 'v');
  const std::string name(2000, 'n');
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadText("<r><a x='" + value + "'>t</a><" + name + ">u</" +
                           name + "></r>"));
  EXPECT_EQ(doc.Element(2).start_tag_length,
            static_cast<int32_t>(value.size()) + 8);
  EXPECT_EQ(doc.Element(3).end_tag_length,
            static_cast<int32_t>(name.size()) + 3);
  EXPECT_EQ(doc.ElementText(3), "u");
}

TEST(XmlParserTest, CopiesAreIndependent) {
  XmlDocument original;
  ASSERT_TRUE(original.LoadText("<r>\r\n<a>1</a>\r\n</r>"));
  ASSERT_TRUE(original.SeekElement("r"));
  XmlDocument copy = original;
  ASSERT_TRUE(copy.NewElement("b", "2", kAsChild));
  EXPECT_EQ(original.DocumentText(), "<r>\r\n<a>1</a>\r\n</r>");
  EXPECT_TRUE(IndexMatchesFreshParse(copy));
  EXPECT_TRUE(IndexMatchesFreshParse(original));
  original.LoadText("<a>");
  copy.CopyFrom(original);
  EXPECT_EQ(copy.ErrorText(), "Element 'a' at offset 0 not ended");
  // A move takes everything and leaves the empty document, which works on
  // as one: its index holds no stale capacity.
  XmlDocument moved = std::move(original);
  EXPECT_EQ(moved.ErrorText(), "Element 'a' at offset 0 not ended");
  EXPECT_EQ(original.ErrorText(), "Empty document");
  EXPECT_EQ(original.ElementCount(), 1);
  ASSERT_TRUE(original.LoadText("<r/>"));
  ASSERT_TRUE(original.SeekElement("r"));
  ASSERT_TRUE(original.NewElement("b", "", kAsChild));
  moved = std::move(original);
  EXPECT_EQ(moved.DocumentText(), "<r>\r\n<b/>\r\n</r>");
  EXPECT_TRUE(IndexMatchesFreshParse(moved));
  EXPECT_FALSE(original.CheckWellFormed());
}

}  // namespace
}  // namespace vm
