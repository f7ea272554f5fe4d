#include "session/run_session.h"

#include <cstdio>
#include <ctime>

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

// The dialog's own caption of each option (UTF-8).
const char* PasswordModeCaption(PasswordMode mode) {
  switch (mode) {
    case PasswordMode::kSameAsUserName:
      return "密码 = 用户名";
    case PasswordMode::kUserNamePlusSuffix:
      return "密码 = 用户名 + 后缀";
    case PasswordMode::kCommonPassword:
      return "所有用户统一密码";
    case PasswordMode::kSourceCipherText:
      return "密码 = Velquor加密后密文";
  }
  return "?";
}

}  // namespace

std::string RunSession::BaseName() const {
  return LocalTime(started_, true) + "-" + KindWord(options_.kind);
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
  header.stopped = result_.outcome.stopped;
  header.stats = result_.stats;
  header.failure_lines = result_.outcome.failure_lines;
  header.succeeded = succeeded;
  header.manifest = manifest_shown_;
  return header;
}

std::string RunSession::Report(bool json, bool succeeded) const {
  return json ? JsonReport(Header(succeeded), *record_, *env_.code_page)
              : CsvReport(*record_, *env_.code_page);
}

bool RunSession::WriteReport(FileSystem* fs, const std::string& path, bool json,
                             bool succeeded, const std::string& manifest,
                             std::string* error) const {
  ReportHeader header = Header(succeeded);
  if (!manifest.empty()) header.manifest = manifest;
  return WriteReportFile(fs, path, json, header, *record_, *env_.code_page,
                         error);
}

std::string RunSession::LogText() const {
  const CodePage& cp = *env_.code_page;
  const AppState& state = env_.state;
  const SessionResult& r = result_;
  const char* kinds[] = {"迁移", "预览（未写入任何文件）",
                         "校验（未写入任何文件）"};
  const VerifyMode verify = SessionVerifyLevel(options_);
  std::string outcome = r.clean             ? "成功"
                        : r.outcome.stopped ? "已停止，未完成"
                        : options_.kind == SessionKind::kPreview
                            ? "有问题，见下文"
                            : "未全部成功";
  std::string text = "\xEF\xBB\xBF";  // Notepad reads the file as UTF-8
  auto line = [&text](const std::string& utf8) { text += utf8 + "\r\n"; };
  line("Velquor => Tarnwick 迁移工具 " + env_.version + " 运行记录");
  line(std::string("类型: ") + kinds[static_cast<int>(options_.kind)]);
  line("开始时间: " + LocalTime(started_, false));
  line("结束时间: " + LocalTime(ended_, false));
  line("Velquor 安装路径: " + cp.ToUtf8(state.source_dir));
  line("Velquor 邮件存储: " + cp.ToUtf8(state.source_mail_dir));
  line(std::string(state.target_installed ? "Tarnwick 安装路径: "
                                          : "临时保存文件夹: ") +
       cp.ToUtf8(state.target_dir));
  line("Tarnwick 邮件存储: " + cp.ToUtf8(state.target_mail_dir));
  line(std::string("选项: 密码转换=") +
       PasswordModeCaption(options_.password_mode) +
       "；只复制新邮件=" + (options_.sync ? "是" : "否") + "；校验=" +
       (verify == VerifyMode::kContent ? "逐字节比较"
        : verify == VerifyMode::kSize  ? "按大小"
                                       : "不校验") +
       "；复制线程=" + std::to_string(options_.jobs));
  line("结果: " + outcome);
  line("失败行数: " + std::to_string(r.outcome.failure_lines) +
       "；复制失败的邮件数: " + std::to_string(r.stats.failed_copies) +
       "；未迁移的帐户数: " + std::to_string(r.left_out) +
       "；因停止而未处理的帐户数: " + std::to_string(r.stopped));
  line("JSON 报告: " + cp.ToUtf8(r.report_path));
  line(std::string(34, '-'));
  for (const std::string& l : lines_) line(cp.ToUtf8(l));
  return text;
}

void RunSession::WriteRecords() {
  // A front end that keeps its own records names no folder for these.
  if (env_.record_dirs.empty()) return;
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
    for (int n = 2; disk->Exists(base + ".log") || disk->Exists(base + ".json");
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
    if (!WriteReport(disk, result_.report_path, true, result_.clean, "",
                     &error)) {
      result_.record_error =
          result_.report_path + (error.empty() ? "" : ": " + error);
      result_.report_path.clear();
    }
    return;
  }
  if (result_.record_error.empty()) {
    result_.record_error = A("没有可写入的记录文件夹");
  }
}

}  // namespace vm
