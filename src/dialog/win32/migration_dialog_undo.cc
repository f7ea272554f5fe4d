#include "dialog/win32/migration_dialog.h"

// The undo of a recorded run: the user chooses the run, the worker shows
// what an undo would do (the preview, in the result list), asks, and then
// undoes it as a run: under the target's run lock (held from the preview
// to the end, so what the preview listed is what the undo finds, but for
// the server's own changes), with its progress, a stop, its records and an
// end message that says what was kept or not reached.

#include <commctrl.h>

#include <future>
#include <utility>

#include "dialog/win32/dialog_messages.h"
#include "dialog/win32/record_folders.h"
#include "dialog/win32/resource.h"
#include "dialog/win32/undo_choice_dialog.h"
#include "dialog/win32/window_text.h"
#include "migrate/texts.h"
#include "migrate/undo_choices.h"
#include "platform/clock.h"
#include "session/run_log.h"
#include "util/name_ops.h"
#include "vm_version.h"

namespace vm {

void MigrationDialog::StartUndo() {
  if (running_ || lister_ != nullptr) return;
  // The dialog's runs keep their manifests beside the target's data; a
  // console run may have put its manifest beside its records.
  listing_ = std::make_unique<RunsListing>();
  listing_->own = RunRecordsFolder(env_.disk, state_.target_dir);
  listing_->folders.push_back(listing_->own);
  listing_->folders.insert(listing_->folders.end(), env_.record_dirs.begin(),
                           env_.record_dirs.end());
  listing_->target_dir = state_.target_dir;
  listing_->status = ItemUtf8(window_, IDC_STATUS);
  // Each manifest is read whole to count what its run added, and a large
  // run's holds tens of megabytes: a thread reads them while the window
  // goes on. A run started meanwhile drops the choice.
  EnableWindow(GetDlgItem(window_, IDC_UNDO), FALSE);
  SetStatus(code_page_->ToUtf8(texts_.undo_listing));
  lister_ = CreateThread(nullptr, 0, ListRunsMain, this, 0, nullptr);
  if (lister_ == nullptr) {
    EnableWindow(GetDlgItem(window_, IDC_UNDO), TRUE);
    SetStatus(listing_->status);
  }
}

DWORD WINAPI MigrationDialog::ListRunsMain(void* dialog) {
  auto* self = static_cast<MigrationDialog*>(dialog);
  RunsListing* listing = self->listing_.get();
  listing->runs =
      RecordedRuns(self->env_.disk, listing->folders, listing->target_dir);
  // The last touch of the dialog from this thread; a window closed
  // meanwhile takes no message, and its dialog waits for this thread.
  PostMessageW(self->window_, kRunsListed, 0, 0);
  return 0;
}

void MigrationDialog::OnRunsListed() {
  // The thread posted this as its last act.
  WaitForSingleObject(lister_, INFINITE);
  CloseHandle(lister_);
  lister_ = nullptr;
  const std::unique_ptr<RunsListing> listing = std::move(listing_);
  // A run that started meanwhile unlocks the undo when it ends, and says
  // how it went in the status line.
  if (running_) return;
  EnableWindow(GetDlgItem(window_, IDC_UNDO), TRUE);
  if (ItemUtf8(window_, IDC_STATUS) ==
      code_page_->ToUtf8(texts_.undo_listing)) {
    SetStatus(listing->status);
  }
  const std::string chosen = ChooseRunToUndo(
      instance_, window_, code_page_id_, texts_, listing->runs, listing->own);
  if (!chosen.empty() && !running_) BeginUndo(chosen);
}

void MigrationDialog::BeginUndo(const std::string& chosen) {
  running_ = true;
  finishing_ = false;
  close_pending_ = false;
  undoing_ = true;
  undo_manifest_ = chosen;
  undo_handled_ = 0;
  undo_total_ = 0;
  undo_removing_ = false;
  undo_status_.clear();
  undo_log_path_.clear();
  UndoOptions options;
  options.manifest_path = chosen;
  options.confirm = [this](const UndoResult& preview) {
    if (!ConfirmUndo(preview)) return false;
    undo_handled_ = 0;
    undo_removing_ = true;
    ResetLog();
    return true;
  };
  // The preview counts too: a large run takes a while to look at.
  options.item_handled = [this] {
    ++undo_handled_;
    if (!progress_posted_.exchange(true)) {
      PostMessageW(window_, kProgress, 0, 0);
    }
  };
  options.items_known = [this](int items) { undo_total_ = items; };
  options.shown_command = "VelquorMigrate undo " + code_page_->ToUtf8(chosen);
  undo_session_ = std::make_unique<UndoSession>(env_, std::move(options));
  LockForRun(true, SessionKind::kPreview);
  ShowUndoProgress();
  worker_ = CreateThread(nullptr, 0, UndoMain, this, 0, nullptr);
  if (worker_ == nullptr) {
    running_ = false;
    undoing_ = false;
    LockForRun(false, SessionKind::kPreview);
  }
}

DWORD WINAPI MigrationDialog::UndoMain(void* dialog) {
  auto* self = static_cast<MigrationDialog*>(dialog);
  auto end = std::make_unique<EndMessage>(self->UndoOnWorker());
  self->finishing_ = true;
  // The last touch of the dialog from this thread.
  if (PostMessageW(self->window_, kRunEnded, 0,
                   reinterpret_cast<LPARAM>(end.get()))) {
    end.release();
  }
  return 0;
}

EndMessage MigrationDialog::UndoOnWorker() {
  UndoSession& session = *undo_session_;
  ResetLog();
  session.Run(this);
  if (!session.started()) {
    // The refusal has been shown, as a message of its own.
    undo_status_ = code_page_->ToUtf8(session.refusal());
    return {};
  }
  if (session.declined()) {
    undo_status_ = code_page_->ToUtf8(texts_.undo_preview_done);
    return {};  // nothing removed; the list shows the preview
  }
  return EndUndo(session);
}

bool MigrationDialog::ConfirmUndo(const UndoResult& preview) {
  const std::string question =
      texts_.undo_confirm + "\n" + undo_manifest_ + "\n\n" +
      texts_.undo_confirm_removed + std::to_string(preview.removed) + "\n" +
      texts_.undo_confirm_kept + std::to_string(preview.kept) + "\n\n" +
      texts_.undo_confirm_ask;
  // Posted, then waited for here, as a question on a busy target is.
  Question ask;
  ask.text = WideOf(code_page_id_, question);
  std::future<bool> answer = ask.answer.get_future();
  return PostMessageW(window_, kAskWait, 0, reinterpret_cast<LPARAM>(&ask)) &&
         answer.get();
}

EndMessage MigrationDialog::EndUndo(const UndoSession& session) {
  const std::vector<std::string>& lines = session.lines();
  const bool stopped = session.end() == RunEnd::kStopped;
  undo_log_path_ = session.log_path();
  if (!undo_log_path_.empty()) AppendLogLine(texts_.log_saved + undo_log_path_);
  undo_status_ = code_page_->ToUtf8(lines.back());
  // Success only when everything listed was removed or was gone already.
  std::string text =
      stopped ? texts_.undo_stopped + "\n" + lines.back() : lines.back();
  if (!undo_log_path_.empty()) text += "\n\n" + texts_.end_log + undo_log_path_;
  const std::string& error = session.record_error();
  if (undo_log_path_.empty() || !error.empty()) {
    text += "\n\n" + texts_.end_record_failed +
            (error.empty() ? texts_.no_record_folder : error);
  }
  return {session.result().complete() ? MessageKind::kInformation
                                      : MessageKind::kWarning,
          text};
}

void MigrationDialog::ShowUndoProgress() {
  const int total = undo_total_;
  const int handled = undo_handled_;
  const LRESULT range =
      SendDlgItemMessageW(window_, IDC_PROGRESS, PBM_GETRANGE, FALSE, 0);
  SendDlgItemMessageW(window_, IDC_PROGRESS, PBM_SETPOS,
                      total > 0 ? static_cast<WPARAM>(MulDiv(
                                      handled, static_cast<int>(range), total))
                                : 0,
                      0);
  if (running_ && !undo_session_->stop_requested()) {
    SetStatus(code_page_->ToUtf8(undo_removing_ ? texts_.undo_progress
                                                : texts_.undo_previewing) +
              std::to_string(handled) + "/" + std::to_string(total));
  }
}

void MigrationDialog::FinishUndo() {
  running_ = false;
  undoing_ = false;
  LockForRun(false, SessionKind::kPreview);
  ShowUndoProgress();
  SetStatus(undo_status_);
  if (!undo_log_path_.empty()) {
    SetItemText(window_, IDC_RECORDS_DIR, code_page_id_,
                DirectoryOf(code_page_id_, undo_log_path_));
  }
  // The undo took accounts out of the target.
  CountExistingAccountsLater();
  if (close_pending_) EndDialog(window_, IDCANCEL);
}

}  // namespace vm
