// How an undo's result is told: its lines in the result list, and its
// JSON and CSV reports.

#include <nlohmann/json.hpp>
#include <utility>

#include "migrate/texts.h"
#include "platform/code_page.h"
#include "session/run_report.h"
#include "session/undo_session.h"
#include "util/shown_text.h"

namespace vm {
namespace {

const char* OutcomeWord(const UndoItem& item) {
  if (item.never_made) return "never-made";
  switch (item.outcome) {
    case UndoOutcome::kRemoved:
      return "removed";
    case UndoOutcome::kGone:
      return "gone";
    case UndoOutcome::kStopped:
      return "not-reached";
    case UndoOutcome::kKept:
      break;
  }
  return "kept";
}

const char* KindWord(ManifestEntry::Kind kind) {
  switch (kind) {
    case ManifestEntry::Kind::kDomain:
      return "domain";
    case ManifestEntry::Kind::kAccount:
      return "account";
    case ManifestEntry::Kind::kPassword:
      return "password";
    case ManifestEntry::Kind::kDirectory:
      return "folder";
    case ManifestEntry::Kind::kRemovedDir:
      return "held-folder";
    case ManifestEntry::Kind::kHeldFile:
      return "held-file";
    case ManifestEntry::Kind::kMessageFile:
      break;
  }
  return "file";
}

}  // namespace

std::vector<std::string> UndoResultLines(const Texts& texts,
                                         const std::string& manifest_path,
                                         const UndoResult& result,
                                         bool dry_run) {
  std::vector<std::string> lines{ShownText(texts.undo_begin + manifest_path)};
  for (const UndoItem& item : result.items) {
    lines.push_back(ShownText(UndoLine(texts, item, dry_run)));
  }
  for (const std::string& copy : result.unmarked) {
    lines.push_back(ShownText(texts.undo_copy_unmarked + copy));
  }
  const std::string left = std::to_string(result.kept + result.stopped);
  if (dry_run) {
    // A preview removed nothing, whatever it would keep.
    if (!result.complete()) lines.push_back(texts.undo_confirm_kept + left);
    lines.push_back(texts.undo_preview_done);
  } else {
    lines.push_back(result.complete() ? texts.undo_complete
                                      : texts.undo_incomplete + left);
  }
  return lines;
}

std::string UndoReportJson(const CodePage& code_page,
                           const std::string& manifest_shown,
                           const std::string& target_dir,
                           const UndoResult& result, bool dry_run,
                           int64_t started, bool stopped) {
  const CodePage& cp = code_page;
  nlohmann::json report;
  report["kind"] = dry_run ? "undo-preview" : "undo";
  report["started"] = IsoTime(started);
  report["manifest"] = manifest_shown;
  report["target"] = cp.ToUtf8(target_dir);
  report["complete"] = result.complete();
  report["stopped"] = stopped;
  nlohmann::json items = nlohmann::json::array();
  for (const UndoItem& item : result.items) {
    nlohmann::json one;
    one["kind"] = KindWord(item.kind);
    one["name"] = cp.ToUtf8(item.what);
    one["outcome"] = OutcomeWord(item);
    if (!item.reason.empty()) one["reason"] = cp.ToUtf8(item.reason);
    items.push_back(std::move(one));
  }
  report["items"] = std::move(items);
  if (!result.unmarked.empty()) {
    nlohmann::json unmarked = nlohmann::json::array();
    for (const std::string& copy : result.unmarked) {
      unmarked.push_back(cp.ToUtf8(copy));
    }
    report["unmarked"] = std::move(unmarked);
  }
  return report.dump(2) + "\n";
}

std::string UndoReportCsv(const CodePage& code_page, const UndoResult& result) {
  std::string csv = "\xEF\xBB\xBFkind,name,outcome,reason\r\n";
  for (const UndoItem& item : result.items) {
    csv += std::string(KindWord(item.kind)) + "," +
           CsvField(code_page.ToUtf8(item.what)) + "," + OutcomeWord(item) +
           "," + CsvField(code_page.ToUtf8(item.reason)) + "\r\n";
  }
  return csv;
}

}  // namespace vm
