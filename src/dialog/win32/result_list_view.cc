#include "dialog/win32/result_list_view.h"

#include <algorithm>

#include "dialog/win32/window_text.h"

namespace vm {

namespace {

// Room left and right of a line's text in its column.
constexpr int kMargin = 16;

}  // namespace

ResultListView::ResultListView(HWND list, UINT code_page)
    : list_(list), code_page_(code_page) {
  SendMessageW(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT,
               LVS_EX_FULLROWSELECT);
  LVCOLUMNW column = {};
  column.mask = LVCF_WIDTH;
  RECT client = {};
  GetClientRect(list_, &client);
  column.cx = client.right - client.left;
  SendMessageW(list_, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
}

void ResultListView::Apply(const std::vector<LineChange>& changes) {
  if (changes.empty()) return;
  const int before = model_.Count();
  const int top = static_cast<int>(SendMessageW(list_, LVM_GETTOPINDEX, 0, 0));
  const int page =
      static_cast<int>(SendMessageW(list_, LVM_GETCOUNTPERPAGE, 0, 0));
  // The end is in view (or the list was empty): the user reads along.
  const bool at_end = before == 0 || top + page >= before - 1;
  ResultListModel::Applied applied = model_.Apply(changes);
  if (applied.reset) widest_ = 0;
  Widen(changes);
  const int count = model_.Count();
  SendMessageW(list_, LVM_SETITEMCOUNT, static_cast<WPARAM>(count),
               applied.reset ? 0 : LVSICF_NOSCROLL);
  InvalidateRect(list_, nullptr, FALSE);
  if (count > 0 && applied.follow_end && (at_end || applied.reset)) {
    SendMessageW(list_, LVM_ENSUREVISIBLE, static_cast<WPARAM>(count - 1),
                 FALSE);
  }
}

void ResultListView::Widen(const std::vector<LineChange>& changes) {
  HDC dc = GetDC(list_);
  if (dc == nullptr) return;
  // A window's device context starts with the system font, not the one
  // the list draws with.
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(list_, WM_GETFONT, 0, 0));
  HGDIOBJ previous = font != nullptr ? SelectObject(dc, font) : nullptr;
  int widest = widest_;
  for (const LineChange& change : changes) {
    if (change.kind != LineChange::kAppend) continue;
    std::wstring wide = Wide(change.line);
    SIZE size = {};
    if (GetTextExtentPoint32W(dc, wide.data(), static_cast<int>(wide.size()),
                              &size)) {
      widest = std::max(widest, static_cast<int>(size.cx) + kMargin);
    }
  }
  if (previous != nullptr) SelectObject(dc, previous);
  ReleaseDC(list_, dc);
  RECT client = {};
  GetClientRect(list_, &client);
  const int width = std::max(widest, static_cast<int>(client.right));
  if (widest != widest_ || widest_ == 0) {
    SendMessageW(list_, LVM_SETCOLUMNWIDTH, 0, width);
  }
  widest_ = widest;
}

void ResultListView::Refit() {
  RECT client = {};
  GetClientRect(list_, &client);
  SendMessageW(list_, LVM_SETCOLUMNWIDTH, 0,
               std::max(widest_, static_cast<int>(client.right)));
}

void ResultListView::OnGetDispInfo(NMLVDISPINFOW* info) {
  if ((info->item.mask & LVIF_TEXT) == 0) return;
  shown_ = Wide(model_.Line(info->item.iItem));
  info->item.pszText = shown_.data();
}

bool ResultListView::OnKey(WORD key, HWND owner) {
  if (GetKeyState(VK_CONTROL) >= 0) return false;
  switch (key) {
    case 'C':
    case VK_INSERT:
      CopySelected(owner);
      return true;
    case 'A':
      SelectAll();
      return true;
  }
  return false;
}

void ResultListView::SelectAll() {
  LVITEMW item = {};
  item.stateMask = LVIS_SELECTED;
  item.state = LVIS_SELECTED;
  SendMessageW(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
               reinterpret_cast<LPARAM>(&item));
}

bool ResultListView::CopySelected(HWND owner) {
  std::vector<int> picked;
  for (int at = -1;;) {
    at = static_cast<int>(SendMessageW(list_, LVM_GETNEXTITEM,
                                       static_cast<WPARAM>(at), LVNI_SELECTED));
    if (at < 0) break;
    picked.push_back(at);
  }
  if (picked.empty()) return false;
  const std::wstring text = Wide(model_.Join(picked));
  HGLOBAL memory =
      GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
  if (memory == nullptr) return false;
  wchar_t* wide = static_cast<wchar_t*>(GlobalLock(memory));
  std::copy(text.begin(), text.end(), wide);
  wide[text.size()] = L'\0';
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

std::wstring ResultListView::Wide(const std::string& line) const {
  return WideOf(code_page_, line);
}

}  // namespace vm
