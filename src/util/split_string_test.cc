#include "util/split_string.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace vm {
namespace {

using Fields = std::vector<std::string>;

struct SplitCase {
  std::string text;
  std::string separator;
  Fields fields;
};

TEST(SplitStringTest, CutsAtEverySeparator) {
  const std::string kFormFeedTab = "\x0c\t";
  const SplitCase kCases[] = {
      {"a\t\tb", "\t", {"a", "", "b"}},
      {"a\t", "\t", {"a"}},
      {"\ta", "\t", {"", "a"}},
      {"", "\t", {}},
      {"\t", "\t", {""}},
      {"\t\t", "\t", {"", ""}},
      {"abc", "\t", {"abc"}},
      {"user\tpass\tname\t100", "\t", {"user", "pass", "name", "100"}},
      // A two-byte separator only matches as a whole.
      {"a\tb\x0c"
       "c",
       kFormFeedTab,
       {"a\tb\x0c"
        "c"}},
      {"a\x0c\tb\x0c\t\x0c\tc", kFormFeedTab, {"a", "b", "", "c"}},
      {"a\x0c\x0c\tb", kFormFeedTab, {"a\x0c", "b"}},
      {"a\x0c\t", kFormFeedTab, {"a"}},
      // Overlapping candidates: the leftmost match wins and is consumed.
      {"xaaay", "aa", {"x", "ay"}},
      // An empty separator never splits.
      {"abc", "", {"abc"}},
      {"", "", {}},
  };
  for (const auto& c : kCases) {
    Fields fields;
    SplitString(c.text, c.separator, &fields);
    EXPECT_EQ(fields, c.fields) << "text: " << c.text;
  }
}

TEST(SplitStringTest, ReplacesEarlierFields) {
  Fields fields = {"old", "fields", "here"};
  SplitString("new", "\t", &fields);
  EXPECT_EQ(fields, Fields{"new"});
  SplitString("", "\t", &fields);
  EXPECT_TRUE(fields.empty());
}

}  // namespace
}  // namespace vm
