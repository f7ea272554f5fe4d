// Parses arbitrary text, walks it with the navigation calls and appends
// elements at random places. After every append into a well-formed document
// the patched element index must equal a fresh parse of the new text; in
// every document the bytes around the new markup must be the old ones and
// every record must lie inside the text.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "xml/xml_document.h"
#include "xml/xml_text.h"

namespace vm {
namespace {

struct Ordered {
  int32_t start, length, start_tag_length, end_tag_length;
  uint32_t flags;
  int32_t parent, first_child, next, previous;
  bool operator==(const Ordered&) const = default;
};

// The index in document order with links as ordinals, so that two tables
// of the same text compare equal however their records are numbered.
// Aborts when the links loop or leave records unreached.
std::vector<Ordered> OrderedIndex(const XmlDocument& doc) {
  const int32_t count = doc.ElementCount();
  std::vector<int32_t> order{0};
  std::vector<int32_t> ordinal(count, -1);
  ordinal[0] = 0;
  int32_t x = doc.Element(0).first_child;
  while (x != 0) {
    FUZZ_CHECK(x > 0 && x < count && ordinal[x] < 0);
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
  FUZZ_CHECK(static_cast<int32_t>(order.size()) == count);
  auto at = [&](int32_t i) { return i >= 0 && i < count ? ordinal[i] : -2; };
  std::vector<Ordered> result;
  for (int32_t i : order) {
    const ElementRecord& r = doc.Element(i);
    result.push_back({r.start, r.length, r.start_tag_length, r.end_tag_length,
                      i == 0 ? 0 : r.flags, at(r.parent), at(r.first_child),
                      at(r.next), at(r.previous)});
  }
  return result;
}

void CheckRecordsInText(const XmlDocument& doc) {
  const int64_t size = static_cast<int64_t>(doc.DocumentText().size());
  for (int32_t i = 1; i < doc.ElementCount(); ++i) {
    const ElementRecord& r = doc.Element(i);
    FUZZ_CHECK(r.start >= 0 && r.length >= 0);
    FUZZ_CHECK(static_cast<int64_t>(r.start) + r.length <= size);
    FUZZ_CHECK(r.start_tag_length >= 0 && r.end_tag_length >= 0);
    FUZZ_CHECK(r.start_tag_length + r.end_tag_length <= r.length);
    FUZZ_CHECK(doc.DocumentText()[r.start] == '<');
  }
}

bool HasLoneStartTag(const XmlDocument& doc) {
  for (int32_t i = 1; i < doc.ElementCount(); ++i) {
    if ((doc.Element(i).flags & kNotEnded) != 0) return true;
  }
  return false;
}

const char* const kNames[] = {"item",     "domain", "user", "a",   "x:y",  "_n",
                              "\xb2\xe2", "",       "a b",  "a/b", "items"};
const uint32_t kOptionBits[] = {kAsChild,     kInsertBefore,   kAsCdata,
                                kSpacedEmpty, kKeepReferences, kNoEndTag,
                                kEscapeQuotes};

}  // namespace
}  // namespace vm

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vm;
  FuzzedDataProvider in(data, size);
  const size_t text_size = in.ConsumeIntegralInRange<size_t>(0, size);
  XmlDocument doc;
  doc.LoadText(in.ConsumeBytesAsString(text_size));
  CheckRecordsInText(doc);
  FUZZ_CHECK(OrderedIndex(doc).size() ==
             static_cast<size_t>(doc.ElementCount()));
  if (!doc.ErrorText().empty()) FUZZ_CHECK(!doc.CheckWellFormed());

