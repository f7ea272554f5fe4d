#ifndef VM_DIALOG_WIN32_DIALOG_LAYOUT_H_
#define VM_DIALOG_WIN32_DIALOG_LAYOUT_H_

#include <windows.h>

#include <vector>

namespace vm {

// Lays out the main dialog as its window is resized or maximised: the
// result list grows with the window; the row of run buttons and every
// control below it keep their distance to the window's bottom edge; the
// progress bar, the status line and the records folder widen with it; the
// rest stays where the template put it. The template's size is the
// smallest the window may take.
class DialogLayout {
 public:
  // Records the template's layout of `dialog`, just created: `grows` is
  // the control that grows both ways, `first_lower` the top-left control
  // of the lower block (it and everything at or below its top move down),
  // `widen` the controls that widen with the window.
  DialogLayout(HWND dialog, int grows, int first_lower, std::vector<int> widen);

  // WM_GETMINMAXINFO: no smaller than the template.
  void LimitSize(MINMAXINFO* info) const;

  // WM_SIZE: places every control for the window's client size.
  void Arrange() const;

  // WM_DPICHANGED: the template's layout in the new DPI (the system scales
  // the controls and the font), then the window at `suggested`.
  void ChangeDpi(int old_dpi, int new_dpi, const RECT& suggested);

 private:
  struct Placed {
    HWND control;
    RECT rect;  // in the template's client area
    bool grows_right;
    bool grows_down;
    bool moves_down;
  };
  HWND dialog_;
  SIZE min_window_{};
  SIZE base_client_{};
  std::vector<Placed> controls_;
};

// The DPI the window is shown at (per monitor where the system says).
int WindowDpi(HWND window);

}  // namespace vm

#endif  // VM_DIALOG_WIN32_DIALOG_LAYOUT_H_
