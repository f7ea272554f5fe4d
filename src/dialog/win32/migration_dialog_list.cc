#include "dialog/win32/migration_dialog.h"

// The main dialog's result list: the queue the worker fills, drained into
// the owner-data list view, and the list's keys and context menu.

#include <commctrl.h>

#include <vector>

#include "dialog/win32/resource.h"

namespace vm {

INT_PTR MigrationDialog::OnNotify(NMHDR* header) {
  if (header->idFrom != IDC_RESULT_LIST || list_ == nullptr) return FALSE;
  switch (header->code) {
    case LVN_GETDISPINFOW:
      list_->OnGetDispInfo(reinterpret_cast<NMLVDISPINFOW*>(header));
      return TRUE;
    case LVN_KEYDOWN:
      list_->OnKey(reinterpret_cast<NMLVKEYDOWN*>(header)->wVKey, window_);
      return TRUE;
  }
  return FALSE;
}

void MigrationDialog::OnContextMenu(HWND control, LPARAM position) {
  if (GetDlgCtrlID(control) != IDC_RESULT_LIST) return;
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, IDM_COPY_LINES, L"复制(&C)\tCtrl+C");
  AppendMenuW(menu, MF_STRING, IDM_SELECT_ALL, L"全选(&A)\tCtrl+A");
  POINT at = {static_cast<short>(LOWORD(position)),
              static_cast<short>(HIWORD(position))};
  if (at.x == -1 && at.y == -1) {  // from the keyboard
    at = {0, 0};
    ClientToScreen(control, &at);
  }
  TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, window_,
                 nullptr);
  DestroyMenu(menu);
}

void MigrationDialog::DrainLines() {
  std::vector<LineChange> changes = lines_.Take();
  if (list_ != nullptr) list_->Apply(changes);  // null: the window is going
}

}  // namespace vm
