#include "platform/process_tag.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace vm {
namespace {

// A tag is running only for the very process it names: another machine,
// another start of the same process id, or a neighbouring id is not it,
// and neither is text that only looks like a tag.
TEST(ProcessTagTest, NamesOnlyTheProcessThatIsRunning) {
  const std::string tag = ThisProcessTag();
  ASSERT_TRUE(ProcessIsRunning(tag)) << tag;
  std::istringstream fields(tag);
  std::string host, start;
  long pid = 0;
  ASSERT_TRUE(fields >> host >> pid >> start) << tag;
  const std::string other_host = "x" + host;
  const std::string kNotRunning[] = {
      other_host + " " + std::to_string(pid) + " " + start,
      host + " " + std::to_string(pid) + " " + start + "1",
      host + " " + std::to_string(pid) + " 0",
      tag + " extra",
      host + " " + std::to_string(pid),
      "",
      "\n",
  };
  for (const std::string& other : kNotRunning) {
    EXPECT_FALSE(ProcessIsRunning(other)) << other;
  }
}

}  // namespace
}  // namespace vm
