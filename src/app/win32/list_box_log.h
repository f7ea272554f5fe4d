#ifndef VM_APP_WIN32_LIST_BOX_LOG_H_
#define VM_APP_WIN32_LIST_BOX_LOG_H_

#include <windows.h>

#include <string>

#include "app/progress_log.h"

namespace vm {

// The result list box as a LogView. Every call is a window message, so it
// may be used from the worker thread: the list box's own thread serves it
// before the call returns.
class ListBoxView : public LogView {
 public:
  explicit ListBoxView(HWND list_box) : list_box_(list_box) {}

  int AddLine(const std::string& line) override;
  void DeleteLine(int index) override;
  int LineCount() override;
  std::string LineText(int index) override;
  void Select(int index) override;
  void Reset() override;
  void SetHorizontalExtent(int extent) override;

 private:
  HWND list_box_;
  // The top line as Select left it (or a deletion moved it); -1 after a
  // reset. A top above it means the user scrolled up.
  int set_top_ = -1;
};

// Puts the selected lines of a list box (one with multiple selection) on
// the clipboard as text, CR LF between lines. False when none is selected
// or the clipboard cannot be had.
bool CopySelectedLines(HWND list_box, HWND owner);

// Selects every line of a list box with multiple selection.
void SelectAllLines(HWND list_box);

// Measures a line in pixels with the list box's device context and the
// font the list box draws with.
class ListBoxMeasurer : public TextMeasurer {
 public:
  explicit ListBoxMeasurer(HWND list_box) : list_box_(list_box) {}

  bool Measure(const std::string& line, int* width) override;

 private:
  HWND list_box_;
};

}  // namespace vm

#endif  // VM_APP_WIN32_LIST_BOX_LOG_H_
