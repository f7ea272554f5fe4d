#include "console/console_app.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "config/shared_config_states.h"
#include "testing/fault_injection_file_system.h"
#include "testing/mem_file_system.h"
#include "testing/golden.h"

namespace vm {
namespace {

// A source installation "C:\src" with one domain and the accounts given,
// bob's mailbox holding 1.in and 2.in, and an empty output folder "C:\t".
struct Installation {
  std::string accounts = "bob\tc\ta.com\r\n";
  bool fail_copy = false;
  bool popusers = true;
  bool closed_stdout = false;  // every write to stdout fails
  // The interrupt comes when the run writes a file whose path holds this
  // text, on a thread of its own as the platform's handler does; the write
  // goes on once the stop is requested. The handler's status goes into
  // *interrupted.
  std::string interrupt_at = "";
  int* interrupted = nullptr;
  std::string log = "earlier run\n";  // C:\run.log before the run
  // Files read once the run has let go of its disk (path: contents).
  std::map<std::string, std::string>* kept = nullptr;
  // When set, the interrupt comes after the run ended, and this receives
  // the status the handler ends the process with.
  int* late_interrupt = nullptr;
};

// The disk of one run; what the test wants of it is read when the run is
// done with it.
struct MemHolder {
  MemFileSystem mem;
};
class KeptFileSystem : MemHolder, public FaultInjectionFileSystem {
 public:
  explicit KeptFileSystem(std::map<std::string, std::string>* kept)
      : FaultInjectionFileSystem(&mem), kept_(kept) {}
  bool WriteFile(const std::string& p, const std::string& c,
                 std::string* e) override {
    if (on_write) on_write(p);
    return FaultInjectionFileSystem::WriteFile(p, c, e);
  }
  std::function<void(const std::string& path)> on_write;
  ~KeptFileSystem() override {
    if (kept_ == nullptr) return;
    for (auto& [path, contents] : *kept_) ReadFile(path, &contents, nullptr);
  }

