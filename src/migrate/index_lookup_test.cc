#include "migrate/index_lookup.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// Random names over a small alphabet, so that names are often substrings
// of other names and of other lines, and names that are suffixes of each
// other all on late lines; every answer equals the plain rule's.
TEST(SizeFlagsFromIndexTest, MatchesThePlainRule) {
  std::mt19937 rng(7);
  auto random_text = [&](size_t max_len, const std::string& alphabet) {
    std::string s(1 + rng() % max_len, ' ');
    for (char& c : s) c = alphabet[rng() % alphabet.size()];
    return s;
  };
  std::vector<std::pair<std::string, std::vector<std::string>>> cases;
  for (int round = 0; round < 300; ++round) {
    std::vector<std::string> names;  // unique, as the names of one folder
    for (size_t i = 1 + rng() % 12; i > 0; --i) {
      std::string name = random_text(6, "12.in");
      if (std::find(names.begin(), names.end(), name) == names.end()) {
        names.push_back(name);
      }
    }
    std::string index;
    for (size_t i = rng() % 10; i > 0; --i) {
      for (size_t f = rng() % 10; f > 0; --f) {
        index += rng() % 3 == 0 ? names[rng() % names.size()]
                                : random_text(5, "12.in\f\t");
        index += f > 1 ? "\f\t" : "";
      }
      index += rng() % 2 ? "\r\n" : "\n";
    }
    cases.emplace_back(index, names);
  }
  std::string nested;
  std::vector<std::string> suffixes;
  for (int i = 200; i >= 1; --i) {
    suffixes.push_back(std::string(i, '1') + ".in");
    nested += Line(suffixes.back(), i % 2 ? "1" : "0") + "\n";
  }
  cases.emplace_back(nested, suffixes);
  for (const auto& [index, names] : cases) {
    const std::vector<bool> flags = SizeFlagsFromIndex(index, names);
    ASSERT_EQ(flags.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
      ASSERT_EQ(flags[i], DirectSizeFlag(index, names[i]))
          << "name '" << names[i] << "' in\n"
          << index;
    }
  }
}

}  // namespace
}  // namespace vm
