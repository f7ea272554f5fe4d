#ifndef VM_TESTS_SUPPORT_XML_INDEX_H_
#define VM_TESTS_SUPPORT_XML_INDEX_H_

#include <cstdint>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "xml/xml_document.h"

namespace vm {

// F first child, N not ended, E holds an error.
inline std::string Flags(uint32_t flags) {
  std::string letters;
  if ((flags & kFirstChild) != 0) letters += 'F';
  if ((flags & kNotEnded) != 0) letters += 'N';
  if ((flags & kHasErrors) != 0) letters += 'E';
  return letters.empty() ? "-" : letters;
}

// The index in document order, each record as text with its links replaced
// by document-order ordinals, so that two indexes of the same text compare
// equal however their records are numbered (a parse numbers in document
// order, appends at the end). Fails the test when the links loop or leave
// records unreached.
inline std::vector<std::string> OrderedIndex(const XmlDocument& doc) {
  const int32_t count = doc.ElementCount();
  std::vector<int32_t> order = {0};
  std::vector<int32_t> ordinal(count, -1);
  ordinal[0] = 0;
  for (int32_t x = doc.Element(0).first_child; x != 0;) {
    if (x < 0 || x >= count || ordinal[x] >= 0) {
      ADD_FAILURE() << "element links loop or leave the table at " << x;
      return {};
    }
    ordinal[x] = static_cast<int32_t>(order.size());
    order.push_back(x);
    if (doc.Element(x).first_child != 0) {
      x = doc.Element(x).first_child;
      continue;
    }
    while (x != 0 && doc.Element(x).next == 0) x = doc.Element(x).parent;
    if (x != 0) x = doc.Element(x).next;
  }
  EXPECT_EQ(static_cast<int32_t>(order.size()), count) << "unreached records";
  auto at = [&](int32_t i) { return i >= 0 && i < count ? ordinal[i] : -2; };
  std::vector<std::string> result;
  for (int32_t i : order) {
    const ElementRecord& r = doc.Element(i);
    int level = 0;  // steps from a top-level element up to the document
    for (int32_t up = r.parent; i != 0 && up != 0; up = doc.Element(up).parent)
      ++level;
    result.push_back(
        std::to_string(r.start) + "+" + std::to_string(r.length) + " tags " +
        std::to_string(r.start_tag_length) + "/" +
        std::to_string(r.end_tag_length) + " level " + std::to_string(level) +
        " flags " + Flags(i == 0 ? 0 : r.flags) + " links " +
        std::to_string(at(r.parent)) + "," + std::to_string(at(r.first_child)) +
        "," + std::to_string(at(r.next)) + "," +
        std::to_string(at(r.previous)));
  }
  return result;
}

// True when `doc`'s index equals that of a fresh parse of its text.
inline bool IndexMatchesFreshParse(const XmlDocument& doc) {
  XmlDocument fresh;
  fresh.LoadText(doc.DocumentText());
  const std::vector<std::string> got = OrderedIndex(doc);
  EXPECT_EQ(got, OrderedIndex(fresh)) << doc.DocumentText();
  return got == OrderedIndex(fresh);
}

}  // namespace vm

#endif  // VM_TESTS_SUPPORT_XML_INDEX_H_
