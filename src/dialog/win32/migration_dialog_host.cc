#include "dialog/win32/migration_dialog.h"

// The dialog as the run's host: the result list's lines go to the list
// the window draws, message boxes are posted to the window's thread.

#include <memory>

#include "dialog/win32/dialog_messages.h"
#include "dialog/win32/window_text.h"

namespace vm {

int MigrationDialog::AppendLogLine(const std::string& line) {
  return lines_.Append(line);
}

void MigrationDialog::RemoveLastLine() { lines_.RemoveLast(); }

void MigrationDialog::SelectLastLine() { lines_.FollowEnd(); }

int MigrationDialog::LineCount() { return lines_.Count(); }

void MigrationDialog::ResetLog() { lines_.Reset(); }

void MigrationDialog::ShowMessage(MessageKind kind, const std::string& text) {
  if (kind == MessageKind::kNotice) {
    AppendLogLine(text);
    SelectLastLine();
    return;
  }
  // The worker never waits for the window: the box is posted and the
  // window's thread shows it.
  auto box =
      std::make_unique<PostedBox>(PostedBox{WideOf(code_page_id_, text), kind});
  if (PostMessageW(window_, kShowMessage, 0,
                   reinterpret_cast<LPARAM>(box.get()))) {
    box.release();
  }
}

SourceDomainList* MigrationDialog::GetSourceDomains() {
  return &source_domains_;
}

}  // namespace vm
