#include "app/run_session.h"

#include <cstdio>
#include <ctime>

#include "app/run_report.h"
#include "config/config_file.h"
#include "config/domain_store.h"
#include "config/shared_config_states.h"
#include "config/target_context.h"
#include "config/user_store.h"
#include "migrate/run_host.h"
#include "migrate/texts.h"
#include "platform/clock.h"
#include "platform/code_page.h"
#include "platform/disk_space.h"
#include "platform/file_system.h"

namespace vm {

namespace {

// Passes the result list on to the front end's host and keeps a copy of
// it for the log. The list is emptied when the run first writes to it, not
// when it asks: a start refused while loading keeps the previous list. The
// button is the front end's; the password options are the session's; the
// success messages are left to RunSession::End.
class SessionHost : public RunHost {
 public:
  SessionHost(RunHost* host, const Texts& texts, const SessionOptions& options)
      : host_(host), texts_(texts), options_(options) {}

  void SetStartCaption(const std::string&) override {}
  void EnableStart(bool) override {}
  int AppendLogLine(const std::string& line) override {
    Settle();
    lines_.push_back(line);
    return host_->AppendLogLine(line);
  }
  void RemoveLastLine() override {
    Settle();
    if (!lines_.empty()) lines_.pop_back();
    host_->RemoveLastLine();
  }
  void SelectLastLine() override {
    Settle();
    host_->SelectLastLine();
  }
  int LineCount() override {
    Settle();
    return host_->LineCount();
  }
  void ResetLog() override { reset_pending_ = true; }
  PasswordMode GetPasswordMode() override { return options_.password_mode; }
  std::string SuffixText() override { return options_.suffix; }
  std::string CommonPasswordText() override { return options_.password; }
  void ShowMessage(const std::string& text) override {
    if (text == texts_.success_installed || text == texts_.success_temporary ||
        text == texts_.verify_passed || text == texts_.preview_done) {
      return;
    }
    host_->ShowMessage(text);
  }
  SourceDomainList* GetSourceDomains() override { return &domains_; }

  const std::vector<std::string>& lines() const { return lines_; }

 private:
  void Settle() {
    if (!reset_pending_) return;
    reset_pending_ = false;
    lines_.clear();
    host_->ResetLog();
  }

  RunHost* host_;
  const Texts& texts_;
  const SessionOptions& options_;
  bool reset_pending_ = false;
  std::vector<std::string> lines_;
  SourceDomainList domains_;
};

// A host that reads the source lists and nothing else.
class QuietHost : public RunHost {
 public:
  void SetStartCaption(const std::string&) override {}
  void EnableStart(bool) override {}
  int AppendLogLine(const std::string&) override { return 0; }
  void RemoveLastLine() override {}
  void SelectLastLine() override {}
  int LineCount() override { return 0; }
  void ResetLog() override {}
  PasswordMode GetPasswordMode() override {
    return PasswordMode::kSameAsUserName;
  }
  std::string SuffixText() override { return std::string(); }
  std::string CommonPasswordText() override { return std::string(); }
  void ShowMessage(const std::string&) override {}
  SourceDomainList* GetSourceDomains() override { return &domains_; }

