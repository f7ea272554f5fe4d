#include "dialog/win32/window_size_store.h"

#include <algorithm>

#include "dialog/win32/dialog_layout.h"

namespace vm {
namespace {

constexpr int kBaseDpi = 96;

bool ReadNumber(HKEY key, const wchar_t* name, DWORD* number) {
  DWORD type = 0;
  DWORD size = sizeof(*number);
  return RegQueryValueExW(key, name, nullptr, &type,
                          reinterpret_cast<BYTE*>(number),
                          &size) == ERROR_SUCCESS &&
         type == REG_DWORD && size == sizeof(*number);
}

void WriteNumber(HKEY key, const wchar_t* name, DWORD number) {
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&number),
                 sizeof(number));
}

// The work area of the monitor the window is on.
RECT WorkAreaOf(HWND window) {
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof(monitor);
  RECT area = {0, 0, 1024, 768};
  if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST),
                      &monitor)) {
    area = monitor.rcWork;
  }
  return area;
}

}  // namespace

bool RestoreWindowSize(HWND window) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  LONG width = rect.right - rect.left;
  LONG height = rect.bottom - rect.top;
  DWORD saved_width = 0;
  DWORD saved_height = 0;
  DWORD maximized = 0;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kWindowSizeKey, 0, KEY_QUERY_VALUE,
                    &key) == ERROR_SUCCESS) {
    const int dpi = WindowDpi(window);
    if (ReadNumber(key, L"WindowWidth", &saved_width) &&
        ReadNumber(key, L"WindowHeight", &saved_height)) {
      width = std::max<LONG>(
          width, MulDiv(static_cast<int>(saved_width), dpi, kBaseDpi));
      height = std::max<LONG>(
          height, MulDiv(static_cast<int>(saved_height), dpi, kBaseDpi));
    }
    ReadNumber(key, L"WindowMaximized", &maximized);
    RegCloseKey(key);
  }
  const RECT area = WorkAreaOf(window);
  width = std::min(width, area.right - area.left);
  height = std::min(height, area.bottom - area.top);
  const LONG x = area.left + (area.right - area.left - width) / 2;
  const LONG y = area.top + (area.bottom - area.top - height) / 2;
  SetWindowPos(window, nullptr, std::max(x, area.left), std::max(y, area.top),
               width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  return maximized != 0;
}

void SaveWindowSize(HWND window) {
  WINDOWPLACEMENT placement = {};
  placement.length = sizeof(placement);
  if (!GetWindowPlacement(window, &placement)) return;
  const RECT& normal = placement.rcNormalPosition;
  const int dpi = WindowDpi(window);
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kWindowSizeKey, 0, nullptr, 0,
                      KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  WriteNumber(
      key, L"WindowWidth",
      static_cast<DWORD>(MulDiv(normal.right - normal.left, kBaseDpi, dpi)));
  WriteNumber(
      key, L"WindowHeight",
      static_cast<DWORD>(MulDiv(normal.bottom - normal.top, kBaseDpi, dpi)));
  WriteNumber(key, L"WindowMaximized", IsZoomed(window) ? 1 : 0);
  RegCloseKey(key);
}

}  // namespace vm
