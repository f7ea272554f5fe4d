#include "console/command_line.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace vm {
namespace {

TEST(CommandLineTest, AcceptsTheDocumentedForms) {
  CommandLine c;
  std::string error;
  ASSERT_TRUE(ParseCommandLine(
      {"--source", "/s", "--output=/o", "--password-mode", "suffix", "--suffix",
       " x ", "--log", "l.txt", "--codepage=CP936"},
      &c, &error))
      << error;
  EXPECT_EQ(c.source_dir, "/s");
  EXPECT_EQ(c.output_dir, "/o");
  EXPECT_TRUE(c.target_dir.empty());
  EXPECT_EQ(c.password_mode, PasswordMode::kUserNamePlusSuffix);
  EXPECT_EQ(c.suffix, " x ");  // trimmed later, as the dialog's edit is
  EXPECT_EQ(c.log_file, "l.txt");
  EXPECT_EQ(c.code_page, "CP936");

  ASSERT_TRUE(
      ParseCommandLine({"--source", "/s", "--target", "/t", "--password-mode",
                        "common", "--password", "pw"},
                       &c, &error));
  EXPECT_EQ(c.password_mode, PasswordMode::kCommonPassword);
  EXPECT_EQ(c.code_page, "GBK");

  ASSERT_TRUE(ParseCommandLine(
      {"--source", "/s", "--output", "/o", "--sync", "--verify=content",
       "--report", "R.JSON", "--no-progress", "--changes-only"},
      &c, &error))
      << error;
  EXPECT_TRUE(c.sync && !c.dry_run && !c.verify_only && c.changes_only);
  EXPECT_EQ(c.verify, VerifyMode::kContent);
  EXPECT_EQ(c.report_file, "R.JSON");
  EXPECT_EQ(c.progress, Toggle::kOff);
  ASSERT_TRUE(ParseCommandLine({"--source", "/s", "--output", "/o", "--dry-run",
                                "--progress", "--report", "p.Html"},
                               &c, &error));
  EXPECT_TRUE(c.dry_run);
  EXPECT_EQ(c.report_file, "p.Html");
  EXPECT_EQ(c.progress, Toggle::kOn);
  // An undo's report has no page: JSON only there.
  EXPECT_TRUE(ParseCommandLine(
      {"--undo", "m", "--output", "/o", "--report", "u.json"}, &c, &error))
      << error;
  // --watch takes a number only when one follows: never a path.
  for (const auto& [tail, seconds] :
       std::vector<std::pair<std::vector<std::string>, int>>{
           {{"--watch"}, kDefaultWatchSeconds},
           {{"--watch", "30"}, 30},
           {{"--watch=5", "--sync"}, 5},
           {{"--watch", "--log", "/7"}, kDefaultWatchSeconds}}) {
    std::vector<std::string> args = {"--output", "/o", "--source", "/s"};
    args.insert(args.end(), tail.begin(), tail.end());
    ASSERT_TRUE(ParseCommandLine(args, &c, &error)) << error;
    EXPECT_EQ(c.watch_seconds, seconds);
    EXPECT_TRUE(c.sync);
  }
  EXPECT_EQ(c.log_file, "/7");
  EXPECT_TRUE(ParseCommandLine({"--help"}, &c, &error) && c.help);
  EXPECT_TRUE(ParseCommandLine({"--version"}, &c, &error) && c.version);
}

TEST(CommandLineTest, RefusesBadCommandLines) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"--source", "/s"},
      {"--output", "/o"},
      {"--source", "/s", "--target", "/t", "--output", "/o"},
      {"--source", "/s", "--output"},
      {"--source", "/s", "--output", "/o", "--bogus"},
      {"--source", "/s", "--output", "/o", "extra"},
      {"--source", "/s", "--source", "/s2", "--output", "/o"},
      {"--source", "/s", "--output", "/o", "--password-mode", "plain"},
      {"--source", "/s", "--output", "/o", "--suffix", "x"},
      {"--source", "/s", "--output", "/o", "--password-mode", "suffix",
       "--password", "x"},
      {"--source", "", "--output", "/o"},
      {"--source", "/s", "--output="},
      {"--source", "/s", "--output", "/o", "--codepage="},
      {"--source", "/s", "--output", "/o", "--dry-run", "--verify"},
      {"--source", "/s", "--output", "/o", "--dry-run", "--verify-only"},
      {"--source", "/s", "--output", "/o", "--verify-only", "--sync"},
      {"--source", "/s", "--output", "/o", "--verify=quick"},
      {"--source", "/s", "--output", "/o", "--sync=yes"},
      {"--source", "/s", "--output", "/o", "--report", "r.json.txt"},
      {"--undo", "m", "--output", "/o", "--report", "u.txt"},
      {"--source", "/s", "--output", "/o", "--password-mode", "common"},
      {"--source", "/s", "--output", "/o", "--password-mode", "common",
       "--password", " \t"},
      {"--source", "/s", "--output", "/o", "--password-mode=suffix"},
      {"--source", "/s", "--output", "/o", "--watch", "0"},
      {"--source", "/s", "--output", "/o", "--watch=", "--sync"},
      {"--source", "/s", "--output", "/o", "--watch", "--watch"},
      {"--source", "/s", "--output", "/o", "--watch", "--dry-run"},
      {"--source", "/s", "--output", "/o", "--watch", "--verify-only"},
      {"--undo", "m", "--output", "/o", "--watch"},
  };
  for (const auto& args : bad) {
    CommandLine c;
    std::string error;
    std::string joined;
    for (const std::string& a : args) joined += a + " ";
    EXPECT_FALSE(ParseCommandLine(args, &c, &error)) << joined;
    EXPECT_FALSE(error.empty()) << joined;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

// The log keeps the command line; a password or suffix in it would be a
// secret on disk, and an unquoted blank would make it another command.
TEST(CommandLineTest, ShownCommandLineHidesPasswordsAndQuotes) {
  const struct {
    std::vector<std::string> args;
    const char* shown;
  } kCases[] = {
      {{"--password", "pw", "--log", "l"},
       "velquor-migrate --password *** --log l"},
      {{"--password=pw", "--suffix=sx"},
       "velquor-migrate --password=*** --suffix=***"},
      {{"--suffix", "--password", "--source", "s"},
       "velquor-migrate --suffix *** --source s"},
      {{"--source", "/a b/it's", "--output", ""},
       "velquor-migrate --source '/a b/it'\\''s' --output ''"},
  };
  for (const auto& c : kCases) EXPECT_EQ(ShownCommandLine(c.args), c.shown);
}

}  // namespace
}  // namespace vm
