#include "console/console_app.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "config/shared_config_states.h"
#include "migrate/texts.h"
#include "platform/clock.h"
#include "platform/code_page.h"
#include "session/run_session.h"
#include "session/startup.h"
#include "testing/fault_injection_file_system.h"
#include "testing/golden.h"
#include "testing/mem_file_system.h"
#include "testing/recording_host.h"

namespace vm {
namespace {

// A source installation "C:\src" with one domain and the accounts given,
// bob's mailbox holding 1.in and 2.in, and an empty output folder "C:\t".
struct Installation {
  std::string accounts = "bob\tc\ta.com\r\n";
  bool fail_copy = false;
  bool popusers = true;
  bool closed_stdout = false;  // every write to stdout fails
  // The interrupt comes when the run writes a file or makes a folder whose
  // path holds this text, on a thread of its own as the platform's handler
  // does; the write goes on once the stop is requested. The handler's
  // status goes into *interrupted.
  std::string interrupt_at = "";
  // Or the interrupt comes as soon as its handler is installed, before
  // the run can be stopped.
  bool interrupt_on_install = false;
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
  DirMade MakeDir(const std::string& p, std::string* e) override {
    if (on_write) on_write(p);
    return FaultInjectionFileSystem::MakeDir(p, e);
  }
  std::function<void(const std::string& path)> on_write;
  ~KeptFileSystem() override {
    if (kept_ == nullptr) return;
    for (auto& [path, contents] : *kept_) ReadFile(path, &contents, nullptr);
  }

