#include "app/win32/list_box_log.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/wide_text_win32.h"

namespace vm {

int ListBoxView::AddLine(const std::string& line) {
  return static_cast<int>(SendMessageA(list_box_, LB_ADDSTRING, 0,
                                       reinterpret_cast<LPARAM>(line.c_str())));
}

void ListBoxView::DeleteLine(int index) {
  SendMessageA(list_box_, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
  // The box scrolls back by the line it lost; that is no scrolling away.
  int top = static_cast<int>(SendMessageA(list_box_, LB_GETTOPINDEX, 0, 0));
  if (top < set_top_) set_top_ = top;
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
  // The run only scrolls: the selection is the user's, for copying, and a
  // line the run selected would stay highlighted (under Wine, every such
  // line kept its bar). The end is followed unless the user scrolled up
  // from it to read and has not come back.
  RECT client = {};
  GetClientRect(list_box_, &client);
  int item = static_cast<int>(SendMessageA(list_box_, LB_GETITEMHEIGHT, 0, 0));
  int visible = item > 0 ? (client.bottom - client.top) / item : 1;
  if (visible < 1) visible = 1;
  int top = static_cast<int>(SendMessageA(list_box_, LB_GETTOPINDEX, 0, 0));
  if (set_top_ >= 0 && top < set_top_ && top + visible < index) return;
  int new_top = index - visible + 1;
  SendMessageA(list_box_, LB_SETTOPINDEX,
               static_cast<WPARAM>(new_top > 0 ? new_top : 0), 0);
  set_top_ = static_cast<int>(SendMessageA(list_box_, LB_GETTOPINDEX, 0, 0));
}

void ListBoxView::Reset() {
  SendMessageA(list_box_, LB_RESETCONTENT, 0, 0);
  set_top_ = -1;
}

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

bool CopySelectedLines(HWND list_box, HWND owner) {
  int count = static_cast<int>(SendMessageA(list_box, LB_GETSELCOUNT, 0, 0));
  if (count <= 0) return false;
  std::vector<int> items(static_cast<size_t>(count));
  count = static_cast<int>(
      SendMessageA(list_box, LB_GETSELITEMS, static_cast<WPARAM>(count),
                   reinterpret_cast<LPARAM>(items.data())));
  ListBoxView view(list_box);
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += view.LineText(items[static_cast<size_t>(i)]) + "\r\n";
  }
  // The lines are in the system's ANSI code page; the clipboard gets them
  // as Unicode, which every program reads.
  std::wstring unicode;
  ToWide(CP_ACP, text, &unicode, false);
  HGLOBAL memory =
      GlobalAlloc(GMEM_MOVEABLE, (unicode.size() + 1) * sizeof(wchar_t));
  if (memory == nullptr) return false;
  wchar_t* wide = static_cast<wchar_t*>(GlobalLock(memory));
  std::copy(unicode.begin(), unicode.end(), wide);
  wide[unicode.size()] = L'\0';
  GlobalUnlock(memory);
  if (!OpenClipboard(owner)) {
    GlobalFree(memory);
    return false;
  }
  EmptyClipboard();
  bool placed = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
  CloseClipboard();
  if (!placed) GlobalFree(memory);
  return placed;
}

void SelectAllLines(HWND list_box) {
  SendMessageA(list_box, LB_SETSEL, TRUE, static_cast<LPARAM>(-1));
}

}  // namespace vm
