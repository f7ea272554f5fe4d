#include "xml/end_tag_matcher.h"

#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "xml/xml_document.h"

namespace vm {
namespace {

// The plain definition: the innermost open name that MatchName accepts.
int32_t FindByWalking(const ScanCursor& cursor,
                      const std::vector<std::string>& open) {
  for (int32_t p = static_cast<int32_t>(open.size()) - 1; p >= 0; --p) {
    if (MatchName(cursor, open[p])) return p;
  }
  return -1;
}

// Random pushes, stray end tags and closing end tags on stacks deep enough
// to go through the index; every answer must equal the plain walk's.
TEST(EndTagMatcherTest, AgreesWithWalkingTheStack) {
  const std::string kStartNames[] = {"a",    "ab", "A",    "b", "a=b",
                                     "a[x]", "a]", "ab=c", "B", "\xb2\xe2"};
  const std::string kEndNames[] = {"a", "ab", "A", "b",        "a=b", "a[x",
                                   "c", "AB", "B", "\xb2\xe2", "a[x]"};
  for (uint32_t options : {0u, kIgnoreCase}) {
    for (uint32_t seed = 1; seed <= 20; ++seed) {
      std::mt19937 rng(seed);
      auto pick = [&rng](int n) {
        return std::uniform_int_distribution<int>(0, n - 1)(rng);
      };
      EndTagMatcher matcher(options);
      std::vector<std::string> open;
      auto name_at = [&open](int32_t p) -> const std::string& {
        return open[p];
      };
      for (int step = 0; step < 3000; ++step) {
        // Mostly pushes at first, so the stack gets deep, then mixed.
        if (pick(step < 400 ? 10 : 3) != 0) {
          open.push_back(kStartNames[pick(10)]);
          continue;
        }
        const std::string end_name = kEndNames[pick(11)];
        ScanCursor cursor;
        cursor.text = end_name.c_str();
        cursor.name_start = 0;
        cursor.name_end = static_cast<int32_t>(end_name.size()) - 1;
        cursor.options = options;
        const int32_t want = FindByWalking(cursor, open);
        const int32_t got =
            matcher.Find(cursor, static_cast<int32_t>(open.size()), name_at);
        ASSERT_EQ(got, want) << "seed " << seed << " step " << step << " depth "
                             << open.size() << " end " << end_name;
        if (got >= 0) {
          open.resize(got);
          matcher.Truncate(got, name_at);
        }
      }
    }
  }
}

TEST(EndTagMatcherTest, StrayEndTagsUnderDeepNestingParse) {
  // Each stray end tag is compared with every open tag by a plain walk;
  // the index keeps this linear.
  constexpr int kDepth = 100000;
  std::string text;
  for (int i = 0; i < kDepth; ++i) text += "<a>";
  for (int i = 0; i < kDepth; ++i) text += "</b>";
  for (int i = 0; i < kDepth; ++i) text += "</a>";
  XmlDocument doc;
  EXPECT_FALSE(doc.LoadText(text));
  EXPECT_EQ(doc.ErrorText(), "No start tag for end tag 'b' at offset " +
                                 std::to_string(3 * kDepth));
  EXPECT_EQ(doc.Element(1).length, static_cast<int32_t>(text.size()));
  EXPECT_EQ(doc.Element(kDepth).level, kDepth - 1);
  EXPECT_NE(doc.Element(kDepth).flags & kHasErrors, 0u);
}

}  // namespace
}  // namespace vm
