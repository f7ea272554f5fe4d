#include "util/split_string.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace vm {
namespace {

using Fields = std::vector<std::string>;

TEST(SplitStringTest, CutsAtEverySeparator) {
  const struct {
    std::string text;
    std::string separator;
    Fields fields;
  } kCases[] = {
      {"a\t\tb", "\t", {"a", "", "b"}},
      {"\ta\t", "\t", {"", "a"}},
      {"\t\t", "\t", {"", ""}},
      {"", "\t", {}},
      {"a\x0c\tb\x0c\t\x0c\tc\x0c\t", "\x0c\t", {"a", "b", "", "c"}},
      {"a\x0c\x0c\tb\x0c", "\x0c\t", {"a\x0c", "b\x0c"}},
      {"xaaay", "aa", {"x", "ay"}},
      {"abc", "", {"abc"}},
  };
  for (const auto& c : kCases) {
    Fields fields = {"stale"};
    SplitString(c.text, c.separator, &fields);
    EXPECT_EQ(fields, c.fields) << "text: " << c.text;
  }
}

}  // namespace
}  // namespace vm
