#include "app/console_app.h"

#include <chrono>
#include <cstdio>
#include <map>

#include "app/command_line.h"
#include "app/console_log.h"
#include "app/overlay_file_system.h"
#include "app/progress_log.h"
#include "app/progress_meter.h"
#include "app/run_plan.h"
#include "app/run_record.h"
#include "app/run_report.h"
#include "app/startup.h"
#include "config/config_file.h"
#include "config/target_context.h"
#include "migrate/migration_run.h"
#include "migrate/run_host.h"
#include "migrate/texts.h"
#include "platform/clock.h"
#include "platform/code_page.h"
#include "platform/disk_space.h"
#include "platform/file_system.h"
#include "vm_version.h"

namespace vm {

namespace {

// The run's host on a console: the result list is the ConsoleLog, message
// boxes go to stderr, the password options come from the command line.
class ConsoleHost : public RunHost {
 public:
  ConsoleHost(ProgressLog* log, const CodePage* code_page, const ConsoleIo* io,
              PasswordMode mode, std::string suffix, std::string password,
              std::string message_prefix)
      : message_prefix_(std::move(message_prefix)),
        log_(log),
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
    io_->err(message_prefix_ + code_page_->ToUtf8(text) + "\n");
  }
  SourceDomainList* GetSourceDomains() override { return &domains_; }

  std::string message_prefix_;  // UTF-8

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
    char text[200];
    // "mail" is the run thread's share (listing, index reading); the
    // copies overlap it and the account step. "flush" makes them durable.
    std::snprintf(text, sizeof(text),
                  "domains: %.3f\nusers: %.3f\nmail: %.3f\nflush: %.3f\n",
                  Total("domains"), Total("users") - mail, mail,
                  Total("flush"));
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
  io.err("velquor-migrate: " + reason + "\nTry 'velquor-migrate --help'.\n");
  return kExitUsage;
}

// True when `dir` can be listed, that is, it is a readable directory.
bool IsDirectory(FileSystem* fs, const std::string& dir) {
  std::vector<DirEntry> entries;
  return fs->List(dir + "\\*", &entries);
}

// True when the code page keeps ASCII as it is, as every path and list
// of the installations needs.
bool IsAsciiCompatible(const CodePage& code_page) {
  std::string ascii;
  for (char c = 0x20; c < 0x7f; ++c) ascii += c;
  ascii += "\t\r\n";
  return code_page.ToAnsi(ascii) == ascii && code_page.ToUtf8(ascii) == ascii;
}

// True when the code page holds every character of `utf8`.
bool Representable(const CodePage& code_page, const std::string& utf8) {
  return code_page.ToUtf8(code_page.ToAnsi(utf8)) == utf8;
}

// The directory part of a path as given on the command line ("." for a
// bare name); empty for a root.
std::string ParentOf(std::string path) {
  while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) {
    path.pop_back();
  }
  size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash == 0 ? 1 : slash);
}

const char* PasswordModeName(PasswordMode mode) {
  switch (mode) {
    case PasswordMode::kSameAsUserName:
      return "same";
    case PasswordMode::kUserNamePlusSuffix:
      return "suffix";
    case PasswordMode::kCommonPassword:
      return "common";
    case PasswordMode::kSourceCipherText:
      return "cipher";
  }
  return "?";
}

