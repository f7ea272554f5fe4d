#include "session/undo_session.h"

#include <nlohmann/json.hpp>
#include <utility>

#include "config/shared_config_states.h"
#include "config/target_context.h"
#include "migrate/manifest_scope.h"
#include "migrate/texts.h"
#include "platform/clock.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/helpers/overlay_file_system.h"
#include "session/run_report.h"
#include "session/startup.h"
#include "session/target_view.h"
#include "util/shown_text.h"

namespace vm {
namespace {

const char* OutcomeWord(UndoOutcome outcome) {
  switch (outcome) {
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
    case ManifestEntry::Kind::kDirectory:
      return "folder";
    case ManifestEntry::Kind::kMessageFile:
      break;
  }
  return "file";
}

}  // namespace

UndoCheck CheckUndoManifest(FileSystem* disk, const std::string& target_dir,
                            const std::string& manifest_path,
                            RunManifest* manifest, int* bad_line) {
  std::string text;
  if (!disk->ReadFile(manifest_path, &text, nullptr)) {
    return UndoCheck::kUnreadable;
  }
  switch (ReadManifest(text, manifest, bad_line)) {
    case ManifestStatus::kDamaged:
      return UndoCheck::kDamaged;
    case ManifestStatus::kUnsupportedVersion:
      return UndoCheck::kUnsupportedVersion;
    case ManifestStatus::kRead:
      break;
  }
  return ManifestIsOfTarget(disk, *manifest, target_dir)
             ? UndoCheck::kGo
             : UndoCheck::kOtherTarget;
}

std::string UndoRefusal(const Texts& texts, UndoCheck check, int bad_line,
                        const RunManifest& manifest) {
  switch (check) {
    case UndoCheck::kUnreadable:
      return texts.undo_manifest_unreadable;
    case UndoCheck::kDamaged:
      return texts.undo_manifest_damaged + std::to_string(bad_line);
    case UndoCheck::kUnsupportedVersion:
      return texts.undo_manifest_version;
    case UndoCheck::kOtherTarget:
      return texts.undo_other_target + manifest.header.target_dir;
    case UndoCheck::kGo:
      break;
  }
  return std::string();
}

UndoResult RunUndo(const UndoRequest& request, const RunManifest& recorded) {
  const NameOps names(request.code_page->LeadBytes());
  // Where the staging folders of the run's mailboxes lie, found as the
  // front ends find it for a run.
  AppState where;
  where.target_dir = request.target_dir;
  FindTargetMailDir(request.disk, *request.code_page, &where);
  const std::string store = TrimDirectory(where.target_mail_dir);
  where.target_mail_dir = store;
  // Every removal goes through the view confined to the target.
  TargetView view(request.disk);
  std::string unsafe;
  if (!view.Confine(TargetRoots(request.disk, where), &unsafe)) {
    UndoResult refused;
    refused.items.push_back({ManifestEntry::Kind::kDirectory, store,
                             UndoOutcome::kKept,
                             request.texts->target_unsafe + unsafe});
    refused.kept = 1;
    return refused;
  }
  RunManifest manifest = recorded;
  std::vector<UndoItem> outside = ScopeManifest(
      &manifest, RecordedStore(recorded, request.target_dir, store, names),
      store, names, *request.texts);
  OverlayFileSystem overlay(&view, names);
  // The stores of a dry run save into the overlay as they close; their
  // parses stay with the dry run, so that no later file system that
  // happens to get the overlay's address takes them for its own.
  SharedConfigStates dry_run_states;
  TargetContext target;
  target.fs = request.dry_run ? static_cast<FileSystem*>(&overlay) : &view;
  target.clock = SystemClock();
  target.states = request.dry_run ? &dry_run_states : request.config_states;
  target.target_dir = request.target_dir;
  target.names = names;
  UndoResult result =
      UndoRun(manifest, &target, store, *request.texts, request.dry_run,
              request.stop, kUndoJobs, request.item_handled);
  // What the undo may not touch is listed first, and keeps it incomplete.
  result.kept += static_cast<int>(outside.size());
  result.items.insert(result.items.begin(), outside.begin(), outside.end());
  return result;
}

std::vector<std::string> UndoResultLines(const Texts& texts,
                                         const std::string& manifest_path,
                                         const UndoResult& result,
                                         bool dry_run) {
  std::vector<std::string> lines{ShownText(texts.undo_begin + manifest_path)};
  for (const UndoItem& item : result.items) {
    lines.push_back(ShownText(UndoLine(texts, item, dry_run)));
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
                           const std::string& manifest_path,
                           const std::string& target_dir,
                           const UndoResult& result, bool dry_run,
                           int64_t started, bool stopped) {
  const CodePage& cp = code_page;
  nlohmann::json report;
  report["kind"] = dry_run ? "undo-preview" : "undo";
  report["started"] = IsoTime(started);
  report["manifest"] = cp.ToUtf8(manifest_path);
  report["target"] = cp.ToUtf8(target_dir);
  report["complete"] = result.complete();
  report["stopped"] = stopped;
  nlohmann::json items = nlohmann::json::array();
  for (const UndoItem& item : result.items) {
    nlohmann::json one;
    one["kind"] = KindWord(item.kind);
    one["name"] = cp.ToUtf8(item.what);
    one["outcome"] = OutcomeWord(item.outcome);
    if (!item.reason.empty()) one["reason"] = cp.ToUtf8(item.reason);
    items.push_back(std::move(one));
  }
  report["items"] = std::move(items);
  return report.dump(2) + "\n";
}

std::string UndoReportCsv(const CodePage& code_page, const UndoResult& result) {
  std::string csv = "\xEF\xBB\xBFkind,name,outcome,reason\r\n";
  for (const UndoItem& item : result.items) {
    csv += std::string(KindWord(item.kind)) + "," +
           CsvField(code_page.ToUtf8(item.what)) + "," +
           OutcomeWord(item.outcome) + "," +
           CsvField(code_page.ToUtf8(item.reason)) + "\r\n";
  }
  return csv;
}

std::string WriteUndoRecords(FileSystem* disk, const NameOps& names,
                             const AppState& state,
                             const std::vector<std::string>& dirs,
                             const std::string& base, const std::string& log,
                             const std::string& report, std::string* error) {
  for (const std::string& dir : dirs) {
    if (!MayHoldRecords(disk, dir, state)) continue;
    // Each missing folder of the path, from the top (after the drive).
    for (size_t at = names.Find(dir, '\\'); at != std::string::npos;
         at = names.Find(dir, '\\', at + 1)) {
      if (at > 0 && dir[at - 1] != ':')
        disk->CreateDir(dir.substr(0, at), nullptr);
    }
    disk->CreateDir(dir, nullptr);
    std::string path = dir + "\\" + base;
    for (int n = 2; disk->Exists(path + ".log") || disk->Exists(path + ".json");
         ++n) {
      path = dir + "\\" + base + "-" + std::to_string(n);
    }
    if (!disk->WriteFile(path + ".log", log, error)) {
      *error = path + ".log" + (error->empty() ? "" : ": " + *error);
      continue;
    }
    if (!disk->WriteFile(path + ".json", report, error)) {
      *error = path + ".json" + (error->empty() ? "" : ": " + *error);
    }
    return path + ".log";
  }
  return std::string();
}

}  // namespace vm
