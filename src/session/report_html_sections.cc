#include <map>

#include "migrate/outcome_table.h"
#include "migrate/texts.h"
#include "platform/code_page.h"
#include "session/report_html.h"
#include "session/report_html_parts.h"
#include "session/run_record.h"

// The HTML report's lists: what needs attention, the domains, every
// account.

namespace vm {

namespace {

// The guide's section on each kind of reason: its anchor and its title.
struct GuideSection {
  const char* anchor;
  const char* title;
};

GuideSection SectionOf(std::string_view key) {
  static const std::map<std::string_view, GuideSection> kSections = [] {
    std::map<std::string_view, GuideSection> m;
    auto put = [&m](std::initializer_list<std::string_view> keys,
                    GuideSection s) {
      for (std::string_view k : keys) m[k] = s;
    };
    put({"copy_failed", "copies_failed", "unreadable_folder",
         "unreadable_folder_list", "unreadable_index", "target_differs"},
        {"fix-copy", "5 邮件复制失败"});
    put({"mailbox_not_created", "mailbox_not_made",
         "mailbox_name_unconvertible"},
        {"fix-mailbox", "5 无法创建邮箱目录"});
    put({"account_not_added", "domain_not_added", "domain_list_unreadable",
         "account_not_saved", "domain_not_saved", "not_migrated"},
        {"fix-config", "5 配置文件无法读写"});
    put({"unsafe_folder_name", "unsafe_mailbox_name", "unsafe_domain_name",
         "name_has_control", "name_has_nul", "name_refused"},
        {"fix-names", "5 名称不能使用"});
    put({"name_too_long"}, {"fix-long-names", "5 名称超过64字节"});
    put({"verification_failed", "account_absent"},
        {"fix-verify", "5 校验未通过"});
    put({"no_domain_line", "alias_domain", "no_domain"},
        {"fix-left-out", "5 未迁移的帐户"});
    put({"run_stopped"}, {"resume", "7 中断后如何继续"});
    return m;
  }();
  const auto found = kSections.find(key);
  return found != kSections.end()
             ? found->second
             : GuideSection{"failed-line", "5 某一行报告失败时怎么办"};
}

// Failed, refused, left out, absent or not reached.
bool OutcomeNeedsAttention(AccountOutcome outcome) {
  switch (outcome) {
    case AccountOutcome::kAdded:
    case AccountOutcome::kResumed:
    case AccountOutcome::kSynced:
    case AccountOutcome::kExists:
    case AccountOutcome::kAlias:
      return false;
    default:
      return true;
  }
}

// "SECTION TITLE" as a link to the guide, or as text without one.
void GuideLink(HtmlOut* out, const std::string& guide, std::string_view key) {
  const GuideSection s = SectionOf(key);
  if (guide.empty()) {
    *out << "用户指南 " << s.title;
  } else {
    *out << "<a href=\"" << HtmlEscaped(guide) << "#" << s.anchor
         << "\">用户指南 " << s.title << "</a>";
  }
}

void AttentionRow(HtmlOut* out, const std::string& what, std::string_view word,
                  const std::string& reason, const std::string& guide,
                  std::string_view key) {
  *out << "<tr><td>" << what << "<td>" << word << "<td>" << reason << "<td>";
  GuideLink(out, guide, key);
  *out << "\n";
}

// The account's folders that failed a copy or a check.
void FolderAttention(HtmlOut* out, const AccountRecord& a,
                     const std::string& who, const std::string& guide,
                     const CodePage& cp) {
  for (const FolderRecord& f : a.folders) {
    const std::string what =
        who + " / " + HtmlEscaped(cp.ToUtf8(f.counts.name));
    if (f.counts.failed > 0) {
      AttentionRow(out, what, "复制失败",
                   std::to_string(f.counts.failed) + " 封邮件未能复制", guide,
                   "copy_failed");
    }
    if (f.verified && (f.missing > 0 || f.different > 0)) {
      AttentionRow(out, what, "校验未通过",
                   "目标中缺少 " + std::to_string(f.missing) + " 封，不同 " +
                       std::to_string(f.different) + " 封",
                   guide, "verification_failed");
    }
  }
}

// A verified account's and folder's word.
const char* CheckWord(const FolderRecord& f) {
  if (!f.verified) return "";
  return f.missing == 0 && f.different == 0 ? "通过" : "未通过";
}

void CountCells(HtmlOut* out, const FolderRecord& f) {
  *out << "<td>" << f.counts.messages << "<td>" << f.counts.copied << "<td>"
       << f.counts.present << "<td>" << f.counts.failed << "<td>"
       << CheckWord(f);
}

}  // namespace

bool NeedsAttention(const AccountRecord& a) {
  if (OutcomeNeedsAttention(a.outcome)) return true;
  for (const FolderRecord& f : a.folders) {
    if (f.counts.failed > 0 || f.missing > 0 || f.different > 0) return true;
  }
  return false;
}

std::string OutcomeWord(AccountOutcome outcome, bool preview,
                        const Texts& texts, const CodePage& cp) {
  if (preview) return HtmlEscaped(cp.ToUtf8(texts.*WordsOf(outcome).plan_text));
  using A = AccountOutcome;
  switch (outcome) {
    case A::kAdded:
      return "已加入";
    case A::kResumed:
      return "已补完上次中断的迁移";
    case A::kSynced:
      return "已同步新邮件";
    case A::kExists:
      return "已存在，未改动";
    case A::kAlias:
      return "已有同名别名，未迁移";
    case A::kRefused:
      return "名称不能使用，未迁移";
    case A::kFailed:
      return "失败";
    case A::kSkippedNoDomainLine:
      return "未迁移：其域名不在domain.ini中";
    case A::kSkippedAliasDomain:
      return "未迁移：目标中其域名只是别名域";
    case A::kSkippedNoDomain:
      return "未迁移：目标中没有其域名";
    case A::kAbsent:
      return "目标中没有";
    case A::kUnfinished:
      return "已停止，未处理";
  }
  return "";
}

void WriteAttention(HtmlOut* out, const ReportHeader& header,
                    const RunRecord& record, int64_t items, const Texts& texts,
                    const CodePage& cp) {
  const bool preview = Flag(header, "dry_run");
  *out << "<section id=\"attention\">\n<h2>需要处理的项目</h2>\n";
  if (items == 0) {
    *out << "<p class=\"ok\">没有需要处理的项目。</p>\n</section>\n";
    return;
  }
  *out << "<table>\n<thead><tr><th>项目<th>结果<th>原因<th>说明</thead>\n"
          "<tbody>\n";
  for (const DomainRecordOutcome& d : record.domains()) {
    if (d.outcome != DomainOutcome::kFailed) continue;
    const OutcomeReason why = DomainReason(texts, d.outcome, d.reason);
    AttentionRow(out, "域名 " + HtmlEscaped(cp.ToUtf8(d.name)), "失败",
                 HtmlEscaped(cp.ToUtf8(why.text)), header.guide, why.key);
  }
  for (const AccountRecord& a : record.accounts()) {
    const std::string who = HtmlEscaped(cp.ToUtf8(a.user + "@" + a.domain));
    if (!NeedsAttention(a)) continue;
    if (OutcomeNeedsAttention(a.outcome)) {
      const OutcomeReason why = AccountReason(texts, a.outcome, a.reason);
      AttentionRow(out, who, OutcomeWord(a.outcome, preview, texts, cp),
                   HtmlEscaped(cp.ToUtf8(why.text)), header.guide, why.key);
    }
    FolderAttention(out, a, who, header.guide, cp);
  }
  *out << "</tbody>\n</table>\n</section>\n";
}

void WriteDomainTable(HtmlOut* out, const std::vector<HtmlDomainSum>& domains) {
  *out << "<section id=\"domains\">\n<h2>各域名</h2>\n<table>\n<thead><tr>"
          "<th>域名<th>帐户<th>源邮件<th>复制的邮件<th>已在目标中<th>复制失败"
          "<th>复制的字节</thead>\n<tbody>\n";
  for (const HtmlDomainSum& d : domains) {
    const FolderCounts& n = d.sum.counts;
    *out << "<tr><td>" << d.name << "<td>" << d.accounts << "<td>" << n.messages
         << "<td>" << n.copied << "<td>" << n.present << "<td>" << n.failed
         << "<td>" << n.copied_bytes << "\n";
  }
  *out << "</tbody>\n</table>\n</section>\n";
}

void WriteAccounts(HtmlOut* out, const RunRecord& record, bool preview,
                   const Texts& texts, const CodePage& cp) {
  *out << "<section id=\"accounts\">\n<h2>全部帐户</h2>\n";
  bool open = false;
  std::string domain;
  for (const AccountRecord& a : record.accounts()) {
    if (!open || a.domain != domain) {
      if (open) *out << "</tbody></table></details>\n";
      domain = a.domain;
      open = true;
      *out << "<details><summary>" << HtmlEscaped(cp.ToUtf8(domain))
           << "</summary><table><thead><tr><th>帐户 / 文件夹<th>结果<th>源邮件"
              "<th>复制<th>已在目标中<th>失败<th>校验<th>原因</thead><tbody>\n";
    }
    const OutcomeReason why = AccountReason(texts, a.outcome, a.reason);
    *out << "<tr class=\"a\"><td>" << HtmlEscaped(cp.ToUtf8(a.user)) << "<td>"
         << OutcomeWord(a.outcome, preview, texts, cp);
    CountCells(out, a.Sum());
    *out << "<td>" << HtmlEscaped(cp.ToUtf8(why.text)) << "\n";
    for (const FolderRecord& f : a.folders) {
      *out << "<tr class=\"f\"><td>" << HtmlEscaped(cp.ToUtf8(f.counts.name))
           << "<td>";
      CountCells(out, f);
      *out << "\n";
    }
  }
  if (open) *out << "</tbody></table></details>\n";
  *out << "</section>\n";
}

}  // namespace vm
