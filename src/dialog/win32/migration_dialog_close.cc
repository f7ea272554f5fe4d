#include "dialog/win32/migration_dialog.h"

// The main dialog's questions: whether to stop a run to close, whether to
// wait for another run on the target.

#include <future>

#include "dialog/win32/dialog_messages.h"
#include "dialog/win32/window_text.h"
#include "migrate/texts.h"
#include "platform/wide_text_win32.h"

namespace vm {
namespace {

// How long a start waits for another run, once the user agreed to wait.
constexpr int64_t kWaitSeconds = 600;

}  // namespace

void MigrationDialog::Close(int result) {
  if (!running_) {
    EndDialog(window_, result);
    return;
  }
  if (finishing_ || close_pending_) {
    // The run is saying how it ended, or already stopping to close.
    MessageBeep(MB_ICONEXCLAMATION);
    return;
  }
  bool stop = AskYesNo(
      window_,
      undoing_
          ? WideOf(code_page_id_, texts_.undo_close_ask)
          : Utf8ToWide(
                "正在迁移。要停止并关闭窗口吗？\n已完成的帐户和邮件都会保存，"
                "下次点击“开始转移”将继续迁移。"));
  if (!stop) return;
  if (!running_) {  // it ended while the question was open
    EndDialog(window_, result);
    return;
  }
  close_pending_ = true;
  StopRun();
}

// A run that copies new mail says so; a preview made before a migration
// that ran since is not "no preview", but one whose plan is stale.
bool MigrationDialog::ConfirmWrite(bool sync) {
  if (!state_.target_installed) return true;
  const std::string counts =
      !preview_counts_.empty()
          ? texts_.confirm_plan + code_page_->ToAnsi(preview_counts_)
      : previewed_ ? texts_.confirm_stale_plan
                   : texts_.confirm_no_plan;
  return AskYesNo(
      window_,
      WideOf(code_page_id_,
             (sync ? texts_.confirm_sync_target : texts_.confirm_target) +
                 "\n" + state_.target_dir + "\n\n" + counts + "\n\n" +
                 (sync ? texts_.confirm_sync_ask : texts_.confirm_ask)));
}

int64_t MigrationDialog::AskToWait(const std::string& holder) {
  const std::string question =
      texts_.run_lock_busy + holder + "\n\n" + texts_.run_lock_ask_wait;
  // Posted, then waited for here: the window's thread never waits for
  // this one while a run is active, so the answer always comes.
  Question ask;
  ask.text = WideOf(code_page_id_, question);
  std::future<bool> answer = ask.answer.get_future();
  if (!PostMessageW(window_, kAskWait, 0, reinterpret_cast<LPARAM>(&ask)) ||
      !answer.get()) {
    return 0;
  }
  ShowMessage(MessageKind::kNotice, texts_.run_lock_waiting + holder +
                                        texts_.run_lock_wait_limit +
                                        std::to_string(kWaitSeconds));
  return kWaitSeconds;
}

}  // namespace vm
