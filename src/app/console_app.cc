#include "app/console_app.h"

#include <chrono>
#include <cstdio>
#include <map>

#include "app/command_line.h"
#include "app/console_log.h"
#include "app/progress_log.h"
#include "app/startup.h"
#include "config/target_context.h"
#include "migrate/migration_run.h"
#include "migrate/run_host.h"
#include "migrate/texts.h"
#include "platform/clock.h"
#include "platform/code_page.h"
#include "platform/file_system.h"

namespace vm {

namespace {

constexpr char kVersion[] = "velquor-migrate 1.0.0\n";

// The run's host on a console: the result list is the ConsoleLog, message
// boxes go to stderr, the password options come from the command line.
class ConsoleHost : public RunHost {
 public:
  ConsoleHost(ProgressLog* log, const CodePage* code_page, const ConsoleIo* io,
              PasswordMode mode, std::string suffix, std::string password)
      : log_(log),
        code_page_(code_page),
        io_(io),
        mode_(mode),
        suffix_(std::move(suffix)),
        password_(std::move(password)) {}

  void SetStartCaption(const std::string&) override {}
  void EnableStart(bool) override {}
  int AppendLogLine(const std::string& line) override {
    return log_->AppendLogLine(line);
  }
  void RemoveLastLine() override { log_->RemoveLastLine(); }
  void SelectLastLine() override { log_->SelectLastLine(); }
  int LineCount() override { return log_->LineCount(); }
  void ResetLog() override { log_->Reset(); }
  PasswordMode GetPasswordMode() override { return mode_; }
  std::string SuffixText() override { return suffix_; }
  std::string CommonPasswordText() override { return password_; }
  void ShowMessage(const std::string& text) override {
    io_->err(code_page_->ToUtf8(text) + "\n");
  }
  SourceDomainList* GetSourceDomains() override { return &domains_; }

 private:
  ProgressLog* log_;
  const CodePage* code_page_;
  const ConsoleIo* io_;
  PasswordMode mode_;
  std::string suffix_;    // ANSI
  std::string password_;  // ANSI
  SourceDomainList domains_;
};

// Adds up the time of each phase; "users" excludes the mailboxes inside it.
class PhaseTimer : public PhaseObserver {
 public:
  void PhaseBegin(const char* phase) override {
    started_[phase] = std::chrono::steady_clock::now();
  }
  void PhaseEnd(const char* phase) override {
    total_[phase] += std::chrono::duration<double>(
                         std::chrono::steady_clock::now() - started_[phase])
                         .count();
  }
  std::string Report() const {
    double mail = Total("mail");
    char text[160];
    std::snprintf(text, sizeof(text),
                  "domains: %.3f\nusers: %.3f\nmail: %.3f\n", Total("domains"),
                  Total("users") - mail, mail);
    return text;
  }

 private:
  double Total(const char* phase) const {
    auto it = total_.find(phase);
    return it == total_.end() ? 0.0 : it->second;
  }
  std::map<std::string, std::chrono::steady_clock::time_point> started_;
  std::map<std::string, double> total_;
};

int UsageError(const ConsoleIo& io, const std::string& reason) {
  io.err("velquor-migrate: " + reason + "\n" + UsageText());
  return kExitUsage;
}

// True when `dir` can be listed, that is, it is a readable directory.
bool IsDirectory(FileSystem* fs, const std::string& dir) {
  std::vector<DirEntry> entries;
  return fs->List(dir + "\\*", &entries);
}

bool IsDoubleByte(const std::string& code_page) {
  std::string upper;
  for (char c : code_page) upper += c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
  return upper != "UTF-8" && upper != "UTF8" && upper != "CP65001";
}

}  // namespace

int RunConsole(const std::vector<std::string>& args, const ConsoleIo& io) {
  CommandLine options;
  std::string error;
  if (!ParseCommandLine(args, &options, &error)) return UsageError(io, error);
  if (options.help) {
    io.out(UsageText());
    return kExitSuccess;
  }
  if (options.version) {
    io.out(kVersion);
    return kExitSuccess;
  }
  std::unique_ptr<CodePage> code_page = OpenCodePage(options.code_page);
  std::unique_ptr<FileSystem> fs =
      code_page ? io.open_file_system(options.code_page) : nullptr;
  if (!code_page || !fs) {
    return UsageError(io, "unknown code page: " + options.code_page);
  }

  // Everything past the command line is ANSI, like the dialog's texts.
  AppState state;
  state.source_dir = code_page->ToAnsi(options.source_dir);
  state.target_installed = !options.target_dir.empty();
  state.target_dir = code_page->ToAnsi(
      state.target_installed ? options.target_dir : options.output_dir);
  if (!IsDirectory(fs.get(), state.source_dir)) {
    return UsageError(io, "source directory not found or not readable: " +
                              options.source_dir);
  }
  if (!IsDirectory(fs.get(), state.target_dir)) {
    return UsageError(
        io,
        std::string(state.target_installed ? "target" : "output") +
            " directory not found or not readable: " +
            (state.target_installed ? options.target_dir : options.output_dir));
  }
  Texts texts = MakeTexts(*code_page);

  // Start-up, in the dialog program's order: the skeleton files through
  // the untrimmed directory, then trimming, the version check and the mail
  // store directories.
  CreateMissingTargetFiles(fs.get(), state.target_dir, !state.target_installed);
  state.source_dir = TrimDirectory(state.source_dir);
  state.target_dir = TrimDirectory(state.target_dir);
  if (state.target_installed &&
      !CheckTargetVersion(fs.get(), state.target_dir)) {
    io.err(code_page->ToUtf8(texts.target_too_old) + "\n");
    return kExitFailure;
  }
  FindSourceMailDir(&state);
  FindTargetMailDir(fs.get(), *code_page, &state);
  state.source_mail_dir = TrimDirectory(state.source_mail_dir);
  state.target_mail_dir = TrimDirectory(state.target_mail_dir);

  ConsoleLog view(code_page.get(), io.out_is_terminal, io.out);
  ColumnMeasurer measurer(code_page.get());
  ProgressLog log(&view, &measurer);
  ConsoleHost host(&log, code_page.get(), &io, options.password_mode,
                   code_page->ToAnsi(options.suffix),
                   code_page->ToAnsi(options.password));

  TargetContext target;
  target.fs = fs.get();
  target.clock = SystemClock();
  target.target_dir = state.target_dir;
  RunSettings settings;
  settings.source_dir = state.source_dir;
  settings.target_mail_dir = state.target_mail_dir;
  settings.target_installed = state.target_installed;
  settings.double_byte_names = IsDoubleByte(options.code_page);
  MigrationStats stats;
  PhaseTimer timer;
  RunOutcome outcome = MigrationRun(&host, texts, settings, &target, &stats,
                                    options.stats ? &timer : nullptr);
  view.Finish();

  int status = outcome.succeeded && outcome.failure_lines == 0 ? kExitSuccess
                                                               : kExitFailure;
  if (!options.log_file.empty()) {
    std::string log_error;
    if (!fs->WriteFile(code_page->ToAnsi(options.log_file), view.ListText(),
                       &log_error)) {
      io.err("velquor-migrate: cannot write the log " + options.log_file +
             (log_error.empty() ? "" : ": " + code_page->ToUtf8(log_error)) +
             "\n");
      status = kExitFailure;
    }
  }
  if (options.stats) io.err(timer.Report());
  return status;
}

}  // namespace vm
