#include "session/run_session.h"

#include <cstdio>
#include <ctime>

#include "migrate/texts.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "session/report_file.h"
#include "session/run_report.h"

// The records every session leaves: the log (a header, then the result
// list) and the JSON report, under a timestamped name in the first records
// folder that may hold them.

namespace vm {

namespace {

// "2026-01-07 15:30:12" or, compact, "20260107-153012", in local time.
std::string LocalTime(int64_t seconds, bool compact) {
  std::time_t t = static_cast<std::time_t>(seconds);
  const std::tm* tm = std::localtime(&t);
  if (tm == nullptr) return compact ? "00000000-000000" : "?";
  char text[64];
  std::strftime(text, sizeof(text),
                compact ? "%Y%m%d-%H%M%S" : "%Y-%m-%d %H:%M:%S", tm);
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

// The dialog's own caption of each option.
std::string PasswordModeCaption(const Texts& texts, PasswordMode mode) {
  const int at = static_cast<int>(mode) - 1;  // the modes count from 1
  return at >= 0 && at < 4 ? texts.log_password_modes[at] : "?";
}

}  // namespace

std::string RecordBaseName(int64_t started, const char* kind) {
  return LocalTime(started, true) + "-" + kind;
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

std::string RunSession::LogText() const {
  const CodePage& cp = *env_.code_page;
  const AppState& state = env_.state;
  const SessionResult& r = result_;
  const Texts& t = *env_.texts;
  const VerifyMode verify = SessionVerifyLevel(options_);
  const int outcome = r.clean                                  ? 0
                      : r.outcome.stopped                      ? 1
                      : options_.kind == SessionKind::kPreview ? 2
                                                               : 3;
  std::string text = "\xEF\xBB\xBF";  // Notepad reads the file as UTF-8
  // The texts and the paths are ANSI; the log is UTF-8.
  auto line = [&text, &cp](const std::string& ansi) {
    text += cp.ToUtf8(ansi) + "\r\n";
  };
  line(t.log_title + cp.ToAnsi(env_.version) + t.log_title_tail);
  line(t.log_type + t.log_kinds[static_cast<int>(options_.kind)]);
  line(t.log_started + LocalTime(started_, false));
  line(t.log_ended + LocalTime(ended_, false));
  line(t.log_source_dir + state.source_dir);
  line(t.log_source_mail + state.source_mail_dir);
  line((state.target_installed ? t.log_target_dir : t.log_temporary_dir) +
       state.target_dir);
  line(t.log_target_mail + state.target_mail_dir);
  line(t.log_options + PasswordModeCaption(t, options_.password_mode) +
       t.log_sync + (options_.sync ? t.log_yes : t.log_no) + t.log_verify +
       t.log_verify_modes[verify == VerifyMode::kContent ? 0
                          : verify == VerifyMode::kSize  ? 1
                                                         : 2] +
       t.log_jobs + std::to_string(options_.jobs));
  line(t.log_result + t.log_outcomes[outcome]);
  line(t.log_failure_lines + std::to_string(r.outcome.failure_lines) +
       t.log_failed_copies + std::to_string(r.stats.failed_copies) +
       t.log_left_out + std::to_string(r.left_out) + t.log_stopped +
       std::to_string(r.stopped));
  line(t.log_report + r.report_path);
  text += std::string(34, '-') + "\r\n";
  for (const std::string& l : lines_) line(l);
  return text;
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
    if (!env_.disk->ReplaceContents(result_.log_path, LogText(), &error) ||
        !WriteReport(env_.disk, result_.report_path, ReportFormat::kJson,
                     result_.clean, "", &error) ||
        (!result_.html_path.empty() &&
         !WriteReport(env_.disk, result_.html_path, ReportFormat::kHtml,
                      result_.clean, "", &error))) {
      result_.record_error = base + (error.empty() ? "" : ": " + error);
    }
    return;
  }
  const NameOps names(env_.code_page->LeadBytes());
  FileSystem* disk = env_.disk;
  for (const std::string& dir : env_.record_dirs) {
    // Records never go into either installation.
    if (!MayHoldRecords(disk, dir, env_.state)) continue;
    // Each missing folder of the path, from the top (after the drive).
    for (size_t at = names.Find(dir, '\\'); at != std::string::npos;
         at = names.Find(dir, '\\', at + 1)) {
      if (at > 0 && dir[at - 1] != ':')
        disk->CreateDir(dir.substr(0, at), nullptr);
    }
    disk->CreateDir(dir, nullptr);
    std::string base = dir + "\\" + BaseName();
    for (int n = 2;
         disk->Exists(base + ".log") || disk->Exists(base + ".json") ||
         disk->Exists(base + ".html");
         ++n) {
      base = dir + "\\" + BaseName() + "-" + std::to_string(n);
    }
    result_.report_path = base + ".json";
    std::string error;
    if (!disk->WriteFile(base + ".log", LogText(), &error)) {
      result_.record_error =
          base + ".log" + (error.empty() ? "" : ": " + error);
      result_.report_path.clear();
      continue;
    }
    result_.log_path = base + ".log";
    if (!WriteReport(disk, result_.report_path, ReportFormat::kJson,
                     result_.clean, "", &error)) {
      result_.record_error =
          result_.report_path + (error.empty() ? "" : ": " + error);
      result_.report_path.clear();
      return;
    }
    // The page for people, beside the JSON for scripts.
    if (WriteReport(disk, base + ".html", ReportFormat::kHtml, result_.clean,
                    "", &error)) {
      result_.html_path = base + ".html";
    } else {
      result_.record_error =
          base + ".html" + (error.empty() ? "" : ": " + error);
    }
    return;
  }
  if (result_.record_error.empty()) {
    result_.record_error = env_.texts->no_record_folder;
  }
}

}  // namespace vm
