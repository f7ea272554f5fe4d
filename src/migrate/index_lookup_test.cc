#include "migrate/index_lookup.h"

#include <gtest/gtest.h>

#include <random>

namespace vm {
namespace {

// The rule stated plainly: the first line containing the name decides.
bool DirectSizeFlag(const std::string& index, const std::string& name) {
  size_t start = 0;
  while (start < index.size()) {
    size_t end = index.find('\n', start);
    if (end == std::string::npos) end = index.size();
    std::string line = index.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find(name) != std::string::npos) {
      return SizeFlagOfIndexLine(line);
    }
    start = end + 1;
  }
  return false;
}

std::string Line(const std::string& name, const std::string& flag) {
  return name + "\f\tfrom\f\tsubject\f\tdate\f\t123\f\t0\f\tN\f\t" + flag +
         "\f\tx";
}

// The eighth field of an index line, read like atoi, is 1 for a sized name;
// fields are separated by form feed and TAB together.
TEST(SizeFlagOfIndexLineTest, ReadsTheEighthFieldLikeAtoi) {
  const struct {
    std::string line;
    bool sized;
  } kCases[] = {
      {Line("a.in", "1"), true},
      {Line("a.in", "01"), true},
      {Line("a.in", "1abc"), true},
      {Line("a.in", " 1"), true},
      {Line("a.in", "+1"), true},
      {Line("a.in", "1 "), true},
      {Line("a.in", "0"), false},
      {Line("a.in", "2"), false},
      {Line("a.in", "11"), false},
      {Line("a.in", "-1"), false},
      {Line("a.in", ""), false},
      {Line("a.in", "x1"), false},
      {"1\f\t1\f\t1\f\t1\f\t1\f\t1\f\t1\f\t1", true},
      {"1\f\t1\f\t1\f\t1\f\t1\f\t1\f\t1", false},
      {"a\tb\tc\td\te\tf\tg\t1", false},
      {"a\fb\fc\fd\fe\ff\fg\f1", false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(SizeFlagOfIndexLine(c.line), c.sized) << c.line;
  }
}

TEST(SizeFlagsFromIndexTest, FirstLineContainingTheNameDecides) {
  const std::string index = Line("11.in", "1") + "\r\n" + Line("1.in", "0") +
                            "\r\n" + Line("12.in", "0") + "\n" +
                            Line("3.in", "1");  // no line end
  const std::vector<std::string> names = {"1.in", "11.in", "12.in", "3.in",
                                          "4.in"};
  // "1.in" occurs inside the line about "11.in" and takes its flag.
  EXPECT_EQ(SizeFlagsFromIndex(index, names),
            (std::vector<bool>{true, true, false, true, false}));
  EXPECT_EQ(SizeFlagsFromIndex("", {"a.in"}), std::vector<bool>{false});
}

// Random names over a small alphabet so that names are often substrings
// of other names and of other lines; compared with the plain rule.
TEST(SizeFlagsFromIndexTest, MatchesDirectRuleOnRandomData) {
  std::mt19937 rng(7);
  const std::string alphabet = "12.in\f\t";
  auto random_text = [&](size_t max_len) {
    std::string s;
    size_t len = 1 + rng() % max_len;
    for (size_t i = 0; i < len; ++i) s += alphabet[rng() % alphabet.size()];
    return s;
  };
  for (int round = 0; round < 300; ++round) {
    std::vector<std::string> names;
    size_t name_count = 1 + rng() % 12;
    for (size_t i = 0; i < name_count; ++i) {
      std::string name;
      do {
        name = random_text(6);
      } while (std::find(names.begin(), names.end(), name) != names.end() ||
               name.find('\f') != std::string::npos ||
               name.find('\t') != std::string::npos);
      names.push_back(name);
    }
    std::string index;
    size_t line_count = rng() % 10;
    for (size_t i = 0; i < line_count; ++i) {
      std::string fields;
      size_t field_count = rng() % 10;
      for (size_t f = 0; f < field_count; ++f) {
        if (f > 0) fields += "\f\t";
        fields += rng() % 3 == 0 ? names[rng() % names.size()] : random_text(5);
      }
      index += fields + (rng() % 2 ? "\r\n" : "\n");
    }
    std::vector<bool> flags = SizeFlagsFromIndex(index, names);
    ASSERT_EQ(flags.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
      ASSERT_EQ(flags[i], DirectSizeFlag(index, names[i]))
          << "round " << round << " name '" << names[i] << "'";
    }
  }
}

// Many names that are suffixes of each other, all on late lines: the
// answer must still be exact for each.
TEST(SizeFlagsFromIndexTest, NestedSuffixNames) {
  std::vector<std::string> names;
  std::string index;
  for (int i = 1; i <= 200; ++i) {
    names.push_back(std::string(i, '1') + ".in");
  }
  for (int i = 200; i >= 1; --i) {
    index += Line(std::string(i, '1') + ".in", i % 2 ? "1" : "0") + "\n";
  }
  std::vector<bool> flags = SizeFlagsFromIndex(index, names);
  // Every name occurs in the first line (200 ones), whose flag is 0.
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(flags[i], DirectSizeFlag(index, names[i]));
    EXPECT_FALSE(flags[i]);
  }
}

}  // namespace
}  // namespace vm
