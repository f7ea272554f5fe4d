#include "console/undo_console.h"

#include <nlohmann/json.hpp>
#include <utility>

#include "console/command_line.h"
#include "console/console_app.h"
#include "console/console_setup.h"
#include "session/manifest_file.h"
#include "session/run_report.h"
#include "session/startup.h"
#include "session/target_lock.h"
#include "config/shared_config_states.h"
#include "config/target_context.h"
#include "migrate/texts.h"
#include "migrate/undo_run.h"
#include "platform/clock.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/helpers/overlay_file_system.h"

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

// What the undo needs settled before it may touch the target.
struct UndoSetup {
  std::unique_ptr<CodePage> code_page;
  std::unique_ptr<FileSystem> disk;
  Texts texts;
  AppState state;
  std::string manifest_path;  // ANSI
  RunManifest manifest;
};

// Checks the options, reads the manifest and checks it is the target's.
// Returns -1 when the undo may go, else the exit status (message said).
int PrepareUndo(const CommandLine& options, const ConsoleIo& io, UndoSetup* u) {
  u->code_page = OpenCodePage(options.code_page);
  if (u->code_page) u->disk = io.open_file_system(options.code_page);
  if (!u->code_page || !u->disk) {
    return UsageError(io, "unknown code page: " + options.code_page);
  }
  const CodePage& cp = *u->code_page;
  u->texts = MakeTexts(cp);
  u->state.target_installed = !options.target_dir.empty();
  const std::string& shown =
      u->state.target_installed ? options.target_dir : options.output_dir;
  u->state.target_dir = cp.ToAnsi(shown);
  while (u->state.target_dir.size() > 1 &&
         (u->state.target_dir.back() == '/' ||
          u->state.target_dir.back() == '\\')) {
    u->state.target_dir.pop_back();
  }
  if (!IsDirectory(u->disk.get(), u->state.target_dir)) {
    return UsageError(io, "target directory not found: " + shown);
  }
  u->manifest_path = cp.ToAnsi(options.undo_manifest);
  std::string text;
  if (!u->disk->ReadFile(u->manifest_path, &text, nullptr)) {
    io.err(cp.ToUtf8(u->texts.undo_manifest_unreadable) +
           options.undo_manifest + "\n");
    return kExitFailure;
  }
  int bad_line = 0;
  switch (ReadManifest(text, &u->manifest, &bad_line)) {
    case ManifestStatus::kDamaged:
      io.err(cp.ToUtf8(u->texts.undo_manifest_damaged) +
             std::to_string(bad_line) + "\n");
      return kExitFailure;
    case ManifestStatus::kUnsupportedVersion:
      io.err(cp.ToUtf8(u->texts.undo_manifest_version) + "\n");
      return kExitFailure;
    case ManifestStatus::kRead:
      break;
  }
  if (!ManifestIsOfTarget(u->disk.get(), u->manifest, u->state.target_dir)) {
    io.err(
        cp.ToUtf8(u->texts.undo_other_target + u->manifest.header.target_dir) +
        "\n");
    return kExitFailure;
  }
  return -1;
}

std::string UndoReport(const UndoSetup& u, const UndoResult& result,
                       bool dry_run, int64_t started) {
  const CodePage& cp = *u.code_page;
  nlohmann::json report;
  report["kind"] = dry_run ? "undo-preview" : "undo";
  report["started"] = IsoTime(started);
  report["manifest"] = cp.ToUtf8(u.manifest_path);
  report["target"] = cp.ToUtf8(u.state.target_dir);
  report["complete"] = result.complete();
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

// The result list: a head line, one line per item, the summary.
std::vector<std::string> UndoLines(const UndoSetup& u, const UndoResult& result,
                                   bool dry_run) {
  std::vector<std::string> lines{u.texts.undo_begin + u.manifest_path};
  for (const UndoItem& item : result.items) {
    lines.push_back(UndoLine(u.texts, item));
  }
  if (!result.complete()) {
    lines.push_back(u.texts.undo_incomplete +
                    std::to_string(result.kept + result.stopped));
  } else {
    lines.push_back(dry_run ? u.texts.undo_preview_done
                            : u.texts.undo_complete);
  }
  return lines;
}

bool WriteRecords(const CommandLine& options, const ConsoleIo& io,
                  const UndoSetup& u, const std::string& list,
                  const std::string& report) {
  const CodePage& cp = *u.code_page;
  bool ok = true;
  if (!options.log_file.empty() &&
      !u.disk->AppendFile(cp.ToAnsi(options.log_file), list, nullptr)) {
    io.err("velquor-migrate: cannot write the log " + options.log_file + "\n");
    ok = false;
  }
  if (!options.report_file.empty() &&
      !u.disk->ReplaceContents(cp.ToAnsi(options.report_file), report,
                               nullptr)) {
    io.err("velquor-migrate: cannot write the report " + options.report_file +
           "\n");
    ok = false;
  }
  return ok;
}

}  // namespace

int RunUndoConsole(const CommandLine& options, const ConsoleIo& io,
                   int64_t started) {
  UndoSetup u;
  const int status = PrepareUndo(options, io, &u);
  if (status >= 0) return status;
  const CodePage& cp = *u.code_page;
  std::unique_ptr<RunLock> lock;
  if (io.open_run_lock) {
    TargetLockRequest request =
        TargetLockRequestFor(u.state, !options.dry_run, "console", started);
    request.open = io.open_run_lock;
    auto busy = [&](const std::string& holder) -> int64_t {
      if (options.wait_seconds > 0) {
        io.err(cp.ToUtf8(u.texts.run_lock_waiting + holder) + "\n");
      }
      return options.wait_seconds;
    };
    TargetLockOutcome taken =
        TakeTargetLock(request, cp, u.texts, busy, nullptr);
    if (!taken.go) {
      io.err(cp.ToUtf8(taken.message) + "\n");
      return kExitFailure;
    }
    lock = std::move(taken.lock);
  }
  // A dry run reads through an overlay, so not even a store's save could
  // reach the disk.
  OverlayFileSystem overlay(u.disk.get(), NameOps(cp.LeadBytes()));
  TargetContext target;
  target.fs =
      options.dry_run ? static_cast<FileSystem*>(&overlay) : u.disk.get();
  target.clock = SystemClock();
  target.states = io.config_states;
  target.target_dir = u.state.target_dir;
  target.names = NameOps(cp.LeadBytes());
  const UndoResult result =
      UndoRun(u.manifest, &target, u.texts, options.dry_run, nullptr);
  std::string list;
  for (const std::string& line : UndoLines(u, result, options.dry_run)) {
    list += cp.ToUtf8(line) + "\n";
  }
  bool ok = io.out(list);
  if (!ok) io.err("velquor-migrate: the result list could not be written\n");
  ok = WriteRecords(options, io, u, list,
                    UndoReport(u, result, options.dry_run, started)) &&
       ok;
  return ok && result.complete() ? kExitSuccess : kExitFailure;
}

std::unique_ptr<ManifestFile> WritingRunManifest(const ConsoleSetup& setup,
                                                 bool writes, int64_t started) {
  if (!writes) return nullptr;
  return std::make_unique<ManifestFile>(setup.disk.get(), *setup.code_page,
                                        setup.options, setup.state, started);
}

}  // namespace vm
