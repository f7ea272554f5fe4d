#include "session/undo_session.h"

#include <utility>

#include "config/config_lock.h"
#include "config/shared_config_states.h"
#include "config/target_context.h"
#include "migrate/manifest_scope.h"
#include "migrate/texts.h"
#include "migrate/undone_mark.h"
#include "platform/clock.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/helpers/overlay_file_system.h"
#include "session/record_paths.h"
#include "session/run_report.h"
#include "session/startup.h"
#include "session/sync_record_file.h"
#include "session/target_view.h"
#include "session/undo_report_html.h"
#include "util/shown_text.h"

namespace vm {

UndoCheck CheckUndoManifest(FileSystem* disk, const std::string& target_dir,
                            const std::string& manifest_path,
                            RunManifest* manifest, int* bad_line,
                            RunBytesId* id) {
  std::string text;
  if (!disk->ReadFile(manifest_path, &text, nullptr)) {
    return UndoCheck::kUnreadable;
  }
  if (id != nullptr) {
    std::string undone;
    *id = RunBytesId::Of(RunBytes(text, &undone));
  }
  switch (ReadManifest(text, manifest, bad_line)) {
    case ManifestStatus::kDamaged:
      return UndoCheck::kDamaged;
    case ManifestStatus::kUnsupportedVersion:
      return UndoCheck::kUnsupportedVersion;
    case ManifestStatus::kRead:
      break;
  }
  if (!ManifestIsOfTarget(disk, *manifest, target_dir)) {
    return UndoCheck::kOtherTarget;
  }
  return manifest->undone.empty() ? UndoCheck::kGo : UndoCheck::kUndone;
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
    case UndoCheck::kUndone:
      return texts.undo_done_already + manifest.undone;
    case UndoCheck::kGo:
      break;
  }
  return std::string();
}

namespace {

// An undo that changed nothing, for the reason `reason`, kept at the
// folder `folder`.
UndoResult Refused(const std::string& folder, const std::string& reason) {
  UndoResult refused;
  refused.items.push_back({ManifestEntry::Kind::kDirectory, folder,
                           UndoOutcome::kKept, reason, false, ""});
  refused.kept = 1;
  return refused;
}

}  // namespace

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
    return Refused(store, request.texts->target_unsafe +
                              FileErrorMessage(*request.texts, unsafe));
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
  target.lock_waits = request.lock_waits;
  target.names = names;
  // The next sync lists every mailbox: the record no longer tells what
  // this undo leaves. A record that stays could let a sync leave unlooked
  // at what the undo changes, so nothing is changed then.
  std::string record, unremoved;
  if (!request.dry_run &&
      !SyncRecordFile::Forget(&view, request.target_dir, &record, &unremoved)) {
    // The item is the folder that holds it; the reason names the file.
    return Refused(record.substr(0, record.rfind('\\')),
                   request.texts->sync_record_unremoved +
                       FileErrorMessage(*request.texts, unremoved));
  }
  UndoResult result =
      UndoRun(manifest, &target, store, *request.texts, request.dry_run,
              request.stop, kUndoJobs, request.item_handled);
  // What the undo may not touch is listed first, and keeps it incomplete.
  result.kept += static_cast<int>(outside.size());
  result.outside = static_cast<int>(outside.size());
  result.items.insert(result.items.begin(), outside.begin(), outside.end());
  return result;
}

UndoSession::UndoSession(const SessionEnvironment& env, UndoOptions options)
    : env_(env), options_(std::move(options)) {}

// The manifest is read and judged before the target's lock is taken: a
// refused undo looks at nothing of the target.
bool UndoSession::Check(RunHost* host) {
  manifest_shown_ =
      ShownRecordPath(*env_.disk, *env_.code_page, options_.manifest_path);
  int bad_line = 0;
  const UndoCheck check = CheckUndoManifest(env_.disk, env_.state.target_dir,
                                            options_.manifest_path, &manifest_,
                                            &bad_line, &run_id_);
  if (check == UndoCheck::kGo &&
      !ManifestCodePageAgrees(manifest_, env_.code_page_name)) {
    // Its names would be read as other names: "gone" mail, kept items.
    refusal_ = env_.texts->undo_codepage_differs + env_.code_page_name +
               env_.texts->undo_codepage_manifest + manifest_.header.code_page;
    host->ShowMessage(MessageKind::kError, refusal_);
    return false;
  }
  if (check == UndoCheck::kGo) {
    if (options_.items_known) {
      options_.items_known(static_cast<int>(manifest_.entries.size()));
    }
    return true;
  }
  // An undone run's undo goes on to say so, and does nothing more.
  if (check == UndoCheck::kUndone) return true;
  Refuse(host, check, bad_line);
  return false;
}

