#include "app/win32/list_box_log.h"

namespace vm {

int ListBoxView::AddLine(const std::string& line) {
  return static_cast<int>(SendMessageA(list_box_, LB_ADDSTRING, 0,
                                       reinterpret_cast<LPARAM>(line.c_str())));
}

void ListBoxView::DeleteLine(int index) {
  SendMessageA(list_box_, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
}

int ListBoxView::LineCount() {
  return static_cast<int>(SendMessageA(list_box_, LB_GETCOUNT, 0, 0));
}

std::string ListBoxView::LineText(int index) {
  LRESULT length =
      SendMessageA(list_box_, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == LB_ERR || length <= 0) return std::string();
  std::string text(static_cast<size_t>(length) + 1, '\0');
  LRESULT got = SendMessageA(list_box_, LB_GETTEXT, static_cast<WPARAM>(index),
                             reinterpret_cast<LPARAM>(text.data()));
  if (got == LB_ERR || got < 0) return std::string();
  text.resize(static_cast<size_t>(got));
  return text;
}

void ListBoxView::Select(int index) {
  // A list box without user selection refuses a current selection; making
  // the line the top one (as far as the box scrolls) keeps it in view.
  if (SendMessageA(list_box_, LB_SETCURSEL, static_cast<WPARAM>(index), 0) ==
      LB_ERR) {
    SendMessageA(list_box_, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
  }
}

void ListBoxView::Reset() { SendMessageA(list_box_, LB_RESETCONTENT, 0, 0); }

void ListBoxView::SetHorizontalExtent(int extent) {
  SendMessageA(list_box_, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(extent),
               0);
}

bool ListBoxMeasurer::Measure(const std::string& line, int* width) {
  HDC dc = GetDC(list_box_);
  if (dc == nullptr) return false;
  // A window's device context starts with the system font, not the font
  // the list box draws with (the dialog's); measured with it the extent
  // can fall short of the drawn line and its end could never be scrolled
  // into view.
  HFONT font =
      reinterpret_cast<HFONT>(SendMessageA(list_box_, WM_GETFONT, 0, 0));
  HGDIOBJ previous = font != nullptr ? SelectObject(dc, font) : nullptr;
  SIZE size = {};
  bool measured = GetTextExtentPoint32A(dc, line.data(),
                                        static_cast<int>(line.size()), &size);
  if (previous != nullptr) SelectObject(dc, previous);
  ReleaseDC(list_box_, dc);
  if (!measured) return false;
  *width = size.cx;
  return true;
}

}  // namespace vm