  for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) {
    const int32_t count = doc.ElementCount();
    switch (in.ConsumeIntegralInRange<int>(0, 6)) {
      case 0:
        doc.MoveTo(in.ConsumeIntegralInRange<int32_t>(-1, count),
                   in.ConsumeIntegralInRange<int32_t>(-1, count),
                   in.ConsumeIntegralInRange<int32_t>(-1, count));
        break;
      case 1:
        doc.SeekElement(kNames[in.ConsumeIntegralInRange<size_t>(0, 10)]);
        break;
      case 2:
        doc.SeekChild(kNames[in.ConsumeIntegralInRange<size_t>(0, 10)]);
        break;
      case 3:
        doc.EnterElement();
        break;
      case 4: {
        const int32_t i = in.ConsumeIntegralInRange<int32_t>(-1, count);
        doc.ElementName(i);
        doc.ElementText(i);
        break;
      }
      default: {
        std::string name = kNames[in.ConsumeIntegralInRange<size_t>(0, 10)];
        if (in.ConsumeBool()) name = in.ConsumeRandomLengthString(12);
        std::string value = in.ConsumeRandomLengthString(32);
        uint32_t options = 0;
        for (uint32_t bit : kOptionBits) {
          if (in.ConsumeBool()) options |= bit;
        }
        const bool well_formed = doc.CheckWellFormed();
        const std::string before = doc.DocumentText();
        const int32_t before_count = doc.ElementCount();
        const int32_t at[3] = {doc.ParentPosition(), doc.CurrentPosition(),
                               doc.ChildPosition()};
        if (!doc.NewElement(name, value, options)) {
          // A refused append changes nothing.
          FUZZ_CHECK(doc.DocumentText() == before);
          FUZZ_CHECK(doc.ElementCount() == before_count);
          break;
        }
        const std::string& after = doc.DocumentText();
        FUZZ_CHECK(after.size() > before.size());
        // The old text survives around the inserted bytes (an opened-up
        // empty element rewrites its own tag, so compare the common prefix
        // and suffix loosely: together they cover all but the new markup
        // and the rewritten tag).
        size_t prefix = 0;
        while (prefix < before.size() && before[prefix] == after[prefix]) {
          ++prefix;
        }
        size_t suffix = 0;
        while (suffix < before.size() - prefix &&
               before[before.size() - 1 - suffix] ==
                   after[after.size() - 1 - suffix]) {
          ++suffix;
        }
        FUZZ_CHECK(before.size() - prefix - suffix <= 3);
        CheckRecordsInText(doc);
        FUZZ_CHECK(doc.ChildPosition() > 0 || doc.CurrentPosition() > 0);
        XmlDocument fresh;
        fresh.LoadText(after);
        // The stores only ever edit well-formed documents; in a broken one
        // (an end tag cut off at the end of the text, say) new markup may
        // complete a construct the old text left open.
        // A lone start tag (kNoEndTag, which no store uses) inside an
        // element of the same name is taken by a fresh parse as the
        // element the outer end tag closes; the same holds for a lone
        // start tag the old text already had.
        if (well_formed && (options & kNoEndTag) == 0 &&
            !HasLoneStartTag(doc) &&
            !(OrderedIndex(doc) == OrderedIndex(fresh))) {
          std::fprintf(stderr, "append of '%s' options %x at %d/%d/%d to\n",
                       name.c_str(), options, at[0], at[1], at[2]);
          std::fwrite(before.data(), 1, before.size(), stderr);
          std::fprintf(stderr, "\n--- gave\n");
          std::fwrite(after.data(), 1, after.size(), stderr);
          std::fprintf(stderr, "\n---\n");
          FUZZ_CHECK(OrderedIndex(doc) == OrderedIndex(fresh));
        }
        // What was written reads back.
        const int32_t added = (options & kAsChild) != 0 ? doc.ChildPosition()
                                                        : doc.CurrentPosition();
        FUZZ_CHECK(doc.ElementName(added) == name);
        const bool blank =
            value.find_first_not_of(" \t\r\n") == std::string::npos;
        if ((options & kKeepReferences) == 0 && !blank) {
          FUZZ_CHECK(doc.ElementText(added) == value);
        }
        break;
      }
    }
  }
  XmlDocument copy(doc);
  FUZZ_CHECK(copy.DocumentText() == doc.DocumentText());
  FUZZ_CHECK(OrderedIndex(copy) == OrderedIndex(doc));
  return 0;
}