 private:
  SourceDomainList domains_;
};

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

// The verification a session does: 0 none, 1 by size, 2 by content.
VerifyMode VerifyLevel(const SessionOptions& options) {
  if (options.kind == SessionKind::kPreview) return VerifyMode::kNone;
  if (options.verify != VerifyMode::kNone) return options.verify;
  return options.kind == SessionKind::kVerify ? VerifyMode::kSize
                                              : VerifyMode::kNone;
}

std::string Megabytes(uint64_t bytes) {
  char text[40];
  std::snprintf(text, sizeof(text), "%.1f MB", bytes / 1048576.0);
  return text;
}

}  // namespace

bool IsInsideDirectory(const std::string& dir, const std::string& parent,
                       const NameOps& names) {
  if (parent.empty()) return false;
  std::string d = names.Fold(dir), p = names.Fold(parent);
  while (!p.empty() && p.back() == '\\') p.pop_back();
  return d == p || (d.size() > p.size() && d.compare(0, p.size(), p) == 0 &&
                    d[p.size()] == '\\');
}

bool MayHoldRecords(const std::string& dir, const AppState& state,
                    const NameOps& names) {
  if (dir.empty()) return false;
  for (const std::string* installation :
       {&state.source_dir, &state.target_dir, &state.source_mail_dir,
        &state.target_mail_dir}) {
    if (IsInsideDirectory(dir, *installation, names)) return false;
  }
  return true;
}

std::string PasswordOptionProblem(const SessionOptions& options,
                                  const Texts& texts) {
  if (options.kind == SessionKind::kVerify) return std::string();
  const std::string* text = nullptr;
  if (options.password_mode == PasswordMode::kUserNamePlusSuffix) {
    text = &options.suffix;
  } else if (options.password_mode == PasswordMode::kCommonPassword) {
    text = &options.password;
  }
  if (text == nullptr) return std::string();
  size_t length = TrimWhiteSpace(*text).size();
  return length >= 1 && length <= kMaxPasswordTextBytes
             ? std::string()
             : texts.bad_password_text;
}

int CountExistingAccounts(const SessionEnvironment& env) {
  QuietHost host;
  NameOps names(env.code_page->LeadBytes());
  if (!LoadSourceLists(env.disk, env.state.source_dir, *env.texts, &host,
                       nullptr, nullptr, env.code_page, names)) {
    return 0;
  }
  TargetContext target;
  target.states = env.config_states;
  target.fs = env.disk;
  target.clock = env.clock;
  target.target_dir = env.state.target_dir;
  target.names = names;
  DomainStore domains(&target);
  target.primary_domain = domains.FindPrimaryDomain();
  UserStore users(&target);
  int count = 0;
  for (const SourceDomain& domain : *host.GetSourceDomains()) {
    for (const SourceAccount& account : domain.accounts) {
      if (users.UserExists(account.user_name, domain.name)) ++count;
    }
  }
  return count;
}

RunSession::RunSession(const SessionEnvironment& env, SessionOptions options,
                       ProgressModel::Listener progress_listener)
    : env_(env),
      options_(std::move(options)),
      overlay_(env.disk, NameOps(env.code_page->LeadBytes())),
      progress_(env.disk, env.state.source_dir, env.steady_seconds,
                std::move(progress_listener)),
      record_(&progress_, nullptr, NameOps(env.code_page->LeadBytes())) {}

std::string RunSession::A(const std::string& utf8) const {
  return env_.code_page->ToAnsi(utf8);
}

const SessionResult& RunSession::Run(RunHost* front_host) {
  const Texts& texts = *env_.texts;
  started_ = env_.clock->NowSeconds();
  std::string lock_error;
  if (!env_.config_states->LocksUsable(&lock_error)) {
    front_host->ShowMessage(A("无法使用配置文件锁，未开始：") + lock_error);
    return result_;
  }
  const bool writes = options_.kind == SessionKind::kMigrate;
  const TargetLockOutcome taken = TakeSessionLock(
      env_.lock_target, env_.state, writes, started_, &stop_, front_host);
  if (!taken.go) return result_;
  SessionHost host(front_host, texts, options_);
  TargetContext target;
  target.states = env_.config_states;
  target.fs = writes ? env_.disk : &overlay_;
  target.clock = env_.clock;
  target.target_dir = env_.state.target_dir;
  target.names = NameOps(env_.code_page->LeadBytes());
  RunSettings settings;
  settings.source_dir = env_.state.source_dir;
  settings.target_mail_dir = env_.state.target_mail_dir;
  settings.target_installed = env_.state.target_installed;
  settings.sync = options_.sync && options_.kind != SessionKind::kVerify;
  settings.verify = VerifyLevel(options_);
  settings.verify_only = options_.kind == SessionKind::kVerify;
  settings.code_page = env_.code_page;
  settings.jobs = options_.jobs;
  settings.preview = !writes;
  settings.stop = &stop_;
  result_.outcome = MigrationRun(&host, texts, settings, &target,
                                 &result_.stats, nullptr, &record_);
  if (!result_.outcome.loaded) return result_;

  for (const AccountRecord& a : record_.accounts()) {
    switch (a.outcome) {
      case AccountOutcome::kSkippedNoDomainLine:
      case AccountOutcome::kSkippedAliasDomain:
        ++result_.left_out;
        break;
      case AccountOutcome::kUnfinished:
        ++result_.stopped;
        break;
      case AccountOutcome::kExists:
        if (options_.kind != SessionKind::kVerify) ++result_.existing;
        break;
      default:
        break;
    }
  }
  bool fits = true;
  if (options_.kind == SessionKind::kPreview) {
    uint64_t free_bytes = 0;
    bool known =
        FreeDiskSpace(*env_.code_page, env_.state.target_mail_dir, &free_bytes);
    result_.plan = MakePlan(record_, known, free_bytes);
    fits = result_.plan.fits;
    for (const std::string& line : PlanLines(result_.plan, *env_.code_page)) {
      host.AppendLogLine(line);
    }
  }
  if (result_.existing > 0 && !settings.sync) {
    // At the switch a plain run leaves the accounts of the first run as
    // they are; their new mail needs the sync.
    host.AppendLogLine(A("目标中已存在的帐户数:") +
                       std::to_string(result_.existing) +
                       A("，未复制其新邮件；勾选“只复制新邮件”后再次开始即可"
                         "复制新邮件"));
  }
  host.SelectLastLine();
  result_.clean =
      result_.outcome.failure_lines == 0 && result_.stats.failed_copies == 0 &&
      result_.left_out == 0 && !result_.outcome.stopped && fits &&
      (options_.kind == SessionKind::kPreview || result_.outcome.succeeded);
  ended_ = env_.clock->NowSeconds();
  WriteRecords(host.lines());
  if (!result_.log_path.empty()) {
    front_host->AppendLogLine(A("运行记录已保存:") + result_.log_path);
    front_host->SelectLastLine();
  }
  progress_.Finish();
  return result_;
}

std::string RunSession::BaseName() const {
  return LocalTime(started_, true) + "-" + KindWord(options_.kind);
}

ReportHeader RunSession::Header() const {
  const CodePage& cp = *env_.code_page;
  const AppState& state = env_.state;
  ReportHeader header;
  header.version = env_.version;
  header.started = started_;
  header.ended = ended_;
  // The same keys as the command line's report, so one reader (and one
  // schema) serves both.
  const VerifyMode verify = VerifyLevel(options_);
  header.options = {{"source", cp.ToUtf8(state.source_dir)},
                    {state.target_installed ? "target" : "output",
                     cp.ToUtf8(state.target_dir)},
                    {"password_mode", PasswordModeName(options_.password_mode)},
                    {"codepage", env_.code_page_name},
                    {"verify", verify == VerifyMode::kContent ? "content"
                               : verify == VerifyMode::kSize  ? "size"
                                                              : "none"}};
  header.flags = {{"dry_run", options_.kind == SessionKind::kPreview},
                  {"sync", options_.sync},
                  {"verify_only", options_.kind == SessionKind::kVerify},
                  {"changes_only", false}};
  header.stopped = result_.outcome.stopped;
  header.stats = result_.stats;
  header.failure_lines = result_.outcome.failure_lines;
  header.succeeded = result_.clean;
  return header;
}

std::string RunSession::Report(bool json) const {
  return json ? JsonReport(Header(), record_, *env_.code_page)
              : CsvReport(record_, *env_.code_page);
}

std::string RunSession::LogText(const std::vector<std::string>& lines) const {
  const CodePage& cp = *env_.code_page;
  const AppState& state = env_.state;
  const SessionResult& r = result_;
  const char* kinds[] = {"迁移", "预览（未写入任何文件）",
                         "校验（未写入任何文件）"};
  const VerifyMode verify = VerifyLevel(options_);
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
  for (const std::string& l : lines) line(cp.ToUtf8(l));
  return text;
}

void RunSession::WriteRecords(const std::vector<std::string>& lines) {
  const NameOps names(env_.code_page->LeadBytes());
  FileSystem* disk = env_.disk;
  for (const std::string& dir : env_.record_dirs) {
    // Records never go into either installation.
    if (!MayHoldRecords(dir, env_.state, names)) continue;
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
    if (!disk->WriteFile(base + ".log", LogText(lines), &error)) {
      result_.record_error =
          base + ".log" + (error.empty() ? "" : ": " + error);
      result_.report_path.clear();
      continue;
    }
    result_.log_path = base + ".log";
    if (!disk->WriteFile(result_.report_path, Report(true), &error)) {
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

EndMessage RunSession::End() const {
  const Texts& texts = *env_.texts;
  const SessionResult& r = result_;
  EndMessage end;
  if (!r.outcome.loaded) return end;  // the run said why itself
  // Each account left out has a failure line of its own; it is counted
  // once, as left out.
  const int failures = r.outcome.failure_lines - r.left_out;
  std::string body;
  if (options_.kind == SessionKind::kPreview) {
    int accounts = 0;
    for (const PlanAccount& a : r.plan.accounts) {
      if (a.outcome == AccountOutcome::kAdded) ++accounts;
    }
    body = A("预览完成，未写入任何文件。\n将添加域名 ") +
           std::to_string(r.plan.domains_to_add.size()) + A(" 个、帐户 ") +
           std::to_string(accounts) + A(" 个，复制邮件 ") +
           std::to_string(r.plan.messages) + A(" 封（") +
           Megabytes(r.plan.bytes) + A("）。");
    if (r.plan.free_known) {
      body += A("\n目标邮件存储所在磁盘可用 ") + Megabytes(r.plan.free_bytes) +
              A("。");
    }
    if (!r.plan.fits) {
      body += A("\n\n警告：磁盘空间不足，请再腾出 ") +
              Megabytes(r.plan.bytes - r.plan.free_bytes) + A(" 后再迁移！");
    }
  } else if (r.outcome.stopped) {
    body = options_.kind == SessionKind::kVerify
               ? texts.verify_stopped
               : A("迁移已停止。已完成的帐户和邮件都已保存，再次点击“开始转移”"
                   "即可继续迁移。");
  } else if (r.clean) {
    body = options_.kind == SessionKind::kVerify ? texts.verify_passed
           : env_.state.target_installed         ? texts.success_installed
                                                 : texts.success_temporary;
  } else {
    body =
        A(options_.kind == SessionKind::kVerify ? "校验未通过。"
                                                : "迁移已结束，但未全部成功。");
  }
  if (options_.kind == SessionKind::kPreview &&
      (r.outcome.failure_lines > 0 || r.left_out > 0)) {
    body += A("\n\n迁移时将失败 ") + std::to_string(failures) +
            A(" 项，未迁移的帐户 ") + std::to_string(r.left_out) +
            A(" 个，详见结果列表。");
  } else if (!r.clean && !r.outcome.stopped &&
             options_.kind != SessionKind::kPreview) {
    body += A("\n失败 ") + std::to_string(failures) +
            A(" 项（其中复制失败的邮件 ") +
            std::to_string(r.stats.failed_copies) + A(" 封），未迁移的帐户 ") +
            std::to_string(r.left_out) + A(" 个，详见结果列表。");
  }
  if (!r.log_path.empty()) {
    body += A("\n\n运行记录：") + r.log_path + A("\n报告：") + r.report_path;
  }
  if (!r.record_error.empty()) {
    body += A("\n\n无法保存运行记录：") + r.record_error;
  }
  end.text = body;
  end.kind = r.clean && r.record_error.empty() ? MessageKind::kInformation
                                               : MessageKind::kWarning;
  return end;
}

}  // namespace vm