void UndoSession::Refuse(RunHost* host, UndoCheck check, int bad_line) {
  refusal_ = UndoRefusal(*env_.texts, check, bad_line, manifest_) +
             (check == UndoCheck::kUnreadable ? options_.manifest_path : "");
  host->ShowMessage(MessageKind::kError, refusal_);
}

// Once the lock is held: another undo of the run, through this copy or
// another, may have ended while this one waited. The manifest is read
// again, and so are the run's copies in the runs folder; when one says
// the run was undone, manifest_.undone says when.
bool UndoSession::Reread(RunHost* host) {
  int bad_line = 0;
  const UndoCheck check = CheckUndoManifest(env_.disk, env_.state.target_dir,
                                            options_.manifest_path, &manifest_,
                                            &bad_line, &run_id_);
  if (check == UndoCheck::kUndone) return true;
  if (check != UndoCheck::kGo) {
    Refuse(host, check, bad_line);
    return false;
  }
  manifest_.undone = UndoneInRunsFolder(env_.disk, *env_.code_page,
                                        env_.state.target_dir, run_id_);
  return true;
}

namespace {

// Says on the host, as a run does, when another program keeps a
// configuration file's lock: an undo never waits in silence.
class UndoLockNotices : public LockWaitListener {
 public:
  UndoLockNotices(RunHost* host, const Texts& texts)
      : host_(host), texts_(texts) {}
  void LockWaiting(const std::string& file_name,
                   const std::string& where) override {
    host_->ShowMessage(MessageKind::kNotice,
                       texts_.lock_waiting + file_name + " (" + where + ")");
  }
  void LockGivenUp(const std::string& file_name,
                   const std::string& where) override {
    host_->ShowMessage(MessageKind::kNotice,
                       texts_.lock_given_up + file_name + " (" + where + ")");
  }

 private:
  RunHost* host_;
  const Texts& texts_;
};

}  // namespace

UndoResult UndoSession::Remove(bool dry_run, RunHost* host) {
  UndoLockNotices notices(host, *env_.texts);
  UndoRequest request;
  request.lock_waits = &notices;
  request.disk = env_.disk;
  request.code_page = env_.code_page;
  request.texts = env_.texts;
  request.config_states = env_.config_states;
  request.target_dir = env_.state.target_dir;
  request.dry_run = dry_run;
  request.stop = &stop_;
  request.item_handled = options_.item_handled;
  return RunUndo(request, manifest_);
}

void UndoSession::Show(RunHost* host, bool dry_run) {
  // The list names the manifest where it lies, as the reports do, not as
  // the working folder of the moment spelled it.
  const std::string manifest =
      env_.disk->DisplayPath(env_.disk->AbsolutePath(options_.manifest_path));
  lines_ = UndoResultLines(*env_.texts, manifest, result_, dry_run);
  for (const std::string& line : lines_) host->AppendLogLine(line);
}

void UndoSession::Run(RunHost* host) {
  started_at_ = env_.clock->NowSeconds();
  if (!Check(host)) return;
  // A preview that asks before it removes holds the lock as the undo
  // would, so that what it showed is what the undo finds.
  const bool writes = !options_.dry_run || options_.confirm != nullptr;
  const TargetLockOutcome lock =
      TakeSessionLock(env_.lock_target, env_.disk, env_.state, writes,
                      started_at_, &stop_, host);
  if (!lock.go) {
    refusal_ = lock.message;
    if (stop_.requested()) end_ = RunEnd::kStopped;
    return;
  }
  if (!Reread(host)) return;
  started_ = true;
  host->ResetLog();
  if (!manifest_.undone.empty()) {
    // Undone already, maybe through another copy: nothing is looked at,
    // and the list says when.
    const std::string manifest =
        env_.disk->DisplayPath(env_.disk->AbsolutePath(options_.manifest_path));
    lines_ = {
        ShownText(env_.texts->undo_begin + manifest),
        ShownText(UndoRefusal(*env_.texts, UndoCheck::kUndone, 0, manifest_))};
    for (const std::string& line : lines_) host->AppendLogLine(line);
    Finish();
    return;
  }
  bool dry_run = options_.dry_run;
  if (options_.confirm && !dry_run) {
    result_ = Remove(true, host);
    Show(host, true);
    if (stop_.requested() || !options_.confirm(result_)) {
      // Nothing was removed; the list keeps the preview.
      declined_ = true;
      end_ = stop_.requested() ? RunEnd::kStopped : RunEnd::kFailed;
      return;
    }
    host->ResetLog();
  }
  result_ = Remove(dry_run, host);
  if (!dry_run && !stop_.requested() && result_.complete()) {
    result_.unmarked = MarkRunUndone(
        env_.disk, *env_.code_page, env_.state.target_dir,
        options_.manifest_path, run_id_, IsoTime(started_at_), *env_.texts);
  }
  Show(host, dry_run);
  Finish();
}

