#include "session/run_session.h"

#include <cstdio>
#include <ctime>

#include "migrate/texts.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "session/record_paths.h"
#include "session/report_file.h"
#include "session/run_log.h"
#include "session/run_report.h"
#include "util/name_ops.h"

// The records a run leaves in a record folder (the dialog's): the log,
// the JSON report and the HTML page, under a timestamped name.

namespace vm {

namespace {

// "20260107-153012", in local time.
std::string LocalTime(int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  const std::tm* tm = std::localtime(&t);
  if (tm == nullptr) return "00000000-000000";
  char text[64];
  std::strftime(text, sizeof(text), "%Y%m%d-%H%M%S", tm);
  return text;
}

const char* KindWord(SessionKind kind) {
  switch (kind) {
    case SessionKind::kMigrate:
      return "migrate";
    case SessionKind::kPreview:
      return "preview";
    case SessionKind::kVerify:
      return "verify";
  }
  return "run";
}

}  // namespace

std::string RecordBaseName(int64_t started, const char* kind) {
  return LocalTime(started) + "-" + kind;
}

std::string RunSession::BaseName() const {
  return RecordBaseName(started_, KindWord(options_.kind));
}

ReportHeader RunSession::Header(bool succeeded) const {
  const CodePage& cp = *env_.code_page;
  const AppState& state = env_.state;
  ReportHeader header;
  header.version = env_.version;
  header.started = started_;
  header.ended = ended_;
  // The same keys as the command line's report, so one reader (and one
  // schema) serves both.
  const VerifyMode verify = SessionVerifyLevel(options_);
  const std::string source = env_.shown_source.empty()
                                 ? cp.ToUtf8(state.source_dir)
                                 : env_.shown_source;
  const std::string target = env_.shown_target.empty()
                                 ? cp.ToUtf8(state.target_dir)
                                 : env_.shown_target;
  header.options = {{"source", source},
                    {state.target_installed ? "target" : "output", target},
                    {"password_mode", PasswordModeName(options_.password_mode)},
                    {"codepage", env_.code_page_name},
                    {"verify", verify == VerifyMode::kContent ? "content"
                               : verify == VerifyMode::kSize  ? "size"
                                                              : "none"}};
  header.flags = {{"dry_run", options_.kind == SessionKind::kPreview},
                  {"sync", options_.sync},
                  {"verify_only", options_.kind == SessionKind::kVerify},
                  {"changes_only", options_.changes_only}};
  header.stopped = result_.outcome.stopped || result_.watch_stopped;
  header.stats = result_.stats;
  header.failure_lines = result_.outcome.failure_lines;
  header.succeeded = succeeded;
  header.manifest = manifest_shown_;
  header.kind = options_.kind == SessionKind::kVerify
                    ? ReportKind::kVerification
                : options_.sync ? ReportKind::kSync
                                : ReportKind::kMigration;
  header.guide = env_.guide;
  header.progress = progress_.Samples();
  return header;
}

std::string RunSession::Report(ReportFormat format, bool succeeded) const {
  return ReportText(format, Header(succeeded), Reported(), *env_.code_page);
}

bool RunSession::WriteReport(FileSystem* fs, const std::string& path,
                             ReportFormat format, bool succeeded,
                             const std::string& manifest,
                             std::string* error) const {
  ReportHeader header = Header(succeeded);
  if (!manifest.empty()) header.manifest = manifest;
  return WriteReportFile(fs, path, format, header, Reported(), *env_.code_page,
                         error);
}

LogHead RunSession::LogHeadOf(const std::string& command,
                              const std::string& manifest) const {
  const CodePage& cp = *env_.code_page;
  const AppState& state = env_.state;
  auto shown = [this, &cp](const std::string& ansi) {
    return ansi.empty() ? ansi : cp.ToUtf8(env_.disk->DisplayPath(ansi));
  };
  const char* kind = options_.kind == SessionKind::kPreview  ? "preview"
                     : options_.kind == SessionKind::kVerify ? "verify"
                     : options_.sync                         ? "sync"
                                                             : "migrate";
  const VerifyMode verify = SessionVerifyLevel(options_);
  LogHead head;
  head.version = env_.version;
  head.started = started_;
  head.command =
      command.empty() ? std::string("VelquorMigrate ") + kind : command;
  head.kind = kind;
  head.lines = {
      {"source", shown(state.source_dir)},
      {"source mail", shown(state.source_mail_dir)},
      {state.target_installed ? "target" : "output", shown(state.target_dir)},
      {"target mail", shown(state.target_mail_dir)},
      {"options", std::string("password-mode ") +
                      PasswordModeName(options_.password_mode) + ", sync " +
                      (options_.sync ? "yes" : "no") + ", verify " +
                      (verify == VerifyMode::kContent ? "content"
                       : verify == VerifyMode::kSize  ? "size"
                                                      : "none") +
                      ", jobs " + std::to_string(options_.jobs)},
      {"manifest", manifest.empty() ? manifest_shown_ : manifest}};
  return head;
}

std::vector<LogLine> RunSession::LogTail(const std::string& report) const {
  const SessionResult& r = result_;
  return {{"counts",
           "failure lines " + std::to_string(r.outcome.failure_lines) +
               ", failed copies " + std::to_string(r.stats.failed_copies) +
               ", left out " + std::to_string(r.left_out) + ", not reached " +
               std::to_string(r.stopped)},
          {"report", report}};
}

// The dialog's log: no exit status, the end as the verdict says it.
std::string RunSession::LogText(const std::string& report) const {
  std::string list;
  for (const std::string& line : lines_) {
    list += env_.code_page->ToUtf8(line) + "\n";
  }
  const RunEnd end = result_.outcome.stopped ? RunEnd::kStopped
                     : result_.clean         ? RunEnd::kSucceeded
                                             : RunEnd::kFailed;
  return RunLogHeader(LogHeadOf("", "")) + list +
         RunLogEnd(LogTail(report), ended_, end, -1);
}

void RunSession::WriteRecords() {
  // A front end that keeps its own records names no folder for these.
  if (env_.record_dirs.empty()) return;
  if (!result_.log_path.empty()) {
    // A watch writes them again after each pass, whole, over the same
    // files: a reader never finds one half written.
    const std::string base =
        result_.log_path.substr(0, result_.log_path.size() - 4);
    std::string error;
    if (!env_.disk->ReplaceContents(
            result_.log_path,
            LogText(ShownRecordPath(*env_.disk, *env_.code_page,
                                    result_.report_path)),
            &error) ||
        !WriteReport(env_.disk, result_.report_path, ReportFormat::kJson,
                     result_.clean, "", &error) ||
        (!result_.html_path.empty() &&
         !WriteReport(env_.disk, result_.html_path, ReportFormat::kHtml,
                      result_.clean, "", &error))) {
      result_.record_error = base + (error.empty() ? "" : ": " + error);
    }
    return;
  }
  const CodePage& cp = *env_.code_page;
  const RecordFolderFiles files = WriteRecordFolder(
      env_.disk, NameOps(cp.LeadBytes()), env_.state, env_.record_dirs,
      BaseName(),
      [this, &cp](const std::string& json) {
        return LogText(ShownRecordPath(*env_.disk, cp, json));
      },
      [this](const std::string& path, ReportFormat format, std::string* error) {
        return WriteReport(env_.disk, path, format, result_.clean, "", error);
      });
  result_.log_path = files.log;
  result_.report_path = files.json;
  result_.html_path = files.html;
  result_.record_error = files.error;
  if (files.log.empty() && files.error.empty()) {
    result_.record_error = env_.texts->no_record_folder;
  }
}

}  // namespace vm
