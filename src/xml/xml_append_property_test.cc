// Appends checked against fresh parses: whatever the document and whatever
// the sequence of appends, the patched index must equal the index a parse
// of the resulting text builds, and no byte outside the new markup may
// change.

#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "xml/xml_document.h"
#include "xml/xml_test_helpers.h"

namespace vm {
namespace {

class RandomXml {
 public:
  explicit RandomXml(uint32_t seed) : rng_(seed) {}

  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  template <size_t N>
  const char* PickOf(const char* const (&choices)[N]) {
    return choices[Pick(static_cast<int>(N))];
  }

  std::string Name() {
    static const char* const kNames[] = {
        "a", "b", "item", "items", "domain", "x:y", "_z", "\xb2\xe2", "n-1.v"};
    return PickOf(kNames);
  }

  std::string Filler() {
    static const char* const kFillers[] = {
        "",           "",
        "\r\n",       "  ",
        "\r\n\t",     "text",
        "a&amp;b",    "x>y",
        "<!-- c -->", "<![CDATA[d]]>",
        "<?pi x?>",   "\r\n<!-- <a> -->\r\n"};
    return PickOf(kFillers);
  }

  std::string Attributes() {
    static const char* const kAttributes[] = {
        "", "", " k='1'", " k=\"v>/\"", " k='a\"b'", "\r\n k='2'"};
    return PickOf(kAttributes);
  }

  void Element(std::string* out, int depth, bool force_children) {
    const std::string name = Name();
    *out += "<" + name + Attributes();
    const int form = force_children ? 4 : Pick(depth >= 4 ? 3 : 6);
    if (form == 0) {
      *out += "/>";
    } else if (form == 1) {
      *out += " />";
    } else if (form == 2) {
      *out += "></" + name + ">";
    } else {
      *out += ">";
      const int children = Pick(4);
      for (int i = 0; i < children; ++i) {
        *out += Filler();
        Element(out, depth + 1, false);
      }
      *out += Filler() + "</" + name + ">";
    }
  }

  std::string Document() {
    std::string out;
    if (Pick(2) == 0) out += "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n";
    if (Pick(4) == 0) out += "<!DOCTYPE r [ <!ELEMENT r ANY> ]>\r\n";
    out += Filler();
    Element(&out, 0, true);
    if (Pick(2) == 0) out += "\r\n";
    return out;
  }

  std::string Text() {
    static const char* const kTexts[] = {"",
                                         "",
                                         "",
                                         "v",
                                         "a<b&c>d",
                                         "x]]>y",
                                         "it's \"q\"",
                                         "&amp;",
                                         "\xd6\xd0\xce\xc4",
                                         "line\r\nbreak",
                                         "  spaced  "};
    return PickOf(kTexts);
  }

 private:
  std::mt19937 rng_;
};

// True when `after` is `before` with bytes inserted at one place, at most
// one of the old bytes (a "/") replaced.
bool OnlyInserted(const std::string& before, const std::string& after) {
  if (after.size() <= before.size()) return false;
  size_t prefix = 0;
  while (prefix < before.size() && before[prefix] == after[prefix]) ++prefix;
  size_t suffix = 0;
  while (suffix < before.size() - prefix &&
         before[before.size() - 1 - suffix] ==
             after[after.size() - 1 - suffix]) {
    ++suffix;
  }
  const size_t changed = before.size() - prefix - suffix;
  return changed == 0 || (changed == 1 && before[prefix] == '/');
}

TEST(XmlAppendPropertyTest, PatchedIndexEqualsAFreshParse) {
  constexpr int kDocuments = 300;
  constexpr int kAppends = 40;
  int lone_count = 0;
  for (uint32_t seed = 1; seed <= kDocuments; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    RandomXml random(seed);
    XmlDocument doc;
    const std::string source = random.Document();
    ASSERT_TRUE(doc.LoadText(source)) << source << "\n" << doc.ErrorText();
    ASSERT_TRUE(IndexMatchesFreshParse(doc));
    for (int step = 0; step < kAppends; ++step) {
      SCOPED_TRACE("append " + std::to_string(step));
      if (step == kAppends / 2) {
        // Carry on in a copy: it must be just as editable.
        XmlDocument copy;
        copy.CopyFrom(doc);
        doc.LoadText("<other/>");
        doc = copy;
      }
      const int32_t e = 1 + random.Pick(doc.ElementCount() - 1);
      const ElementRecord& r = doc.Element(e);
      uint32_t options = 0;
      switch (random.Pick(6)) {
        case 4:  // a sibling of e
          ASSERT_TRUE(doc.MoveTo(r.parent, e, 0));
          break;
        case 5:  // a child of e, placed by the parent position alone
          ASSERT_TRUE(doc.MoveTo(e, 0, 0));
          break;
        default: {  // a child of e after a random child or first
          int32_t child = 0;
          for (int32_t c = r.first_child; c != 0; c = doc.Element(c).next) {
            if (random.Pick(3) == 0) child = c;
          }
          ASSERT_TRUE(doc.MoveTo(r.parent, e, child));
          options |= kAsChild;
        }
      }
      const uint32_t kExtras[] = {kSpacedEmpty, kInsertBefore, kAsCdata,
                                  kEscapeQuotes, kKeepReferences};
      for (uint32_t extra : kExtras) {
        if (random.Pick(4) == 0) options |= extra;
      }
      std::string name = random.Name();
      std::string text = random.Text();
      if (random.Pick(12) == 0) {
        // A lone start tag; its name must not close anything else.
        options |= kNoEndTag;
        text.clear();
        name = "lone" + std::to_string(++lone_count);
      }

      const std::string before = doc.DocumentText();
      ASSERT_TRUE(doc.NewElement(name, text, options)) << before;
      ASSERT_TRUE(OnlyInserted(before, doc.DocumentText()))
          << before << "\n--- became ---\n"
          << doc.DocumentText();
      ASSERT_TRUE(IndexMatchesFreshParse(doc));
      const int32_t created = (options & kAsChild) != 0 ? doc.ChildPosition()
                                                        : doc.CurrentPosition();
      ASSERT_EQ(doc.ElementName(created), name);
      if ((options & kKeepReferences) == 0) {
        ASSERT_EQ(doc.ElementText(created), text);
      }
    }
  }
}

}  // namespace
}  // namespace vm
