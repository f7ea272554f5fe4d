#include "session/folder_list.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace vm {
namespace {

FolderRecord Folder(std::string name, int64_t n, uint64_t bytes) {
  FolderRecord f;
  f.counts = {std::move(name), n, bytes, n + 1, bytes - 1, -n, 127};
  f.checked = 128;
  f.missing = std::numeric_limits<int64_t>::min();
  f.different = n;
  return f;
}

std::vector<std::string> Shown(const FolderList& list) {
  std::vector<std::string> shown;
  for (const FolderRecord& f : list) {
    const FolderCounts& c = f.counts;
    shown.push_back(c.name + "|" + std::to_string(c.messages) + " " +
                    std::to_string(c.bytes) + " " + std::to_string(c.copied) +
                    " " + std::to_string(c.copied_bytes) + " " +
                    std::to_string(c.present) + " " + std::to_string(c.failed) +
                    (f.verified ? " v " : " - ") + std::to_string(f.checked) +
                    " " + std::to_string(f.missing) + " " +
                    std::to_string(f.different));
  }
  return shown;
}

// Every count comes back exactly (7-bit edges, negatives, the 64-bit
// extremes), names keep NUL and double-byte bytes, and replacing one
// folder leaves its neighbours as they were.
TEST(FolderListTest, KeepsEveryValueAndReplacesOneFolder) {
  FolderList list;
  list.push_back(Folder("INBOX", 0, 0));
  list.push_back(Folder(std::string("\xca\xd5\0x", 4), 300,
                        std::numeric_limits<uint64_t>::max()));
  list.push_back(Folder("", std::numeric_limits<int64_t>::max() - 1, 1));
  list.push_back(Folder("Spam", 1, 2));
  FolderRecord changed = Folder("Sent", -5, 200);
  changed.verified = true;
  list.Set(0, changed);
  const std::string min = "-9223372036854775808";
  EXPECT_EQ(Shown(list),
            (std::vector<std::string>{
                "Sent|-5 200 -4 199 5 127 v 128 " + min + " -5",
                std::string("\xca\xd5\0x|", 5) +
                    "300 18446744073709551615 301 18446744073709551614 -300 "
                    "127 - 128 " +
                    min + " 300",
                "|9223372036854775806 1 9223372036854775807 0 "
                "-9223372036854775806 127 - 128 " +
                    min + " 9223372036854775806",
                "Spam|1 2 2 1 -1 127 - 128 " + min + " 1"}));
  EXPECT_EQ(list.size(), 4u);
}

}  // namespace
}  // namespace vm