 private:
  std::map<std::string, std::string>* kept_;
};

int RunOn(const Installation& in, const std::vector<std::string>& args,
          std::string* err) {
  SharedConfigStates states;
  ConsoleIo io;
  io.config_states = &states;
  std::function<int()> interrupt;
  std::thread interrupting;
  std::mutex mutex;
  std::condition_variable requested_cv;
  bool requested = false;
  io.stop_requested = [&] {
    std::lock_guard<std::mutex> lock(mutex);
    requested = true;
    requested_cv.notify_all();
  };
  auto interrupt_at = [&](const std::string& path) {
    if (interrupt && !in.interrupt_at.empty() &&
        path.find(in.interrupt_at) != std::string::npos) {
      interrupting = std::thread([&in, h = std::exchange(interrupt, nullptr)] {
        *in.interrupted = h();
      });
      std::unique_lock<std::mutex> lock(mutex);
      requested_cv.wait(lock, [&] { return requested; });
    }
  };
  io.out = [&](const std::string&) { return !in.closed_stdout; };
  io.err = [err](const std::string& text) {
    *err += text;
    return true;
  };
  io.on_interrupt = [&](std::function<int()> handler) {
    interrupt = std::move(handler);
  };
  io.open_file_system = [&](const std::string&) {
    auto fs = std::make_unique<KeptFileSystem>(in.kept);
    fs->on_write = interrupt_at;
    fs->WriteFile("C:\\run.log", in.log, nullptr);
    for (const char* dir :
         {"C:\\src", "C:\\src\\mail", "C:\\src\\mail\\bob", "C:\\t"}) {
      fs->CreateDir(dir, nullptr);
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
  if (interrupting.joinable()) interrupting.join();
  if (in.late_interrupt != nullptr && interrupt)
    *in.late_interrupt = interrupt();
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
      {"account whose domain is no line of domain.ini",
       {.accounts = "bob\tc\ta.com\r\ncarl\tc\tb.com\r\n"},
       kArgs,
       1},
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
      {"password longer than the run takes",
       {},
       {"--source", "C:\\src", "--output", "C:\\t", "--password-mode", "common",
        "--password", std::string(21, 'p')},
       2},
      {"code page that changes ASCII",
       {},
       {"--source", "C:\\src", "--output", "C:\\t", "--codepage", "UTF-16"},
       2},
      {"code page that cannot hold the program's texts",
       {},
       {"--source", "C:\\src", "--output", "C:\\t", "--codepage", "ISO-8859-1"},
       2},
      {"report neither .json nor .csv",
       {},
       {"--source", "C:\\src", "--output", "C:\\t", "--report", "r.txt"},
       2},
  };
  for (const auto& c : kCases) {
    std::string err;
    EXPECT_EQ(RunOn(c.in, c.args, &err), c.status) << c.what << ": " << err;
    // The success message comes with exit status 0 and only then.
    EXPECT_EQ(err.find("转移成功") != std::string::npos, c.status == 0)
        << c.what << ": " << err;
  }
}

// A Ctrl-C is the run's stop request, as the dialog's stop button is: the
// account in flight (carl) is finished, its copies included, and the run
// ends there (dave is left unfinished, and the list says so); its own end
// says on stderr that it stopped and writes the report and the log's end,
// and the handler ends the process with the same status. (Before, the
// handler wrote the records itself while the copies went on.)
TEST(ConsoleAppTest, InterruptStopsTheRunAfterTheAccountInFlight) {
  std::map<std::string, std::string> kept = {{"C:\\run.log", ""},
                                             {"C:\\report.csv", ""}};
  int interrupted = -1;
  Installation in;
  in.accounts = "bob\tc\ta.com\r\ncarl\tc\ta.com\r\ndave\tc\ta.com\r\n";
  in.interrupt_at = "carl\\velquor-migrate.pending";
  in.interrupted = &interrupted;
  in.kept = &kept;
  std::string err;
  EXPECT_EQ(RunOn(in,
                  {"--source", "C:\\src", "--output", "C:\\t", "--log",
                   "C:\\run.log", "--report", "C:\\report.csv"},
                  &err),
            kExitStopped);
  EXPECT_EQ(interrupted, kExitStopped);
  EXPECT_EQ(err,
            "转移已中断。已完成的部分和配置文件均已保存，再次运行即可继续转移。"
            "\n");
  EXPECT_EQ(kept["C:\\report.csv"], Golden("console/stopped_report.csv"));
  const std::string& log = kept["C:\\run.log"];
  const std::string head = "earlier run\n== velquor-migrate 1.0.0 started ";
  const std::string command =
      "\n== velquor-migrate --source C:\\src --output C:\\t --log "
      "C:\\run.log --report C:\\report.csv\n";
  const std::string tail = ": stopped; a rerun continues (exit status 130)\n";
  ASSERT_GT(log.size(), head.size() + tail.size()) << log;
  EXPECT_EQ(log.substr(0, head.size()), head) << log;
  EXPECT_NE(log.find(command), std::string::npos) << log;
  EXPECT_EQ(log.substr(log.size() - tail.size()), tail) << log;
}

// The exit status is decided once: a Ctrl-C after the run ended ends the
// process with the run's status, and the log keeps its end line.
TEST(ConsoleAppTest, InterruptAfterTheEndKeepsTheStatus) {
  for (bool fail_copy : {false, true}) {
    std::map<std::string, std::string> kept = {{"C:\\run.log", ""}};
    int late = -1;
    Installation in;
    in.fail_copy = fail_copy;
    in.kept = &kept;
    in.late_interrupt = &late;
    std::string err;
    const int status = RunOn(
        in,
        {"--source", "C:\\src", "--output", "C:\\t", "--log", "C:\\run.log"},
        &err);
    EXPECT_EQ(status, fail_copy ? kExitFailure : kExitSuccess);
    EXPECT_EQ(late, status);
    const std::string tail = "(exit status " + std::to_string(status) + ")\n";
    const std::string& log = kept["C:\\run.log"];
    ASSERT_GT(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail) << log;
    EXPECT_EQ(log.find("exit status 130"), std::string::npos) << log;
  }
}

}  // namespace
}  // namespace vm
