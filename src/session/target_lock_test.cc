#include "session/target_lock.h"

#include <gtest/gtest.h>

#include "migrate/texts.h"
#include "platform/code_page.h"
#include "testing/mem_file_system.h"

namespace vm {
namespace {

// A lock file that cannot be used: `missing` tells whether because there
// is none (and none could be made) or for another reason.
RunLockOpener Unusable(bool missing, std::string* opened_in) {
  return [missing, opened_in](const CodePage&, const std::string& dir, bool,
                              std::string* error, bool* is_missing) {
    *opened_in = dir;
    *error = "cannot use the lock file: Permission denied";
    *is_missing = missing;
    return std::unique_ptr<RunLock>();
  };
}

TEST(TargetLockTest, WriterWithoutItsLockFileNeverGoes) {
  std::unique_ptr<CodePage> cp = OpenCodePage("GBK");
  const Texts texts = MakeTexts(*cp);
  struct Case {
    RunLockMode mode;
    bool missing;
    bool go;
    bool notice;
  } cases[] = {
      // A writer is refused whatever kept it from the file.
      {RunLockMode::kExclusive, true, false, false},
      {RunLockMode::kExclusive, false, false, false},
      // A reader with no file has no writer to meet; one with a file it
      // cannot use goes on and says so.
      {RunLockMode::kShared, true, true, false},
      {RunLockMode::kShared, false, true, true},
  };
  for (const Case& c : cases) {
    std::string dir;
    TargetLockRequest request;
    request.open = Unusable(c.missing, &dir);
    request.folder = "T\\data";
    request.mode = c.mode;
    const TargetLockOutcome outcome =
        TakeTargetLock(request, *cp, texts, nullptr, nullptr);
    const std::string row = std::to_string(static_cast<int>(c.mode)) +
                            (c.missing ? " missing" : " unusable");
    EXPECT_EQ(outcome.go, c.go) << row;
    EXPECT_EQ(outcome.lock, nullptr) << row;
    EXPECT_EQ(outcome.message.empty(), c.go) << row;
    EXPECT_EQ(!outcome.notice.empty(), c.notice) << row;
    if (!c.go) {
      EXPECT_NE(outcome.message.find("Permission denied"), std::string::npos);
    }
  }
}

TEST(TargetLockTest, EverySpellingOfATargetLocksItsConfigurationFolder) {
  MemFileSystem fs;
  fs.CreateDir("T", nullptr);
  fs.CreateDir("T\\data", nullptr);
  fs.CreateDir("O", nullptr);
  AppState installed{"S", "T", "S\\mail", "T\\store", true};
  AppState output_of_installed{"S", "T", "S\\mail", "T\\store", false};
  AppState plain_output{"S", "O", "S\\mail", "O\\store", false};
  EXPECT_EQ(TargetLockRequestFor(&fs, installed, true, "console", 0).folder,
            "T\\data");
  EXPECT_EQ(
      TargetLockRequestFor(&fs, output_of_installed, true, "console", 0).folder,
      "T\\data");
  EXPECT_EQ(TargetLockRequestFor(&fs, plain_output, false, "dialog", 0).folder,
            "O");
}

}  // namespace
}  // namespace vm
