#include "dialog/win32/migration_dialog.h"

// The main dialog's side of what other threads post to it.

#include <memory>
#include <utility>

#include "dialog/win32/dialog_messages.h"
#include "dialog/win32/resource.h"

namespace vm {

INT_PTR MigrationDialog::HandlePosted(UINT message, WPARAM wparam,
                                      LPARAM lparam) {
  switch (message) {
    case kShowMessage: {
      std::unique_ptr<PostedBox> box(reinterpret_cast<PostedBox*>(lparam));
      boxes_->Show(std::move(box->text), box->kind);
      return TRUE;
    }
    case kProgress:
      progress_posted_ = false;
      ShowProgress();
      return TRUE;
    case kRunEnded:
      OnRunEnded(
          std::unique_ptr<EndMessage>(reinterpret_cast<EndMessage*>(lparam)));
      return TRUE;
    case kExistingCounted:
      OnExistingCounted(static_cast<int>(wparam));
      return TRUE;
    case kLines:
      DrainLines();
      return TRUE;
    case kRunsListed:
      OnRunsListed();
      return TRUE;
    case kWatchStatus:
      OnWatchStatus(
          std::unique_ptr<std::string>(reinterpret_cast<std::string*>(lparam)));
      return TRUE;
    case kAskWait: {
      auto* question = reinterpret_cast<Question*>(lparam);
      question->answer.set_value(AskYesNo(window_, question->text));
      return TRUE;
    }
  }
  return FALSE;
}

}  // namespace vm
