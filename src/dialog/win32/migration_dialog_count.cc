#include "dialog/win32/migration_dialog.h"

// The main dialog's note on accounts the target holds already: counted on
// a thread of its own (it may wait for a configuration lock), never waited
// for by the window.

#include <string>

#include "dialog/win32/dialog_messages.h"
#include "dialog/win32/resource.h"
#include "dialog/win32/window_text.h"

namespace vm {

void MigrationDialog::CountExistingAccountsLater() {
  // A count under way (it may wait for a configuration lock) is never
  // waited for: a new one starts when its answer arrives.
  if (counter_ != nullptr) {
    recount_ = true;
    return;
  }
  counter_ = CreateThread(nullptr, 0, CountMain, this, 0, nullptr);
}

void MigrationDialog::OnExistingCounted(int count) {
  // The thread posted this as its last act.
  WaitForSingleObject(counter_, INFINITE);
  CloseHandle(counter_);
  counter_ = nullptr;
  ShowExistingAccounts(count);
  if (recount_) {
    recount_ = false;
    CountExistingAccountsLater();
  }
}

DWORD WINAPI MigrationDialog::CountMain(void* dialog) {
  auto* self = static_cast<MigrationDialog*>(dialog);
  int count = CountExistingAccounts(self->env_);
  PostMessageW(self->window_, kExistingCounted, static_cast<WPARAM>(count), 0);
  return 0;
}

void MigrationDialog::ShowExistingAccounts(int count) {
  existing_ = count;
  std::string hint;
  if (count > 0 && !stopped_) {
    hint = "目标中已有本源的帐户 " + std::to_string(count) +
           " 个。切换时请勾选“只复制新邮件”，把新到的邮件复制过去。";
  }
  SetItemUtf8(window_, IDC_SYNC_HINT, hint);
}

}  // namespace vm
