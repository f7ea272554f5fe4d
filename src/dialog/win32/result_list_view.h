#ifndef VM_APP_WIN32_RESULT_LIST_VIEW_H_
#define VM_APP_WIN32_RESULT_LIST_VIEW_H_

#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <string>
#include <vector>

#include "dialog/line_queue.h"
#include "dialog/result_list_model.h"

namespace vm {

// The dialog's result list: an owner-data list view (one column, no
// header) over a ResultListModel. The control keeps only the count and the
// selection and asks for a line's text when it draws it, so a run of any
// length fits and scrolls line by line. Lines are ANSI bytes of
// `code_page`, shown as Unicode. Used on the window's thread only.
class ResultListView {
 public:
  ResultListView(HWND list, UINT code_page);

  // Applies a batch of the run's changes; follows the end when the run
  // asks to and the user has not scrolled up from it.
  void Apply(const std::vector<LineChange>& changes);
  // Serves LVN_GETDISPINFOW.
  void OnGetDispInfo(NMLVDISPINFOW* info);
  // Ctrl+A and Ctrl+C (or Ctrl+Insert); true when `key` was one of them.
  bool OnKey(WORD key, HWND owner);
  void SelectAll();
  // Puts the selected lines on the clipboard as Unicode, CR LF after each.
  bool CopySelected(HWND owner);
  // The list was resized: its one column fills it, or holds the widest
  // line when that is wider.
  void Refit();

 private:
  std::wstring Wide(const std::string& line) const;
  // Widens the column to the widest line so far (pixels of the list font).
  void Widen(const std::vector<LineChange>& changes);

  HWND list_;
  UINT code_page_;
  ResultListModel model_;
  std::wstring shown_;  // the text last handed to the control
  int widest_ = 0;
};

}  // namespace vm

#endif  // VM_APP_WIN32_RESULT_LIST_VIEW_H_