double SteadySeconds() {
  return std::chrono::duration<double>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

int RunConsole(const std::vector<std::string>& args, const ConsoleIo& io) {
  const int64_t started = SystemClock()->NowSeconds();
  CommandLine options;
  std::string error;
  if (!ParseCommandLine(args, &options, &error)) return UsageError(io, error);
  if (options.help) {
    io.out(UsageText());
    return kExitSuccess;
  }
  if (options.version) {
    io.out("velquor-migrate " VM_VERSION_TEXT "\n");
    return kExitSuccess;
  }
  std::unique_ptr<CodePage> code_page = OpenCodePage(options.code_page);
  if (code_page && !IsAsciiCompatible(*code_page)) {
    return UsageError(io, "code page " + options.code_page +
                              " does not keep ASCII as it is; use one that "
                              "does, such as GBK or UTF-8");
  }
  std::unique_ptr<FileSystem> disk =
      code_page ? io.open_file_system(options.code_page) : nullptr;
  if (!code_page || !disk) {
    return UsageError(io, "unknown code page: " + options.code_page);
  }
  // A text the code page cannot hold would be replaced by some other text:
  // a wrong digest for every account, or another file.
  const std::pair<const char*, const std::string*> kTexts[] = {
      {"--source", &options.source_dir}, {"--target", &options.target_dir},
      {"--output", &options.output_dir}, {"--suffix", &options.suffix},
      {"--password", &options.password}, {"--log", &options.log_file},
      {"--report", &options.report_file}};
  for (const auto& [name, text] : kTexts) {
    if (!Representable(*code_page, *text)) {
      return UsageError(io, std::string("the text of ") + name +
                                " has characters code page " +
                                options.code_page + " cannot hold");
    }
  }

  // A dry run and a verification write through an overlay that keeps every
  // write in memory; the log and the report go to the disk.
  const bool read_only = options.dry_run || options.verify_only;
  OverlayFileSystem overlay(disk.get());
  FileSystem* fs = read_only ? static_cast<FileSystem*>(&overlay) : disk.get();

  // Everything past the command line is ANSI, like the dialog's texts.
  AppState state;
  state.source_dir = code_page->ToAnsi(options.source_dir);
  state.target_installed = !options.target_dir.empty();
  state.target_dir = code_page->ToAnsi(
      state.target_installed ? options.target_dir : options.output_dir);
  if (!IsDirectory(fs, state.source_dir)) {
    return UsageError(io, "source directory not found or not readable: " +
                              options.source_dir);
  }
  // Without the machine-wide locks the run would write the target's files
  // unguarded: stop before anything is written.
  std::string lock_error;
  if (!ConfigLocksUsable(&lock_error)) {
    io.err("velquor-migrate: " + lock_error + "\n");
    return kExitFailure;
  }
  if (!state.target_installed && !IsDirectory(fs, state.target_dir) &&
      IsDirectory(fs, code_page->ToAnsi(ParentOf(options.output_dir)))) {
    // As mkdir would: the output folder is made when its parent exists.
    if (!fs->CreateDir(state.target_dir)) {
      io.err("velquor-migrate: cannot create the output directory " +
             options.output_dir + "\n");
      return kExitFailure;
    }
  }
  if (!IsDirectory(fs, state.target_dir)) {
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
  CreateMissingTargetFiles(fs, state.target_dir, !state.target_installed);
  state.source_dir = TrimDirectory(state.source_dir);
  state.target_dir = TrimDirectory(state.target_dir);
  if (state.target_installed && !CheckTargetVersion(fs, state.target_dir)) {
    io.err(code_page->ToUtf8(texts.target_too_old) + "\n");
    return kExitFailure;
  }
  FindSourceMailDir(&state);
  FindTargetMailDir(fs, *code_page, &state);
  state.source_mail_dir = TrimDirectory(state.source_mail_dir);
  state.target_mail_dir = TrimDirectory(state.target_mail_dir);

  // Standard output that fails is given up, never retried; the run goes on.
  const bool progress =
      options.progress == Toggle::kOn ||
      (options.progress == Toggle::kAuto && io.err_is_terminal);
  std::unique_ptr<ProgressMeter> meter;
  if (progress) {
    meter = std::make_unique<ProgressMeter>(
        fs, state.source_dir, [&io](const std::string& text) { io.err(text); },
        SteadySeconds);
  }
  bool out_failed = false;
  auto out = [&](const std::string& text) {
    if (meter) meter->Erase();
    if (!out_failed && !io.out(text)) out_failed = true;
  };

  // With the progress line on the terminal, the list shows only final
  // lines, so the two never share a line.
  ConsoleLog view(code_page.get(), io.out_is_terminal && !progress, out);
  ColumnMeasurer measurer(code_page.get());
  ProgressLog log(&view, &measurer);
  ConsoleHost host(&log, code_page.get(), &io, options.password_mode,
                   code_page->ToAnsi(options.suffix),
                   code_page->ToAnsi(options.password),
                   options.dry_run ? "(dry run) " : "");

  TargetContext target;
  target.fs = fs;
  target.clock = SystemClock();
  target.target_dir = state.target_dir;
  target.names = NameOps(code_page->LeadBytes());
  RunSettings settings;
  settings.source_dir = state.source_dir;
  settings.target_mail_dir = state.target_mail_dir;
  settings.target_installed = state.target_installed;
  settings.sync = options.sync;
  settings.verify_only = options.verify_only;
  settings.verify = options.verify == VerifyMode::kContent ? 2
                    : options.verify == VerifyMode::kSize || options.verify_only
                        ? 1
                        : 0;
  settings.code_page = code_page.get();
  settings.jobs = options.jobs;
  MigrationStats stats;
  PhaseTimer timer;
  RunRecord record(meter.get());
  RunOutcome outcome = MigrationRun(&host, texts, settings, &target, &stats,
                                    options.stats ? &timer : nullptr, &record);
  view.Finish();
  if (meter) meter->Finish();

  int status = outcome.succeeded && outcome.failure_lines == 0 ? kExitSuccess
                                                               : kExitFailure;
  if (options.dry_run && outcome.loaded) {
    uint64_t free_bytes = 0;
    bool free_known =
        FreeDiskSpace(*code_page, state.target_mail_dir, &free_bytes);
    bool fits = true;
    out(PlanText(record, *code_page, free_known, free_bytes, &fits));
    if (!fits) status = kExitFailure;
  }

  auto write_file = [&](const std::string& name, const std::string& what,
                        const std::string& contents) {
    std::string write_error;
    if (!disk->WriteFile(code_page->ToAnsi(name), contents, &write_error)) {
      io.err(
          "velquor-migrate: cannot write the " + what + " " + name +
          (write_error.empty() ? "" : ": " + code_page->ToUtf8(write_error)) +
          "\n");
      status = kExitFailure;
    }
  };
  if (!options.log_file.empty())
    write_file(options.log_file, "log", view.ListText());
  if (!options.report_file.empty()) {
    ReportHeader header;
    header.version = VM_VERSION;
    header.started = started;
    header.ended = SystemClock()->NowSeconds();
    header.options = {
        {"source", options.source_dir},
        {state.target_installed ? "target" : "output",
         state.target_installed ? options.target_dir : options.output_dir},
        {"password_mode", PasswordModeName(options.password_mode)},
        {"codepage", options.code_page},
        {"verify", settings.verify == 2   ? "content"
                   : settings.verify == 1 ? "size"
                                          : "none"}};
    header.flags = {{"dry_run", options.dry_run},
                    {"sync", options.sync},
                    {"verify_only", options.verify_only}};
    header.stats = stats;
    header.failure_lines = outcome.failure_lines;
    header.succeeded = status == kExitSuccess;
    const bool json = options.report_file.size() >= 5 &&
                      (options.report_file.back() | 0x20) == 'n';
    write_file(options.report_file, "report",
               json ? JsonReport(header, record, *code_page)
                    : CsvReport(record, *code_page));
  }
  if (options.stats) {
    io.err(timer.Report());
    char hold[64];
    std::snprintf(hold, sizeof(hold), "longest config lock hold: %.3f\n",
                  LongestConfigLockHoldMicros() / 1e6);
    io.err(hold);
    if (meter) {
      char scan[64];
      std::snprintf(scan, sizeof(scan), "source scan: %.3f\n",
                    meter->scan_seconds());
      io.err(scan);
    }
  }
  if (out_failed) {
    io.err(
        "velquor-migrate: the result list could not be written to standard "
        "output; the run went on to its end\n");
    status = kExitFailure;
  }
  return status;
}

}  // namespace vm
