#include "xml/xml_scanner.h"

#include <string>

#include "gtest/gtest.h"
#include "testing/golden.h"
#include "xml/xml_document.h"

namespace vm {
namespace {

// Every node of `text` in the notation of tests/data/xml/scan.txt.
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
  ExpectGoldenTable("xml/scan.txt", Nodes);
}

TEST(XmlScannerTest, MatchNameComparesUpToASeparator) {
  const struct {
    std::string scanned;
    std::string name;
    bool match;
  } kCases[] = {
      {"item", "item", true},   {"item", "items", false},
      {"items", "item", false}, {"item", "item x", true},
      {"item", "item=", true},  {"item", "item/", true},
      {"item", "item]", true},  {"item", "item\t", false},
      {"Item", "item", false},  {"\xb2\xe2", "\xb2\xe2", true},
  };
  for (const auto& c : kCases) {
    ScanCursor cursor;
    cursor.text = c.scanned.c_str();
    ASSERT_TRUE(ScanName(&cursor));
    EXPECT_EQ(MatchName(cursor, c.name), c.match)
        << c.scanned << " / " << c.name;
  }
}

}  // namespace
}  // namespace vm
