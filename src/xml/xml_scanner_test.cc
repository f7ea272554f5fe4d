#include "xml/xml_scanner.h"

#include <string>

#include "gtest/gtest.h"

namespace vm {
namespace {

// Every node of `text` as "kind:start+length", the node's name or message
// in brackets when it has one, "/" for an empty tag, and the end-tag name
// in braces.
std::string Nodes(const std::string& text) {
  ScanCursor cursor;
  cursor.text = text.c_str();
  ScannedNode node;
  std::string out;
  while (NextNode(&cursor, &node) != kEndOfText) {
    if (!out.empty()) out += ' ';
    out += std::to_string(node.kind) + ":" + std::to_string(node.start) + "+" +
           std::to_string(node.length);
    if (!node.name.empty()) out += "[" + node.name + "]";
    if ((node.flags & kEmptyTag) != 0) out += "/";
    if (node.kind == kEndTagNode) {
      out += "{" +
             text.substr(cursor.name_start,
                         cursor.name_end - cursor.name_start + 1) +
             "}";
    }
    if (cursor.next != node.start + node.length) return "cursor out of step";
  }
  return out;
}

TEST(XmlScannerTest, CutsTextIntoNodes) {
  const struct {
    std::string text;
    std::string nodes;
  } kCases[] = {
      {"a>b<c>", "2:0+2 2:2+1 1:3+3[c]"},
      {" \r\n\t<a/>", "4:0+4 1:4+4[a]/"},
      {" x <a/>", "2:0+3 1:3+4[a]/"},
      {"<a x='/'>", "1:0+9[a]"},
      {"<a x=\"1\" />", "1:0+11[a]/"},
      {"<a x='1'/>", "1:0+10[a]/"},
      {"<a x=1/>", "1:0+8[a]"},
      {"<a/ >", "1:0+5[a]"},
      {"<a x='>'>t", "1:0+9[a] 2:9+1"},
      {"<a x=\"'>\">", "1:0+10[a]"},
      {"</a >", "0:0+5{a}"},
      {"</>", "0:0+3{}"},
      {"<?xml version='1.0'?>", "16:0+21[xml]"},
      {"<!-- a -- > b -->", "32:0+17"},
      {"<![CDATA[ <x> ]] > ]]>", "8:0+22"},
      {"<!DOCTYPE r [ <!ELEMENT r (#PCDATA)> <!-- > --> ]><r/>",
       "64:0+50 1:50+4[r]/"},
      {"<!DOCTYPE r SYSTEM 'x'>", "64:0+23"},
      {"<\xb2\xe2>", "1:0+4[\xb2\xe2]"},
      {"<A:b_c>", "1:0+7[A:b_c]"},
      {"<1>", "-1:0+3[Incorrect tag name character at offset 0]"},
      {"<`>", "-1:0+3[Incorrect tag name character at offset 0]"},
      {"<a><.x</a>",
       "1:0+3[a] -1:3+3[Incorrect tag name character at offset 3] 0:6+4{a}"},
      {"<!x>", "-1:0+4[Incorrect ! tag at offset 0]"},
      {"<!-x>", "-1:0+5[Incorrect comment tag at offset 0]"},
      {"<![x>", "-1:0+5[Incorrect tag at offset 0]"},
      {"<a", "-1:0+2[Element tag at offset 0 unterminated]"},
      {"x<!--", "2:0+1 -1:1+4[Comment at offset 1 unterminated]"},
      {"<?p", "-1:0+3[Processing instruction at offset 0 unterminated]"},
      {"<!DOCTYPE [", "-1:0+11[Doctype at offset 0 unterminated]"},
      {"</a", "-1:0+3[Element end tag at offset 0 unterminated]"},
      {"<![CDATA[", "-1:0+9[CDATA Section at offset 0 unterminated]"},
      {"<", "-1:0+1[tag at offset 0 unterminated]"},
      {"text", "2:0+4"},
      {"  ", "4:0+2"},
      {"", ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Nodes(c.text), c.nodes) << c.text;
  }
}

TEST(XmlScannerTest, ScanNameStopsAtSeparators) {
  const struct {
    std::string text;
    bool found;
    std::string name;
    int32_t next;
  } kCases[] = {
      {" \tabc=1", true, "abc", 5},
      {"item>", true, "item", 4},
      {"a/b", true, "a", 1},
      {"=x", true, "=", 1},
      {"\xb2\xe2 x", true, "\xb2\xe2", 2},
      {"  ", false, "", 2},
      {"", false, "", 0},
  };
  for (const auto& c : kCases) {
    ScanCursor cursor;
    cursor.text = c.text.c_str();
    EXPECT_EQ(ScanName(&cursor), c.found) << c.text;
    EXPECT_EQ(c.text.substr(cursor.name_start,
                            cursor.name_end - cursor.name_start + 1),
              c.name)
        << c.text;
    EXPECT_EQ(cursor.next, c.next) << c.text;
  }
}

TEST(XmlScannerTest, MatchNameComparesUpToASeparator) {
  const struct {
    std::string scanned;
    std::string name;
    bool ignore_case;
    bool match;
  } kCases[] = {
      {"item", "item", false, true},    {"item", "items", false, false},
      {"items", "item", false, false},  {"item", "item x", false, true},
      {"item", "item=", false, true},   {"item", "item/", false, true},
      {"item", "item[", false, true},   {"item", "item]", false, true},
      {"item", "item\t", false, false}, {"Item", "item", false, false},
      {"Item", "item", true, true},     {"\xb2\xe2", "\xb2\xe2", true, true},
  };
  for (const auto& c : kCases) {
    ScanCursor cursor;
    cursor.text = c.scanned.c_str();
    cursor.options = c.ignore_case ? 0x0008 : 0;
    ASSERT_TRUE(ScanName(&cursor));
    EXPECT_EQ(MatchName(cursor, c.name), c.match)
        << c.scanned << " / " << c.name;
  }
}

}  // namespace
}  // namespace vm
