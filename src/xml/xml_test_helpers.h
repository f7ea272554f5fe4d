#ifndef VM_XML_XML_TEST_HELPERS_H_
#define VM_XML_XML_TEST_HELPERS_H_

// Shared by the XML engine's tests only.

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "xml/xml_document.h"

namespace vm {

// One element with its links replaced by document-order ordinals, so that
// two indexes of the same text compare equal however their records are
// numbered (a fresh parse numbers in document order, appends at the end).
struct OrderedElement {
  int32_t start, length, start_tag_length, end_tag_length, level;
  uint32_t flags;
  int32_t parent, first_child, next, previous;
  bool operator==(const OrderedElement&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const OrderedElement& e) {
  return os << "{start " << e.start << " len " << e.length << " tags "
            << e.start_tag_length << "/" << e.end_tag_length << " level "
            << e.level << " flags " << std::hex << e.flags << std::dec
            << " parent " << e.parent << " first " << e.first_child << " next "
            << e.next << " prev " << e.previous << "}";
}

// Walks the index in document order. Fails the test (and returns what it
// has) when the links loop, leave records unreached, or disagree with each
// other. Element 0 of the result is the document record without its flags.
inline std::vector<OrderedElement> OrderedIndex(const XmlDocument& doc) {
  const int32_t count = doc.ElementCount();
  std::vector<int32_t> order;
  std::vector<int32_t> ordinal(count, -1);
  ordinal[0] = 0;
  order.push_back(0);
  int32_t x = doc.Element(0).first_child;
  int64_t steps = 0;
  while (x != 0) {
    if (x < 0 || x >= count || ordinal[x] >= 0 || ++steps > 4LL * count) {
      ADD_FAILURE() << "element links loop or leave the table at " << x;
      return {};
    }
    ordinal[x] = static_cast<int32_t>(order.size());
    order.push_back(x);
    const ElementRecord& r = doc.Element(x);
    if (r.first_child != 0) {
      x = r.first_child;
      continue;
    }
    while (x != 0 && doc.Element(x).next == 0) x = doc.Element(x).parent;
    if (x != 0) x = doc.Element(x).next;
  }
  EXPECT_EQ(static_cast<int32_t>(order.size()), count)
      << "records not reachable from the document record";
  std::vector<OrderedElement> result;
  auto at = [&](int32_t i) { return i >= 0 && i < count ? ordinal[i] : -2; };
  for (int32_t i : order) {
    const ElementRecord& r = doc.Element(i);
    result.push_back({r.start, r.length, r.start_tag_length, r.end_tag_length,
                      r.level, i == 0 ? 0 : r.flags, at(r.parent),
                      at(r.first_child), at(r.next), at(r.previous)});
  }
  return result;
}

// Expects `doc`'s index to equal a fresh parse of its text, record for
// record. Returns false (after reporting) when it does not.
inline bool IndexMatchesFreshParse(const XmlDocument& doc) {
  XmlDocument fresh;
  fresh.LoadText(doc.DocumentText());
  std::vector<OrderedElement> got = OrderedIndex(doc);
  std::vector<OrderedElement> want = OrderedIndex(fresh);
  if (got.size() != want.size()) {
    ADD_FAILURE() << "element count " << got.size() << ", fresh parse "
                  << want.size() << "\ntext:\n"
                  << doc.DocumentText();
    return false;
  }
  for (size_t i = 0; i < got.size(); ++i) {
    if (!(got[i] == want[i])) {
      ADD_FAILURE() << "element " << i << " is " << got[i]
                    << "\nfresh parse gives " << want[i] << "\ntext:\n"
                    << doc.DocumentText();
      return false;
    }
  }
  return true;
}

}  // namespace vm

#endif  // VM_XML_XML_TEST_HELPERS_H_
