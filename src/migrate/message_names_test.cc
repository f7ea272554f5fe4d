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

// A copy in progress, under the Windows or the POSIX form of its name and
// in any case, stands for no message, even one of the same name.
TEST(MessageNamesTest, CopiesInProgressAreNoMessages) {
  const struct {
    const char* name;
    bool temporary;
  } kCases[] = {
      {".vmtmp.1234.0", true}, {".1.in.VMTMP.77.3", true},
      {"1.in.vmtmp.5", false},  // no leading dot
      {".vmtmp", false},       {"1.in", false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(IsCopyTemporaryName(c.name, NameOps()), c.temporary) << c.name;
    DirEntry entry;
    entry.name = c.name;
    entry.path = std::string("C:\\t\\INBOX\\") + c.name;
    const TargetFolderFiles files(NameOps(), {entry});
    EXPECT_EQ(files.Find(c.name).empty(), c.temporary) << c.name;
  }
}

}  // namespace
}  // namespace vm
