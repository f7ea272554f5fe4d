#include "xml/end_tag_matcher.h"

#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "xml/xml_document.h"

namespace vm {
namespace {

// Random pushes, stray end tags and closing end tags on stacks deep enough
// to go through the index; every answer must equal a plain walk down the
// stack for the innermost name that MatchName accepts.
TEST(EndTagMatcherTest, AgreesWithWalkingTheStack) {
  const std::string kNames[] = {"a",  "ab",   "A", "b",  "a=b",      "a[x]",
                                "a]", "ab=c", "B", "AB", "\xb2\xe2", "a[x"};
  for (uint32_t seed = 1; seed <= 10; ++seed) {
    std::mt19937 rng(seed);
    auto pick = [&rng](int n) {
      return std::uniform_int_distribution<int>(0, n - 1)(rng);
    };
    EndTagMatcher matcher;
    std::vector<std::string> open;
    auto name_at = [&open](int32_t p) -> const std::string& { return open[p]; };
    for (int step = 0; step < 3000; ++step) {
      if (pick(step < 400 ? 10 : 3) != 0) {
        open.push_back(kNames[pick(10)]);
        continue;
      }
      const std::string end_name = kNames[pick(12)];
      ScanCursor cursor;
      cursor.text = end_name.c_str();
      cursor.name_end = static_cast<int32_t>(end_name.size()) - 1;
      int32_t want = static_cast<int32_t>(open.size()) - 1;
      while (want >= 0 && !MatchName(cursor, open[want])) --want;
      const int32_t got =
          matcher.Find(cursor, static_cast<int32_t>(open.size()), name_at);
      ASSERT_EQ(got, want) << "seed " << seed << " step " << step;
      if (got >= 0) {
        open.resize(got);
        matcher.Truncate(got, name_at);
      }
    }
  }
}

TEST(EndTagMatcherTest, StrayEndTagsUnderDeepNestingParse) {
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
}

}  // namespace
}  // namespace vm
