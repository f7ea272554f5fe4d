#include "dialog/win32/migration_dialog.h"

// The dialog's side of a watch (持续同步): the status line between passes,
// posted by the worker after each pass, and the stop that ends the watch
// after one more pass.

#include <memory>
#include <string>

#include "dialog/win32/dialog_messages.h"
#include "dialog/win32/resource.h"

namespace vm {

SessionHooks MigrationDialog::WatchHooks() {
  SessionHooks hooks;
  hooks.pass_ended = [this](const RunSession&, const std::string& status) {
    auto text = std::make_unique<std::string>(code_page_->ToUtf8(status));
    if (PostMessageW(window_, kWatchStatus, 0,
                     reinterpret_cast<LPARAM>(text.get()))) {
      text.release();  // the window takes it
    }
  };
  return hooks;
}

void MigrationDialog::OnWatchStatus(std::unique_ptr<std::string> status) {
  if (running_ && session_ != nullptr && !session_->watch_stopping() &&
      !session_->stop_requested()) {
    SetStatus(*status);
  }
}

bool MigrationDialog::StopWatch() {
  if (session_ == nullptr || session_->watch_stopping()) return false;
  session_->RequestStop();
  if (!session_->watch_stopping()) return false;  // still migrating
  // The stop button stays: a second click stops the last pass at once.
  SetStatus(
      "正在停止持续同步：再做最后一次同步后结束（再按“停止”立即停止）...");
  return true;
}

}  // namespace vm