 private:
  std::map<std::string, std::string>* kept_;
};

// The installation's disk: C:\run.log, the source and the output folder.
std::unique_ptr<KeptFileSystem> MakeDisk(const Installation& in) {
  auto fs = std::make_unique<KeptFileSystem>(in.kept);
  fs->WriteFile("C:\\run.log", in.log, nullptr);
  for (const char* dir :
       {"C:\\src", "C:\\src\\mail", "C:\\src\\mail\\bob", "C:\\t"}) {
    fs->CreateDir(dir, nullptr);
  }
  fs->WriteFile("C:\\src\\domain.ini", "a.com\r\n", nullptr);
  if (in.popusers) fs->WriteFile("C:\\src\\popusers.ini", in.accounts, nullptr);
  fs->WriteFile("C:\\src\\mail\\bob\\1.in", "one", nullptr);
  fs->WriteFile("C:\\src\\mail\\bob\\2.in", "two", nullptr);
  if (in.fail_copy) fs->FailPath("C:\\src\\mail\\bob\\2.in");
  return fs;
}

int RunOn(const Installation& in, const std::vector<std::string>& args,
          std::string* err, std::string* out = nullptr) {
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
    if (interrupt &&
        (path.empty() ? in.interrupt_on_install
                      : !in.interrupt_at.empty() &&
                            path.find(in.interrupt_at) != std::string::npos)) {
      interrupting = std::thread([&in, h = std::exchange(interrupt, nullptr)] {
        *in.interrupted = h();
      });
      std::unique_lock<std::mutex> lock(mutex);
      requested_cv.wait(lock, [&] { return requested; });
    }
  };
  io.out = [&](const std::string& text) {
    if (out != nullptr) *out += text;
    return !in.closed_stdout;
  };
  io.err = [err](const std::string& text) {
    *err += text;
    return true;
  };
  io.on_interrupt = [&](std::function<int()> handler) {
    interrupt = std::move(handler);
    interrupt_at("");
  };
  io.open_file_system = [&](const std::string&) {
    auto fs = MakeDisk(in);
    fs->on_write = interrupt_at;
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

// The same installation run by the session as the dialog drives it: its
// result list (UTF-8, without the lines only the dialog shows: the plan
// and where its records went), its JSON report and its verdict as an exit
// status. A stop is requested when the run writes or makes a path holding
// `in.interrupt_at`.
struct DialogRun {
  std::vector<std::string> lines;
  std::string report;
  int status = -1;
};
DialogRun RunAsDialog(const Installation& in, SessionKind kind) {
  std::unique_ptr<CodePage> code_page = OpenCodePage("GBK");
  const Texts texts = MakeTexts(*code_page);
  SharedConfigStates states;
  auto disk = MakeDisk(in);
  CreateMissingTargetFiles(disk.get(), "C:\\t", true);  // as start-up does
  SessionEnvironment env;
  env.disk = disk.get();
  env.code_page = code_page.get();
  env.texts = &texts;
  env.clock = SystemClock();
  env.steady_seconds = [] { return 0.0; };
  env.state = {"C:\\src", "C:\\t", "C:\\src\\mail", "C:\\t\\store", false};
  env.record_dirs = {"C:\\records"};
  env.version = "1.0.0";
  env.code_page_name = "GBK";
  env.config_states = &states;
  SessionOptions options;
  options.kind = kind;
  RunSession session(env, options, nullptr);
  disk->on_write = [&](const std::string& path) {
    if (!in.interrupt_at.empty() &&
        path.find(in.interrupt_at) != std::string::npos) {
      session.RequestStop();
    }
  };
  RecordingHost host;
  const SessionResult& r = session.Run(&host);
  DialogRun run;
  for (const std::string& line : host.lines) {
    const std::string utf8 = code_page->ToUtf8(line);
    if (utf8 == "预览计划（未写入任何文件）") {  // under a line of stars
      run.lines.pop_back();
      break;
    }
    if (utf8.rfind("运行记录已保存:", 0) != 0) run.lines.push_back(utf8);
  }
  run.report = session.Report(ReportFormat::kJson);
  run.status = r.outcome.stopped ? kExitStopped : r.clean ? 0 : 1;
  EXPECT_EQ(session.End().kind == MessageKind::kInformation, r.clean);
  return run;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0, end; at < text.size(); at = end + 1) {
    end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
  }
  return lines;
}

// The report without its times, which differ between any two runs.
std::string Timeless(const std::string& report) {
  std::string kept;
  for (const std::string& line : Lines(report)) {
    // The manifests differ in place (the console's lies beside its report).
    if (line.find("\"started\"") == std::string::npos &&
        line.find("\"ended\"") == std::string::npos &&
        line.find("\"manifest\"") == std::string::npos) {
      kept += line + "\n";
    }
  }
  return kept;
}

// One session, two views: the console and the dialog give the same result
// list, report and verdict for the same inputs (they once disagreed about
// accounts left out, and only the dialog's stop let copies finish).
TEST(ConsoleAppTest, ConsoleAndDialogAgree) {
  const std::string kLeftOut = "bob\tc\ta.com\r\ncarl\tc\tb.com\r\n";
  const struct {
    const char* what;
    Installation in;
    SessionKind kind;
    int status;
  } kCases[] = {
      {"clean", {}, SessionKind::kMigrate, 0},
      {"failed copy", {.fail_copy = true}, SessionKind::kMigrate, 1},
      {"account left out", {.accounts = kLeftOut}, SessionKind::kMigrate, 1},
      {"stopped",
       {.accounts = "bob\tc\ta.com\r\ncarl\tc\ta.com\r\ndave\tc\ta.com\r\n",
        .interrupt_at = ".vmtmp.stage.carl"},
       SessionKind::kMigrate,
       kExitStopped},
      {"preview predicting an account left out",
       {.accounts = kLeftOut},
       SessionKind::kPreview,
       1},
  };
  for (const auto& c : kCases) {
    std::map<std::string, std::string> kept = {{"C:\\report.json", ""}};
    Installation in = c.in;
    int interrupted = -1;
    in.interrupted = &interrupted;
    in.kept = &kept;
    std::vector<std::string> args = {"--source", "C:\\src",  "--output",
                                     "C:\\t",    "--report", "C:\\report.json"};
    if (c.kind == SessionKind::kPreview) args.push_back("--dry-run");
    std::string err, out;
    const int status = RunOn(in, args, &err, &out);
    out = out.substr(0, out.find("Plan (dry run"));  // the console's plan
    const DialogRun dialog = RunAsDialog(c.in, c.kind);
    EXPECT_EQ(status, c.status) << c.what << ": " << err;
    EXPECT_EQ(dialog.status, c.status) << c.what;
    EXPECT_EQ(Lines(out), dialog.lines) << c.what;
    EXPECT_EQ(Timeless(kept["C:\\report.json"]), Timeless(dialog.report))
        << c.what;
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
  in.interrupt_at = ".vmtmp.stage.carl";
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

// A Ctrl-C while the run is being set up is not lost: the run stops as
// soon as it can, before its first account, instead of running to its end.
TEST(ConsoleAppTest, InterruptBeforeTheRunBeganStopsIt) {
  int interrupted = -1;
  Installation in;
  in.accounts = "bob\tc\ta.com\r\ncarl\tc\ta.com\r\n";
  in.interrupt_on_install = true;
  in.interrupted = &interrupted;
  std::string out, err;
  EXPECT_EQ(RunOn(in, {"--source", "C:\\src", "--output", "C:\\t"}, &err, &out),
            kExitStopped);
  EXPECT_EQ(interrupted, kExitStopped);
  EXPECT_EQ(out.find("导入帐户"), std::string::npos) << out;
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
