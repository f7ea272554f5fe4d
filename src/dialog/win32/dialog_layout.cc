#include "dialog/win32/dialog_layout.h"

#include <algorithm>
#include <utility>

namespace vm {
namespace {

SIZE SizeOf(const RECT& rect) {
  return {rect.right - rect.left, rect.bottom - rect.top};
}

// A control's rectangle in its dialog's client coordinates.
RECT ClientRectOf(HWND dialog, HWND control) {
  RECT rect = {};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

LONG Scaled(LONG value, int to, int from) {
  return static_cast<LONG>(MulDiv(value, to, from));
}

}  // namespace

int WindowDpi(HWND window) {
  // Windows 10 (1607) and later answer per monitor; before, the system's.
  using DpiForWindow = UINT(WINAPI*)(HWND);
  HMODULE user = GetModuleHandleW(L"user32.dll");
  auto dpi_for_window =
      user != nullptr ? reinterpret_cast<DpiForWindow>(reinterpret_cast<void*>(
                            GetProcAddress(user, "GetDpiForWindow")))
                      : nullptr;
  if (dpi_for_window != nullptr) {
    const UINT dpi = dpi_for_window(window);
    if (dpi != 0) return static_cast<int>(dpi);
  }
  HDC dc = GetDC(window);
  const int dpi = dc != nullptr ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
  if (dc != nullptr) ReleaseDC(window, dc);
  return dpi > 0 ? dpi : 96;
}

DialogLayout::DialogLayout(HWND dialog, int grows, int first_lower,
                           std::vector<int> widen)
    : dialog_(dialog) {
  RECT window = {};
  GetWindowRect(dialog, &window);
  min_window_ = SizeOf(window);
  RECT client = {};
  GetClientRect(dialog, &client);
  base_client_ = SizeOf(client);
  const LONG lower_top =
      ClientRectOf(dialog, GetDlgItem(dialog, first_lower)).top;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    const int id = GetDlgCtrlID(child);
    Placed placed = {child, ClientRectOf(dialog, child), false, false, false};
    placed.grows_down = id == grows;
    placed.grows_right =
        id == grows || std::find(widen.begin(), widen.end(), id) != widen.end();
    placed.moves_down = !placed.grows_down && placed.rect.top >= lower_top;
    controls_.push_back(placed);
  }
}

void DialogLayout::LimitSize(MINMAXINFO* info) const {
  info->ptMinTrackSize.x = min_window_.cx;
  info->ptMinTrackSize.y = min_window_.cy;
}

void DialogLayout::Arrange() const {
  RECT client = {};
  GetClientRect(dialog_, &client);
  // Minimised, or not yet shown: nothing to arrange.
  if (client.right == 0 || client.bottom == 0) return;
  const LONG dx = std::max<LONG>(0, client.right - base_client_.cx);
  const LONG dy = std::max<LONG>(0, client.bottom - base_client_.cy);
  HDWP batch = BeginDeferWindowPos(static_cast<int>(controls_.size()));
  for (const Placed& placed : controls_) {
    RECT rect = placed.rect;
    if (placed.moves_down) OffsetRect(&rect, 0, dy);
    if (placed.grows_right) rect.right += dx;
    if (placed.grows_down) rect.bottom += dy;
    const SIZE size = SizeOf(rect);
    if (batch != nullptr) {
      batch =
          DeferWindowPos(batch, placed.control, nullptr, rect.left, rect.top,
                         size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  if (batch != nullptr) EndDeferWindowPos(batch);
  // Group boxes and labels that moved leave traces otherwise.
  InvalidateRect(dialog_, nullptr, TRUE);
}

void DialogLayout::ChangeDpi(int old_dpi, int new_dpi, const RECT& suggested) {
  if (old_dpi <= 0 || new_dpi <= 0) return;
  for (Placed& placed : controls_) {
    RECT& r = placed.rect;
    r = {Scaled(r.left, new_dpi, old_dpi), Scaled(r.top, new_dpi, old_dpi),
         Scaled(r.right, new_dpi, old_dpi), Scaled(r.bottom, new_dpi, old_dpi)};
  }
  min_window_ = {Scaled(min_window_.cx, new_dpi, old_dpi),
                 Scaled(min_window_.cy, new_dpi, old_dpi)};
  base_client_ = {Scaled(base_client_.cx, new_dpi, old_dpi),
                  Scaled(base_client_.cy, new_dpi, old_dpi)};
  const SIZE size = SizeOf(suggested);
  SetWindowPos(dialog_, nullptr, suggested.left, suggested.top, size.cx,
               size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace vm
