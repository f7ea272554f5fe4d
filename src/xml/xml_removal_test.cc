#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "testing/golden.h"
#include "xml/xml_document.h"

namespace vm {
namespace {

// The item whose first child has the text `name`; 0 when none has.
int32_t ItemNamed(const XmlDocument& doc, const std::string& name) {
  for (int32_t i = 1; i < doc.ElementCount(); ++i) {
    const int32_t child = doc.Element(i).first_child;
    if (doc.ElementName(i) == "item" && child != 0 &&
        doc.ElementText(child) == name) {
      return i;
    }
  }
  return 0;
}

// Items the run wrote (CR LF inside, after the end tag) into files of
// either line end, with comments, blank lines, indentation and a code-page
// name around them. An alias list that was "<useralias/>" gets its form
// back; one that a server wrote into since loses the item and its line.
TEST(XmlRemovalTest, KeepsEveryOtherByteOfTheFile) {
  const InsertionLayout kAfterSibling{"", "\r\n", ""};
  for (const std::string name : {"remove_crlf", "remove_lf"}) {
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadText(Golden("xml/" + name + ".cfg"))) << name;
    const std::vector<ElementRemoval> removals = {
        {ItemNamed(doc, "bob"), kAfterSibling},
        {ItemNamed(doc, "amy"), kAfterSibling},
        {ItemNamed(doc, "al"), {">\r\n", "\r\n</useralias", "/"}},
        {ItemNamed(doc, "d1"), {">\r\n", "\r\n</domainalias", "/"}},
    };
    ASSERT_TRUE(doc.RemoveElements(removals)) << name;
    EXPECT_EQ(doc.DocumentText(), Golden("xml/" + name + "_expected.cfg"))
        << name;
    EXPECT_TRUE(doc.CheckWellFormed());
  }
}

// Adds an item with two children into the first element whose name starts
// with "p", then a second one after it, and takes both out again, newest
// first, by the layouts NewElement reported.
std::string AddTwoThenRemove(const std::string& before) {
  XmlDocument doc;
  doc.LoadText(before);
  int32_t p = 1;
  while (p < doc.ElementCount() && doc.ElementName(p)[0] != 'p') ++p;
  std::vector<ElementRemoval> removals;
  for (const char* name : {"one", "two"}) {
    const int32_t first = doc.Element(p).first_child;
    const int32_t last = first != 0 ? doc.Element(first).previous : 0;
    if (!doc.MoveTo(doc.Element(p).parent, p, last) ||
        !doc.NewElement("item", "", kAsChild)) {
      return "refused";
    }
    const ElementRemoval removal{doc.ChildPosition(), doc.LastInsertion()};
    doc.EnterElement();
    doc.NewElement("name", name, kAsChild);
    doc.NewElement("domain", "x", kAsChild);
    removals.insert(removals.begin(), removal);
  }
  if (!doc.RemoveElements(removals)) return "not removed";
  return doc.DocumentText();
}

// Every form of parent the append table covers gives back its input.
TEST(XmlRemovalTest, AddThenRemoveGivesTheOriginalBytes) {
  std::istringstream lines(Golden("xml/append.txt"));
  int inputs = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::string input = Unescape(line.substr(0, line.find(" => ")));
    EXPECT_EQ(Escape(AddTwoThenRemove(input)), Escape(input));
    ++inputs;
  }
  EXPECT_GT(inputs, 10);
}

TEST(XmlRemovalTest, RefusesAListItCannotTakeOutAndChangesNothing) {
  const std::string text = "<r>\r\n<a>\r\n<b/>\r\n</a>\r\n<c/>\r\n</r>";
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadText(text));
  const int32_t a = 2;  // r=1, a=2, b=3, c=4
  ASSERT_EQ(doc.ElementName(a), "a");
  const std::vector<std::vector<ElementRemoval>> kRefused = {
      {{0, {}}},           // the document record
      {{5, {}}},           // no such element
      {{4, {}}, {4, {}}},  // listed twice
      {{3, {}}, {a, {}}},  // b lies inside a
  };
  for (const auto& removals : kRefused) {
    EXPECT_FALSE(doc.RemoveElements(removals));
    EXPECT_EQ(doc.DocumentText(), text);
  }
  // The root alone would leave no element: the document would not stay
  // well-formed.
  EXPECT_FALSE(doc.RemoveElements({{1, {}}}));
  EXPECT_EQ(doc.DocumentText(), text);
}

}  // namespace
}  // namespace vm