void UndoSession::Finish() {
  end_ = stop_.requested()    ? RunEnd::kStopped
         : result_.complete() ? RunEnd::kSucceeded
                              : RunEnd::kFailed;
  ended_at_ = env_.clock->NowSeconds();
  WriteRecords();
  if (options_.records && !options_.records(*this)) records_failed_ = true;
}

std::string UndoSession::LogText(int status, const std::string& report) const {
  const CodePage& cp = *env_.code_page;
  auto shown = [this, &cp](const std::string& ansi) {
    return ansi.empty() ? ansi : cp.ToUtf8(env_.disk->DisplayPath(ansi));
  };
  LogHead head;
  head.version = env_.version;
  head.started = started_at_;
  head.command = options_.shown_command;
  head.kind = options_.dry_run ? "undo-preview" : "undo";
  head.lines = {{env_.state.target_installed ? "target" : "output",
                 shown(env_.state.target_dir)},
                {"target mail", shown(env_.state.target_mail_dir)},
                {"manifest", manifest_shown_}};
  std::string list;
  for (const std::string& line : lines_) list += cp.ToUtf8(line) + "\n";
  int never_made = 0;
  for (const UndoItem& item : result_.items) never_made += item.never_made;
  const std::vector<LogLine> tail = {
      {"counts", "removed " + std::to_string(result_.removed) + ", gone " +
                     std::to_string(result_.gone - never_made) +
                     ", never made " + std::to_string(never_made) + ", kept " +
                     std::to_string(result_.kept) + ", not reached " +
                     std::to_string(result_.stopped)},
      {"report", report}};
  return RunLogHeader(head) + list + RunLogEnd(tail, ended_at_, end_, status);
}

std::string UndoSession::Report(ReportFormat format) const {
  switch (format) {
    case ReportFormat::kCsv:
      return UndoReportCsv(*env_.code_page, result_);
    case ReportFormat::kJson:
      return UndoReportJson(*env_.code_page, manifest_shown_,
                            env_.state.target_dir, result_, options_.dry_run,
                            started_at_, end_ == RunEnd::kStopped);
    case ReportFormat::kHtml:
      break;
  }
  std::string page;
  WriteUndoHtmlReport(
      [&page](std::string_view text) {
        page += text;
        return true;
      },
      PageHeader(), result_, *env_.code_page);
  return page;
}

UndoPageHeader UndoSession::PageHeader() const {
  UndoPageHeader header;
  header.version = env_.version;
  header.started = started_at_;
  header.ended = ended_at_;
  header.target = env_.shown_target.empty()
                      ? env_.code_page->ToUtf8(env_.state.target_dir)
                      : env_.shown_target;
  header.manifest = manifest_shown_;
  header.dry_run = options_.dry_run || declined_;
  header.stopped = end_ == RunEnd::kStopped;
  return header;
}

bool UndoSession::WriteReport(FileSystem* fs, const std::string& path,
                              ReportFormat format, std::string* error) const {
  if (format != ReportFormat::kHtml) {
    return fs->ReplaceContents(path, Report(format), error);
  }
  return WritePiecesFile(
      fs, path,
      [this](const ReportAdd& add) {
        return WriteUndoHtmlReport(add, PageHeader(), result_, *env_.code_page);
      },
      error);
}

// A front end that names record folders (the dialog) gets the log and the
// JSON report there, beside its runs' records.
void UndoSession::WriteRecords() {
  if (env_.record_dirs.empty()) return;
  // The dialog has no exit status.
  constexpr int kNoStatus = -1;
  const std::string base = RecordBaseName(started_at_, "undo");
  const CodePage& cp = *env_.code_page;
  const RecordFolderFiles files = WriteRecordFolder(
      env_.disk, NameOps(cp.LeadBytes()), env_.state, env_.record_dirs, base,
      [this, &cp](const std::string& json) {
        return LogText(kNoStatus, ShownRecordPath(*env_.disk, cp, json));
      },
      [this](const std::string& path, ReportFormat format, std::string* error) {
        return WriteReport(env_.disk, path, format, error);
      });
  log_path_ = files.log;
  html_path_ = files.html;
  record_error_ = files.error;
  if (log_path_.empty() && record_error_.empty()) {
    record_error_ = env_.texts->no_record_folder;
  }
}

}  // namespace vm
