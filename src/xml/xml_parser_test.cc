#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "xml/xml_document.h"
#include "xml/xml_test_helpers.h"

namespace vm {
namespace {

struct ParseCase {
  std::string text;
  bool well_formed;
  std::string error;
};

TEST(XmlParserTest, ReportsTheFirstProblemWithItsOffset) {
  const ParseCase kCases[] = {
      {"", false, "Empty document"},
      {"just text, no markup", false, "No root element"},
      {"<!-- only a comment -->", false, "No root element"},
      {"<a/><b/>", false, "Root element has sibling"},
      {"<a/>", true, ""},
      {"<a/> trailing text\r\n", true, ""},
      {"<?xml version='1.0'?>\r\n<!DOCTYPE a [ <!ELEMENT a ANY> ]>\r\n"
       "<!-- c --><a>x</a>",
       true, ""},
      {"<a><b></a>", false,
       "End tag 'a' at offset 7 does not match start tag 'b' at offset 3"},
      {"<a><b>", false, "Element 'b' at offset 3 not ended"},
      {"<a></b></a>", false, "No start tag for end tag 'b' at offset 3"},
      {"<ab></a></ab>", false, "No start tag for end tag 'a' at offset 4"},
      {"<a x='>'/>", true, ""},
      {"<a x=1/>", false, "Element 'a' at offset 0 not ended"},
      {"<a>< b</a>", false, "Incorrect tag name character at offset 3"},
      {"<a><!x></a>", false, "Incorrect ! tag at offset 3"},
      {"<a><!-x></a>", false, "Incorrect comment tag at offset 3"},
      {"<a><![x></a>", false, "Incorrect tag at offset 3"},
      {"<a><!-- x", false, "Comment at offset 3 unterminated"},
      {"<a><![CDATA[x", false, "CDATA Section at offset 3 unterminated"},
      {"<a><?pi x", false, "Processing instruction at offset 3 unterminated"},
      {"<a/><!DOCTYPE a [", false, "Doctype at offset 4 unterminated"},
      {"<!DOCTYPE a [", false, "No root element"},
      {"<a><b x='1'", false, "Element tag at offset 3 unterminated"},
      {"<a></a", false, "Element end tag at offset 3 unterminated"},
      {"<a><", false, "tag at offset 3 unterminated"},
      // The first message stays; the root messages replace it.
      {"<a></b></c></a>", false, "No start tag for end tag 'b' at offset 3"},
      {"<a></a></b><c/>", false, "Root element has sibling"},
      {"</b>", false, "No root element"},
      // Names compare by MatchName: "a" closes "a=b" but "a" does not
      // close "ab".
      {"<a=b></a>", true, ""},
      {"<a><![CDATA[</a>]]></a>", true, ""},
      {"<a x=\"'\" y='\"'/>", true, ""},
      {"<a>\xb2\xe2\xca\xd4</a>", true, ""},
      {"<\xb2\xe2>x</\xb2\xe2>", true, ""},
  };
  for (const auto& c : kCases) {
    XmlDocument doc;
    EXPECT_EQ(doc.LoadText(c.text), c.well_formed) << c.text;
    EXPECT_EQ(doc.CheckWellFormed(), c.well_formed) << c.text;
    EXPECT_EQ(doc.ErrorText(), c.error) << c.text;
    EXPECT_EQ(doc.DocumentText(), c.text);
  }
}

TEST(XmlParserTest, NullAndEmptyTextsAreEmptyDocuments) {
  XmlDocument doc;
  EXPECT_EQ(doc.ErrorText(), "Empty document");
  EXPECT_FALSE(doc.CheckWellFormed());
  EXPECT_TRUE(doc.LoadText("<a/>"));
  EXPECT_FALSE(doc.LoadText(nullptr));
  EXPECT_EQ(doc.ErrorText(), "Empty document");
  EXPECT_EQ(doc.DocumentText(), "");
}

TEST(XmlParserTest, RecordsOffsetsLengthsAndLinks) {
  //                0         1         2         3
  //                0123456789012345678901234567890123456
  const char* kText = "<r><a x='1'>t</a>\r\n<b/><c >y</c ></r>";
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadText(kText));
  ASSERT_EQ(doc.ElementCount(), 5);
  struct Want {
    int32_t start, length, stag, etag, level, parent, first, next, prev;
    uint32_t flags;
  };
  const Want kWant[] = {
      {0, 37, 0, 0, 0, 0, 1, 0, 0, 0},
      {0, 37, 3, 4, 0, 0, 2, 0, 1, kFirstChild},
      {3, 14, 9, 4, 1, 1, 0, 3, 4, kFirstChild},
      {19, 4, 4, 0, 1, 1, 0, 4, 2, 0},
      {23, 10, 4, 5, 1, 1, 0, 0, 3, 0},
  };
  for (int32_t i = 0; i < 5; ++i) {
    const ElementRecord& r = doc.Element(i);
    const Want& w = kWant[i];
    EXPECT_EQ(r.start, w.start) << i;
    EXPECT_EQ(r.length, w.length) << i;
    EXPECT_EQ(r.start_tag_length, w.stag) << i;
    EXPECT_EQ(r.end_tag_length, w.etag) << i;
    EXPECT_EQ(r.level, w.level) << i;
    EXPECT_EQ(r.parent, w.parent) << i;
    EXPECT_EQ(r.first_child, w.first) << i;
    EXPECT_EQ(r.next, w.next) << i;
    EXPECT_EQ(r.previous, w.prev) << i;
    EXPECT_EQ(r.flags, w.flags) << i;
  }
}

TEST(XmlParserTest, UnmatchedStartTagsBecomeNotEndedAndLoseTheirChildren) {
  // b is not ended; c and d, its children until then, follow it as
  // siblings under a, which still gets its end tag.
  XmlDocument doc;
  EXPECT_FALSE(doc.LoadText("<a><b><c/><d></d></a>"));
  ASSERT_EQ(doc.ElementCount(), 5);
  const ElementRecord& a = doc.Element(1);
  const ElementRecord& b = doc.Element(2);
  EXPECT_EQ(a.length, 21);
  EXPECT_EQ(a.end_tag_length, 4);
  EXPECT_EQ(b.length, 3);
  EXPECT_EQ(b.end_tag_length, 0);
  EXPECT_NE(b.flags & kNotEnded, 0u);
  EXPECT_EQ(b.first_child, 0);
  EXPECT_NE(doc.Element(0).flags & kDocumentHasErrors, 0u);
  int32_t expected_children[] = {2, 3, 4};
  int32_t c = a.first_child;
  for (int32_t want : expected_children) {
    ASSERT_EQ(c, want);
    EXPECT_EQ(doc.Element(c).parent, 1);
    EXPECT_EQ(doc.Element(c).level, 1);
    EXPECT_EQ((doc.Element(c).flags & kFirstChild) != 0, c == 2);
    c = doc.Element(c).next;
  }
  EXPECT_EQ(c, 0);
  EXPECT_EQ(doc.Element(a.first_child).previous, 4);
  EXPECT_EQ(doc.Element(4).previous, 3);
  EXPECT_EQ(doc.Element(3).previous, 2);
}

TEST(XmlParserTest, ErrorsMarkTheEnclosingElement) {
  XmlDocument doc;
  EXPECT_FALSE(doc.LoadText("<a><b></x></b><c/></a>"));
  EXPECT_NE(doc.Element(2).flags & kHasErrors, 0u);  // b
  EXPECT_EQ(doc.Element(1).flags & kHasErrors, 0u);  // a
  // A not-ended element hands its mark on to its parent.
  EXPECT_FALSE(doc.LoadText("<a><b><!x></a>"));
  EXPECT_EQ(doc.Element(2).flags & kHasErrors, 0u);
  EXPECT_NE(doc.Element(1).flags & kHasErrors, 0u);
}

TEST(XmlParserTest, NulEndsTheScanButEveryByteIsKept) {
  const std::string text("<a>x\0</a>", 9);
  XmlDocument doc;
  EXPECT_FALSE(doc.LoadText(text));
  EXPECT_EQ(doc.ErrorText(), "Element 'a' at offset 0 not ended");
  EXPECT_EQ(doc.DocumentText(), text);

  // After a complete root, whatever follows a NUL is kept and ignored.
  const std::string tail("<a>x</a>\0<b>", 12);
  EXPECT_TRUE(doc.LoadText(tail));
  EXPECT_EQ(doc.DocumentText(), tail);
  EXPECT_EQ(doc.Element(0).length, 12);
}

TEST(XmlParserTest, CopiesAreIndependent) {
  XmlDocument original;
  ASSERT_TRUE(original.LoadText("<r>\r\n<a>1</a>\r\n</r>"));
  ASSERT_TRUE(original.SeekElement("r"));
  XmlDocument copy;
  copy.CopyFrom(original);
  EXPECT_EQ(copy.DocumentText(), original.DocumentText());
  EXPECT_EQ(copy.CurrentPosition(), original.CurrentPosition());
  EXPECT_TRUE(copy.CheckWellFormed());
  ASSERT_TRUE(copy.NewElement("b", "2", kAsChild));
  EXPECT_EQ(original.DocumentText(), "<r>\r\n<a>1</a>\r\n</r>");
  EXPECT_EQ(original.ElementCount(), 3);
  EXPECT_TRUE(IndexMatchesFreshParse(copy));
  EXPECT_TRUE(IndexMatchesFreshParse(original));

  XmlDocument assigned = copy;
  EXPECT_EQ(assigned.DocumentText(), copy.DocumentText());
  EXPECT_TRUE(IndexMatchesFreshParse(assigned));
  // A copy of a broken document keeps its message.
  original.LoadText("<a>");
  copy = original;
  EXPECT_EQ(copy.ErrorText(), "Element 'a' at offset 0 not ended");
  EXPECT_FALSE(copy.CheckWellFormed());
}

TEST(XmlParserTest, DeepNestingNeedsNoStackDepth) {
  constexpr int kDepth = 100000;
  std::string open_tags;
  for (int i = 0; i < kDepth; ++i) open_tags += "<a>";
  std::string close_tags;
  for (int i = 0; i < kDepth; ++i) close_tags += "</a>";

  XmlDocument doc;
  ASSERT_TRUE(doc.LoadText(open_tags + "x" + close_tags));
  EXPECT_EQ(doc.Element(kDepth).level, kDepth - 1);
  EXPECT_EQ(doc.ElementText(kDepth), "x");
  EXPECT_EQ(doc.Element(1).length, 7 * kDepth + 1);

  // Never closed: every element ends up not ended at the top level.
  EXPECT_FALSE(doc.LoadText(open_tags));
  EXPECT_EQ(doc.ErrorText(), "Element 'a' at offset " +
                                 std::to_string(3 * (kDepth - 1)) +
                                 " not ended");
  int32_t count = 0;
  for (int32_t e = doc.Element(0).first_child; e != 0;
       e = doc.Element(e).next) {
    const ElementRecord& r = doc.Element(e);
    ASSERT_EQ(r.parent, 0);
    ASSERT_EQ(r.level, 0);
    ASSERT_NE(r.flags & kNotEnded, 0u);
    ASSERT_EQ(r.first_child, 0);
    ++count;
  }
  EXPECT_EQ(count, kDepth);
  EXPECT_EQ(doc.Element(doc.Element(0).first_child).previous, kDepth);

  // Closed from the outside: the inner ones are flattened under the root.
  EXPECT_FALSE(doc.LoadText("<r>" + open_tags + "</r>"));
  EXPECT_EQ(doc.Element(1).length, 3 * kDepth + 7);
  count = 0;
  for (int32_t e = doc.Element(1).first_child; e != 0;
       e = doc.Element(e).next) {
    ASSERT_EQ(doc.Element(e).level, 1);
    ++count;
  }
  EXPECT_EQ(count, kDepth);
}

TEST(XmlParserTest, HostileTextsLoadWithoutHarm) {
  const std::vector<std::string> kTexts = {
      std::string(10 * 1024 * 1024, 'x'),
      std::string(10 * 1024 * 1024, '>'),
      std::string(1 << 20, '<'),
      "<",
      "<a",
      "<a/",
      "<!",
      "<!-",
      "<![",
      "<!D",
      "<?",
      "</",
      "<a x='",
      "<a x=\"/>",
      "<!DOCTYPE a [<!ELEMENT",
      "<!-->",
      "<![C]]><a/>",
      std::string("<a>\0\0\0", 6),
      std::string("\0<a/>", 5),
  };
  for (const auto& text : kTexts) {
    XmlDocument doc;
    doc.LoadText(text);
    EXPECT_EQ(doc.DocumentText(), text);
    EXPECT_TRUE(IndexMatchesFreshParse(doc)) << text.substr(0, 40);
    for (int32_t i = 1; i < doc.ElementCount(); ++i) {
      const ElementRecord& r = doc.Element(i);
      ASSERT_GE(r.start, 0);
      ASSERT_LE(r.start + r.length, static_cast<int32_t>(text.size()));
      doc.ElementText(i);
      doc.ElementName(i);
    }
  }
}

TEST(XmlParserTest, LongTagsKeepTheirExactLengths) {
  // Start tags over 4 MiB and end tags over 1 KiB must not wrap.
  const std::string value(5 * 1024 * 1024, 'v');
  const std::string name(2000, 'n');
  const std::string text =
      "<r><a x='" + value + "'>t</a><" + name + ">u</" + name + "></r>";
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadText(text));
  EXPECT_EQ(doc.Element(2).start_tag_length,
            static_cast<int32_t>(value.size()) + 8);
  EXPECT_EQ(doc.ElementText(2), "t");
  EXPECT_EQ(doc.Element(3).end_tag_length,
            static_cast<int32_t>(name.size()) + 3);
  EXPECT_EQ(doc.ElementText(3), "u");
  EXPECT_EQ(doc.ElementName(3), name);
}

}  // namespace
}  // namespace vm
