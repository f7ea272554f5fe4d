#include "migrate/message_names.h"

#include <gtest/gtest.h>

namespace vm {
namespace {

// The size in a sized name is the low 32 bits of the file's size, signed:
// a message of 2 GiB or more is named by the wrapped value, and its copy is
// found again under that name.
TEST(MessageNamesTest, SizedNameCarriesTheLow32BitsSigned) {
  const struct {
    uint64_t size;
    std::string name;
  } kCases[] = {
      {0, "1.in,S=0.0.S"},
      {2048, "1.in,S=2048.0.S"},
      {2147483648u, "1.in,S=-2147483648.0.S"},
      {4294967301u, "1.in,S=5.0.S"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(SizedName("1.in", c.size), c.name) << c.size;
    DirEntry entry;
    entry.name = c.name;
    entry.path = "C:\\t\\INBOX\\" + c.name;
    entry.size = c.size;
    const TargetFolderFiles files(NameOps(), {entry});
    const DirEntry* copy = files.Copy("1.IN", c.size);
    ASSERT_NE(copy, nullptr) << c.size;
    EXPECT_EQ(copy->name, c.name);
    EXPECT_EQ(files.Copy("1.in", c.size + 1), nullptr) << c.size;
  }
}

}  // namespace
}  // namespace vm
