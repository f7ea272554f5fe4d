#include "app/console_app.h"

#include <gtest/gtest.h>

#include "config/config_file.h"
#include "testing/mem_file_system.h"

namespace vm {
namespace {

// A source installation "C:\src" with one domain and the accounts given,
// bob's mailbox holding 1.in and 2.in, and an empty output folder "C:\t".
struct Installation {
  std::string accounts = "bob\tc\ta.com\r\n";
  bool fail_copy = false;
  bool popusers = true;
  bool closed_stdout = false;  // every write to stdout fails
};

int RunOn(const Installation& in, const std::vector<std::string>& args,
          std::string* err) {
  ResetSharedConfigStates();
  ConsoleIo io;
  io.out = [&in](const std::string&) { return !in.closed_stdout; };
  io.err = [err](const std::string& text) {
    *err += text;
    return true;
  };
  io.open_file_system = [&in](const std::string&) {
    auto fs = std::make_unique<MemFileSystem>();
    for (const char* dir :
         {"C:\\src", "C:\\src\\mail", "C:\\src\\mail\\bob", "C:\\t"}) {
      fs->CreateDir(dir);
    }
    fs->WriteFile("C:\\src\\domain.ini", "a.com\r\n", nullptr);
    if (in.popusers)
      fs->WriteFile("C:\\src\\popusers.ini", in.accounts, nullptr);
    fs->WriteFile("C:\\src\\mail\\bob\\1.in", "one", nullptr);
    fs->WriteFile("C:\\src\\mail\\bob\\2.in", "two", nullptr);
    if (in.fail_copy) fs->FailPath("C:\\src\\mail\\bob\\2.in");
    return std::unique_ptr<FileSystem>(std::move(fs));
  };
  const int status = RunConsole(args, io);
  ResetSharedConfigStates();
  return status;
}

// 0 promises that every message of every account is in the target; any
// failure line makes it 1; a command line that cannot run is 2.
TEST(ConsoleAppTest, ExitStatusTellsWhetherEverythingArrived) {
  const std::vector<std::string> kArgs = {"--source", "C:\\src", "--output",
                                          "C:\\t"};
  const struct {
    const char* what;
    Installation in;
    std::vector<std::string> args;
    int status;
  } kCases[] = {
      {"complete", {}, kArgs, 0},
      {"failed copy", {.fail_copy = true}, kArgs, 1},
      {"refused account",
       {.accounts =
            "bob\tc\ta.com\r\n" + std::string(65, 'x') + "\tc\ta.com\r\n"},
       kArgs,
       1},
      {"no popusers.ini", {.popusers = false}, kArgs, 1},
      {"no source folder",
       {},
       {"--source", "C:\\none", "--output", "C:\\t"},
       2},
      {"bad option", {}, {"--source", "C:\\src", "--frobnicate"}, 2},
      {"closed stdout: the run ends, then fails",
       {.closed_stdout = true},
       kArgs,
       1},
      {"password the code page cannot hold",
       {},
       {"--source", "C:\\src", "--output", "C:\\t", "--password-mode", "common",
        "--password", "p\xc3\xa4ssw\xc3\xb6rd"},
       2},
      {"code page that changes ASCII",
       {},
       {"--source", "C:\\src", "--output", "C:\\t", "--codepage", "UTF-16"},
       2},
      {"report neither .json nor .csv",
       {},
       {"--source", "C:\\src", "--output", "C:\\t", "--report", "r.txt"},
       2},
  };
  for (const auto& c : kCases) {
    std::string err;
    EXPECT_EQ(RunOn(c.in, c.args, &err), c.status) << c.what << ": " << err;
    // A closed stdout does not stop the run, so its message is shown.
    EXPECT_EQ(err.find("转移成功") != std::string::npos,
              c.status == 0 || c.in.closed_stdout)
        << c.what << ": " << err;
  }
}

}  // namespace
}  // namespace vm
