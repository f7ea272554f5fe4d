#include "platform/registry.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace vm {
namespace {

TEST(PosixRegistryTest, HasNoKeysButKnowsTheProgram) {
  std::unique_ptr<Registry> registry = OpenSystemRegistry();
  std::string value = "stale";
  bool found = true;
  EXPECT_FALSE(registry->ReadString("Software\\Solvane Tarnwick\\Server\\",
                                    "ProgPath", &value, &found));
  EXPECT_FALSE(found);
  EXPECT_EQ(value, "");

  std::string program = ProgramPath();
  EXPECT_TRUE(std::filesystem::equivalent(program, "/proc/self/exe"))
      << program;
}

}  // namespace
}  // namespace vm
