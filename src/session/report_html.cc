#include "session/report_html.h"

#include <cstdio>
#include <map>

#include "migrate/outcome_table.h"
#include "migrate/texts.h"
#include "platform/code_page.h"
#include "session/progress_model.h"
#include "session/report_html_parts.h"
#include "session/run_record.h"

namespace vm {

namespace {

constexpr std::string_view kHead =
    "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
    "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src "
    "'none'; style-src 'unsafe-inline'; img-src data:\">\n"
    "<meta name=\"viewport\" content=\"width=device-width\">\n";

constexpr std::string_view kStyle = R"(<style>
body{font:14px/1.45 "Microsoft YaHei","Noto Sans CJK SC",sans-serif;
margin:1.5em auto;max-width:64em;padding:0 1em;color:#222}
h1{font-size:1.6em;margin:.2em 0}h2{font-size:1.2em;margin:1.4em 0 .4em}
.ok{color:#17612e}.bad{color:#a3201b}.note{color:#8a5a00}
dl.run{display:grid;grid-template-columns:max-content 1fr;gap:.1em 1em;margin:0}
dl.run dt{color:#555}dl.run dd{margin:0;overflow-wrap:anywhere}
.tiles{display:flex;flex-wrap:wrap;gap:.5em;margin:1em 0}
.t{border:1px solid #ccc;border-radius:6px;padding:.4em .8em;min-width:8.5em}
.t b{display:block;font-size:1.5em}.t span{color:#555;font-size:.9em}
.t.bad{border-color:#a3201b}
table{border-collapse:collapse;width:100%;margin:.4em 0}
th,td{border-bottom:1px solid #ddd;padding:.15em .4em;text-align:left;
vertical-align:top;overflow-wrap:anywhere}
td.n,th.n{text-align:right;font-variant-numeric:tabular-nums}
tr.f td:first-child{padding-left:1.6em;color:#555}
#accounts td:nth-child(n+3):nth-child(-n+6),#domains td+td{text-align:right}
summary{cursor:pointer;padding:.2em 0}svg{max-width:100%;height:auto}
svg text{font:11px sans-serif}.charts{display:flex;flex-wrap:wrap;gap:1em}
@media print{@page{size:A4;margin:14mm}body{margin:0;max-width:none;font-size:11px}
tr,.t,svg,summary{break-inside:avoid}thead{display:table-header-group}
.charts{break-before:page}}
</style>
</head>
<body>
)";

const char* KindWord(ReportKind kind) {
  switch (kind) {
    case ReportKind::kMigration:
      return "迁移";
    case ReportKind::kSync:
      return "同步";
    case ReportKind::kVerification:
      return "校验";
    case ReportKind::kUndo:
      return "撤销";
  }
  return "";
}

}  // namespace

bool Flag(const ReportHeader& header, std::string_view name) {
  for (const auto& [key, value] : header.flags) {
    if (key == name) return value;
  }
  return false;
}

std::string Option(const ReportHeader& header, std::string_view name) {
  for (const auto& [key, value] : header.options) {
    if (key == name) return value;
  }
  return std::string();
}

namespace {

// Every outcome of the table, in its order, with how many accounts had it.
using OutcomeCounts = std::array<int64_t, 16>;

struct RunSums {
  std::vector<HtmlDomainSum> domains;  // in the order the run met them
  OutcomeCounts outcomes{};
  FolderRecord all;
  int64_t attention = 0;  // accounts and domains
};

size_t OutcomeIndex(AccountOutcome outcome) {
  const auto table = AccountOutcomeTable();
  for (size_t i = 0; i < table.size(); ++i) {
    if (table[i].outcome == outcome) return i;
  }
  return 0;
}

RunSums SumRun(const RunRecord& record, const CodePage& cp) {
  RunSums sums;
  std::map<std::string, size_t> at;
  for (const AccountRecord& a : record.accounts()) {
    const auto [it, added] = at.try_emplace(a.domain, sums.domains.size());
    if (added) {
      sums.domains.emplace_back();
      sums.domains.back().name = HtmlEscaped(cp.ToUtf8(a.domain));
    }
    HtmlDomainSum& d = sums.domains[it->second];
    const FolderRecord sum = a.Sum();
    ++d.accounts;
    d.sum.Add(sum);
    sums.all.Add(sum);
    ++sums.outcomes[OutcomeIndex(a.outcome)];
    if (NeedsAttention(a)) ++sums.attention;
  }
  for (const DomainRecordOutcome& d : record.domains()) {
    if (d.outcome == DomainOutcome::kFailed) ++sums.attention;
  }
  return sums;
}

int64_t CountOf(const OutcomeCounts& counts,
                std::initializer_list<AccountOutcome> outcomes) {
  int64_t n = 0;
  for (AccountOutcome o : outcomes) n += counts[OutcomeIndex(o)];
  return n;
}

}  // namespace

void WriteHtmlHead(HtmlOut* out, std::string_view title) {
  *out << kHead << "<title>" << title << "</title>\n" << kStyle;
}

void Tile(HtmlOut* out, std::string_view key, std::string_view label,
          int64_t value, bool alarm) {
  *out << "<div class=\"t" << (alarm && value > 0 ? " bad" : "")
       << "\" data-key=\"" << key << "\" data-value=\"" << value << "\"><b>"
       << value << "</b><span>" << label << "</span></div>\n";
}

namespace {

// The run's verdict in the words the tool ends a run with.
void WriteVerdict(HtmlOut* out, const ReportHeader& h) {
  const bool preview = Flag(h, "dry_run");
  const char* verdict = h.stopped     ? "已停止"
                        : preview     ? "预览"
                        : h.succeeded ? "成功"
                                      : "未全部成功";
  const char* tone = h.stopped || preview ? "note" : h.succeeded ? "ok" : "bad";
  const std::string kind = KindWord(h.kind);
  WriteHtmlHead(out, kind + "报告：" + verdict);
  *out << "<header>\n<h1 id=\"verdict\" class=\"" << tone << "\">" << kind
       << "：" << verdict << "</h1>\n<dl class=\"run\">\n";
  const bool output = Option(h, "target").empty();
  const std::string verify = Option(h, "verify");
  const char* level = verify == "content" ? "逐字节比较"
                      : verify == "size"  ? "按大小"
                                          : "不校验";
  const std::pair<const char*, std::string> rows[] = {
      {"源（Velquor）", Option(h, "source")},
      {output ? "写入文件夹" : "目标（Tarnwick）",
       Option(h, output ? "output" : "target")},
      {"开始（UTC）", IsoTime(h.started)},
      {"结束（UTC）", IsoTime(h.ended)},
      {"用时", DurationText(static_cast<double>(h.ended - h.started))},
      {"程序版本", h.version},
      {"校验", level}};
  for (const auto& [term, value] : rows) {
    *out << "<dt>" << term << "<dd>" << HtmlEscaped(value) << "\n";
  }
  *out << "</dl>\n</header>\n";
}

void WriteTiles(HtmlOut* out, const ReportHeader& h, const RunSums& s) {
  using A = AccountOutcome;
  const OutcomeCounts& c = s.outcomes;
  *out << "<section class=\"tiles\" id=\"tiles\">\n";
  Tile(out, "domains", "加入的域名", h.stats.domain_count, false);
  Tile(out, "accounts_added", "加入的帐户",
       CountOf(c, {A::kAdded, A::kResumed}), false);
  Tile(out, "accounts_present", "目标中已有的帐户",
       CountOf(c, {A::kExists, A::kAlias, A::kSynced}), false);
  Tile(out, "accounts_failed", "失败的帐户",
       CountOf(c, {A::kFailed, A::kRefused, A::kSkippedNoDomain, A::kAbsent}),
       true);
  Tile(out, "accounts_left_out", "未迁移的帐户",
       CountOf(c, {A::kSkippedNoDomainLine, A::kSkippedAliasDomain}), true);
  if (h.stopped) {
    Tile(out, "accounts_unfinished", "未处理的帐户",
         CountOf(c, {A::kUnfinished}), true);
  }
  const FolderCounts& n = s.all.counts;
  Tile(out, "copied", Flag(h, "dry_run") ? "将复制的邮件" : "复制的邮件",
       n.copied, false);
  Tile(out, "already_present", "已在目标中的邮件", n.present, false);
  Tile(out, "failed", "复制失败的邮件", n.failed, true);
  *out << "<div class=\"t\" data-key=\"copied_bytes\" data-value=\""
       << n.copied_bytes << "\"><b>" << SizeText(n.copied_bytes)
       << "</b><span>复制的字节（" << n.copied_bytes << "）</span></div>\n";
  // Only a mirror takes anything out; other pages keep their tiles.
  if (n.removed > 0) {
    Tile(out, "removed",
         Flag(h, "dry_run") ? "将移走的邮件（源中已删除）"
                            : "移走的邮件（源中已删除）",
         n.removed, false);
  }
  if (Option(h, "verify") != "none") {
    Tile(out, "checked", "校验的邮件", s.all.checked, false);
    Tile(out, "missing", "目标中缺少的邮件", s.all.missing, true);
    Tile(out, "different", "与源不同的邮件", s.all.different, true);
  }
  *out << "</section>\n";
}

}  // namespace

std::string HtmlEscaped(std::string_view utf8) {
  std::string text;
  text.reserve(utf8.size());
  for (char c : utf8) {
    const unsigned char b = static_cast<unsigned char>(c);
    switch (c) {
      case '&':
        text += "&amp;";
        break;
      case '<':
        text += "&lt;";
        break;
      case '>':
        text += "&gt;";
        break;
      case '"':
        text += "&quot;";
        break;
      case '\'':
        text += "&#39;";
        break;
      default:
        if (b < 0x20 || b == 0x7f) {
          char code[8];
          std::snprintf(code, sizeof(code), "\\u%04x", b);
          text += code;
        } else {
          text += c;
        }
    }
  }
  return text;
}

bool WriteHtmlReport(const std::function<bool(std::string_view)>& add,
                     const ReportHeader& header, const RunRecord& record,
                     const CodePage& code_page) {
  HtmlOut out(add);
  const Texts texts = MakeTexts(code_page);
  const RunSums sums = SumRun(record, code_page);
  WriteVerdict(&out, header);
  WriteTiles(&out, header, sums);
  WriteAttention(&out, header, record, sums.attention, texts, code_page);
  out << "<section class=\"charts\">\n";
  WriteDomainCharts(&out, sums.domains);
  std::vector<std::pair<std::string, int64_t>> bars;
  const bool preview = Flag(header, "dry_run");
  for (const AccountOutcomeWords& w : AccountOutcomeTable()) {
    const int64_t n = sums.outcomes[OutcomeIndex(w.outcome)];
    if (n > 0) {
      bars.push_back({OutcomeWord(w.outcome, preview, texts, code_page), n});
    }
  }
  WriteOutcomeChart(&out, bars);
  WriteProgressChart(&out, header.progress);
  out << "</section>\n";
  WriteDomainTable(&out, sums.domains);
  WriteAccounts(&out, record, preview, texts, code_page);
  out << "</body>\n</html>\n";
  return out.ok();
}

}  // namespace vm
