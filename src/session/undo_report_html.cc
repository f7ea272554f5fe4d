#include "session/undo_report_html.h"

#include <map>
#include <vector>

#include "platform/code_page.h"
#include "session/progress_model.h"
#include "session/report_html.h"
#include "session/report_html_parts.h"
#include "session/run_report.h"

namespace vm {
namespace {

using Kind = ManifestEntry::Kind;

const char* KindWord(Kind kind) {
  switch (kind) {
    case Kind::kDomain:
      return "域名";
    case Kind::kAccount:
      return "帐户";
    case Kind::kPassword:
      return "密码";
    case Kind::kDirectory:
      return "文件夹";
    case Kind::kRemovedDir:
      return "移走的文件夹";
    case Kind::kHeldFile:
      return "移走的邮件文件";
    case Kind::kMessageFile:
      break;
  }
  return "邮件文件";
}

// The item's outcome in the words of the result list, without its colon.
const char* OutcomeWord(const UndoItem& item, bool preview) {
  if (item.kind == Kind::kPassword && item.outcome == UndoOutcome::kRemoved) {
    return preview ? "将恢复原密码" : "已恢复原密码";
  }
  if (item.never_made) return "运行中断前未创建";
  switch (item.outcome) {
    case UndoOutcome::kRemoved:
      return preview ? "将删除" : "已删除";
    case UndoOutcome::kGone:
      return "已不存在";
    case UndoOutcome::kStopped:
      return "未处理";
    case UndoOutcome::kKept:
      break;
  }
  return preview ? "将保留" : "已保留";
}

void WriteVerdict(HtmlOut* out, const UndoPageHeader& h,
                  const UndoResult& result) {
  const char* verdict = h.stopped           ? "已停止"
                        : h.dry_run         ? "预览"
                        : result.complete() ? "撤销完成"
                                            : "撤销未完成";
  const char* tone = h.stopped || h.dry_run ? "note"
                     : result.complete()    ? "ok"
                                            : "bad";
  WriteHtmlHead(out, std::string("撤销报告：") + verdict);
  // The undo's own words name it already, the others are a run's.
  const std::string shown = h.stopped || h.dry_run
                                ? std::string("撤销：") + verdict
                                : std::string(verdict);
  *out << "<header>\n<h1 id=\"verdict\" class=\"" << tone << "\">" << shown
       << "</h1>\n<dl class=\"run\">\n";
  const std::pair<const char*, std::string> rows[] = {
      {"类型", h.dry_run ? "撤销预览（undo-preview）" : "撤销（undo）"},
      {"目标（Tarnwick）", h.target},
      {"运行清单", h.manifest},
      {"开始（UTC）", IsoTime(h.started)},
      {"结束（UTC）", IsoTime(h.ended)},
      {"用时", DurationText(static_cast<double>(h.ended - h.started))},
      {"程序版本", h.version}};
  for (const auto& [term, value] : rows) {
    *out << "<dt>" << term << "<dd>" << HtmlEscaped(value) << "\n";
  }
  *out << "</dl>\n</header>\n";
}

void WriteTiles(HtmlOut* out, const UndoPageHeader& h, const UndoResult& r) {
  int64_t never_made = 0;
  for (const UndoItem& item : r.items) never_made += item.never_made ? 1 : 0;
  *out << "<section class=\"tiles\" id=\"tiles\">\n";
  Tile(out, "removed", h.dry_run ? "将删除" : "已删除", r.removed, false);
  Tile(out, "gone", "已不存在", r.gone - never_made, false);
  Tile(out, "never_made", "运行中断前未创建", never_made, false);
  Tile(out, "kept", h.dry_run ? "将保留" : "已保留", r.kept - r.outside, true);
  Tile(out, "not_reached", "未处理", r.stopped, true);
  Tile(out, "outside", "不在目标之内", r.outside, true);
  *out << "</section>\n";
}

void ItemRow(HtmlOut* out, const UndoItem& item, bool preview,
             const CodePage& cp) {
  *out << "<tr><td>" << HtmlEscaped(cp.ToUtf8(item.what)) << "<td>"
       << KindWord(item.kind) << "<td>" << OutcomeWord(item, preview) << "<td>"
       << HtmlEscaped(cp.ToUtf8(item.reason)) << "\n";
}

constexpr std::string_view kItemHead =
    "<thead><tr><th>项目<th>类型<th>结果<th>原因</thead>\n";

// Each kept item with its reason: what an administrator looks at first.
void WriteAttention(HtmlOut* out, const UndoResult& r, bool preview,
                    const CodePage& cp) {
  *out << "<section id=\"attention\">\n<h2>需要先处理的项目（"
       << int64_t{r.kept} << "）</h2>\n";
  if (r.kept == 0) {
    *out << "<p class=\"ok\">没有保留的项目。</p>\n</section>\n";
    return;
  }
  *out << "<table>\n" << kItemHead << "<tbody>\n";
  for (const UndoItem& item : r.items) {
    if (item.outcome == UndoOutcome::kKept) ItemRow(out, item, preview, cp);
  }
  *out << "</tbody>\n</table>\n</section>\n";
}

// Every item, a section per account in the order the undo met them; the
// domains and what belongs to no account after them.
void WriteItems(HtmlOut* out, const UndoResult& r, bool preview,
                const CodePage& cp) {
  std::vector<std::string> order;
  std::map<std::string, std::vector<const UndoItem*>> groups;
  std::vector<const UndoItem*> domains;
  std::vector<const UndoItem*> others;
  for (const UndoItem& item : r.items) {
    if (item.kind == Kind::kDomain) {
      domains.push_back(&item);
    } else if (item.account.empty()) {
      others.push_back(&item);
    } else {
      auto& group = groups[item.account];
      if (group.empty()) order.push_back(item.account);
      group.push_back(&item);
    }
  }
  auto section = [&](const std::string& title,
                     const std::vector<const UndoItem*>& items) {
    if (items.empty()) return;
    *out << "<details><summary>" << title << "（" << int64_t(items.size())
         << " 项）</summary>\n<table>\n"
         << kItemHead << "<tbody>\n";
    for (const UndoItem* item : items) ItemRow(out, *item, preview, cp);
    *out << "</tbody>\n</table>\n</details>\n";
  };
  *out << "<section id=\"accounts\">\n<h2>各帐户的项目</h2>\n";
  for (const std::string& account : order) {
    section(HtmlEscaped(cp.ToUtf8(account)), groups[account]);
  }
  section("域名", domains);
  section("不属于任何帐户的项目", others);
  *out << "</section>\n";
}

}  // namespace

bool WriteUndoHtmlReport(const std::function<bool(std::string_view)>& add,
                         const UndoPageHeader& header, const UndoResult& result,
                         const CodePage& code_page) {
  HtmlOut out(add);
  WriteVerdict(&out, header, result);
  WriteTiles(&out, header, result);
  WriteAttention(&out, result, header.dry_run, code_page);
  WriteItems(&out, result, header.dry_run, code_page);
  out << "</body>\n</html>\n";
  return out.ok();
}

}  // namespace vm
