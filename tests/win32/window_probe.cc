// Reads the windows of another process for the dialog tests, the way an
// accessibility tool would: only with window messages.
//
//   window_probe windows          one line per visible top-level window:
//                                 handle (hex), TAB, class, TAB, caption
//   window_probe texts HWND       the texts of every child window, one per
//                                 line (a message box's text is one of them)
//   window_probe text HWND ID     the text of control ID of window HWND
//   window_probe list HWND ID     the lines of list view ID, one per line
//   window_probe enabled HWND ID...
//                                 for each control, 1 when it is enabled,
//                                 else 0, on one line
//   window_probe checked HWND ID  the check state of button ID (0, 1, 2)
//   window_probe click HWND ID    clicks button ID as the user would
//   window_probe settext HWND ID TEXT
//                                 replaces the text of control ID
//   window_probe post HWND MSG WPARAM
//                                 posts a message (numbers in decimal)
//   window_probe send HWND ID MSG WPARAM
//                                 sends a message to control ID and prints
//                                 the result (numbers in decimal)
//   window_probe acp              the ANSI code page this process got
//   window_probe pid HWND         the id of the process owning the window
//   window_probe rect HWND ID     the control's rectangle on the screen
//                                 (left top right bottom) and the system's
//                                 highlight colour as RRGGBB
//   window_probe icon HWND        the screen rectangle of the icon a
//                                 message box shows (left top right
//                                 bottom), or none
//   window_probe clipboard        the text on the clipboard
//   window_probe fits HWND        one line per control whose text does not
//                                 fit it in the dialog font at this DPI:
//                                 id, needed and given size, text
//   window_probe hold NAME        takes the named mutex (a configuration
//                                 file's lock), prints "held", and keeps it
//                                 until its stdin ends
// A control id 0 names the window HWND itself.
//
// Output is UTF-8.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string ToUtf8(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(),
                                   static_cast<int>(wide.size()), nullptr, 0,
                                   nullptr, nullptr);
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                      utf8.data(), length, nullptr, nullptr);
  return utf8;
}

std::string WindowText(HWND window) {
  // GetWindowText does not ask a control of another process for its text;
  // the message does, and the system copies the text back.
  wchar_t buffer[1024] = {};
  SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
  return ToUtf8(buffer);
}

BOOL CALLBACK PrintWindow(HWND window, LPARAM) {
  if (!IsWindowVisible(window)) return TRUE;
  wchar_t class_name[256] = {};
  GetClassNameW(window, class_name, 256);
  std::printf(
      "%llx\t%s\t%s\n",
      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)),
      ToUtf8(class_name).c_str(), WindowText(window).c_str());
  return TRUE;
}

BOOL CALLBACK PrintChildText(HWND window, LPARAM) {
  std::printf("%s\n", WindowText(window).c_str());
  return TRUE;
}

HWND Handle(const char* text) {
  return reinterpret_cast<HWND>(
      static_cast<uintptr_t>(std::strtoull(text, nullptr, 16)));
}

// Control 0 is the window itself.
HWND Control(const char* window, const char* id) {
  const int number = std::atoi(id);
  return number == 0 ? Handle(window) : GetDlgItem(Handle(window), number);
}

// A list view's lines: its text messages carry pointers, so the item and
// its buffer are placed in the list's own process.
int PrintListView(HWND list) {
  DWORD pid = 0;
  GetWindowThreadProcessId(list, &pid);
  HANDLE process = OpenProcess(
      PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (process == nullptr) return 1;
  constexpr int kChars = 4096;
  const SIZE_T size = sizeof(LVITEMW) + kChars * sizeof(wchar_t);
  auto* remote = static_cast<char*>(VirtualAllocEx(
      process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (remote == nullptr) return 1;
  LRESULT count = SendMessageW(list, LVM_GETITEMCOUNT, 0, 0);
  std::wstring line(kChars, L'\0');
  for (LRESULT i = 0; i < count; ++i) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
    item.cchTextMax = kChars;
    WriteProcessMemory(process, remote, &item, sizeof(item), nullptr);
    LRESULT got = SendMessageW(list, LVM_GETITEMTEXTW, i,
                               reinterpret_cast<LPARAM>(remote));
    got = got < 0 ? 0 : got > kChars - 1 ? kChars - 1 : got;
    ReadProcessMemory(process, remote + sizeof(LVITEMW), line.data(),
                      got * sizeof(wchar_t), nullptr);
    std::printf("%s\n", ToUtf8(line.substr(0, got)).c_str());
  }
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
  return 0;
}

// The dialog font (9 points of the dialog's face) at the system's DPI.
HFONT DialogFont() {
  HDC screen = GetDC(nullptr);
  int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return CreateFontW(-MulDiv(9, dpi, 72), 0, 0, 0, FW_NORMAL, 0, 0, 0,
                     DEFAULT_CHARSET, 0, 0, 0, 0, L"\u5b8b\u4f53");
}

BOOL CALLBACK FindIcon(HWND control, LPARAM found) {
  if ((GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
    *reinterpret_cast<HWND*>(found) = control;
  }
  return TRUE;
}

BOOL CALLBACK PrintClipped(HWND control, LPARAM font) {
  wchar_t class_name[64] = {};
  GetClassNameW(control, class_name, 64);
  std::wstring kind = class_name;
  LONG style = GetWindowLongW(control, GWL_STYLE);
  wchar_t text[1024] = {};
  SendMessageW(control, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
  if (text[0] == 0 || !IsWindowVisible(control)) return TRUE;
  RECT client;
  GetClientRect(control, &client);
  int width = client.right, height = client.bottom;
  UINT format = DT_CALCRECT | DT_SINGLELINE;
  LONG type = style & 0x0F;
  if (_wcsicmp(class_name, L"Static") == 0) {
    if (type == SS_LEFT) format = DT_CALCRECT | DT_WORDBREAK;
    if (style & SS_ENDELLIPSIS) return TRUE;  // cut by design, with "..."
  } else if (_wcsicmp(class_name, L"Button") == 0) {
    if (type == BS_GROUPBOX) {
      width -= 16;  // the frame's corners
    } else if (type != BS_PUSHBUTTON && type != BS_DEFPUSHBUTTON) {
      width -= GetSystemMetrics(SM_CXMENUCHECK) + 4;  // the box or circle
    } else {
      width -= 2 * GetSystemMetrics(SM_CXEDGE);
      height -= 2 * GetSystemMetrics(SM_CYEDGE);
    }
  } else {
    return TRUE;  // edits and lists scroll
  }
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(font));
  RECT need = {0, 0, width, 0};
  DrawTextW(dc, text, -1, &need, format | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  if (need.right > width || (type != BS_GROUPBOX && need.bottom > height)) {
    std::printf("%d\t%ldx%ld\t%dx%d\t%s\n", GetDlgCtrlID(control), need.right,
                need.bottom, width, height, ToUtf8(text).c_str());
  }
  return TRUE;
}

// Holds the named mutex (a configuration file's lock, as the program
// names it) until stdin ends: "held" on stdout says it is taken.
int HoldMutex(const char* name) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
  const DWORD got =
      mutex != nullptr ? WaitForSingleObject(mutex, INFINITE) : WAIT_FAILED;
  if (got != WAIT_OBJECT_0 && got != WAIT_ABANDONED) return 1;
  std::printf("held\n");
  std::fflush(stdout);
  char line[16];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
  }
  ReleaseMutex(mutex);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "hold" && argc == 3) return HoldMutex(argv[2]);
  if (mode == "clipboard" && argc == 2) {
    if (!OpenClipboard(nullptr)) return 1;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const wchar_t* text = data != nullptr
                              ? static_cast<const wchar_t*>(GlobalLock(data))
                              : nullptr;
    std::printf("%s", text != nullptr ? ToUtf8(text).c_str() : "");
    if (text != nullptr) GlobalUnlock(data);
    CloseClipboard();
    return 0;
  }
  if (mode == "acp" && argc == 2) {
    std::printf("%u\n", GetACP());
    return 0;
  }
  if (mode == "pid" && argc == 3) {
    DWORD pid = 0;
    GetWindowThreadProcessId(Handle(argv[2]), &pid);
    std::printf("%lu\n", pid);
    return 0;
  }
  if (mode == "windows" && argc == 2) {
    EnumWindows(PrintWindow, 0);
    return 0;
  }
  if (mode == "texts" && argc == 3) {
    EnumChildWindows(Handle(argv[2]), PrintChildText, 0);
    return 0;
  }
  if (mode == "settext" && argc == 5) {
    // From the wide command line: argv holds the text in the system's
    // code page, which may not hold it.
    int wide_argc = 0;
    LPWSTR* wide_argv = CommandLineToArgvW(GetCommandLineW(), &wide_argc);
    if (wide_argv == nullptr || wide_argc != 5) return 1;
    const bool set = SendMessageW(Control(argv[2], argv[3]), WM_SETTEXT, 0,
                                  reinterpret_cast<LPARAM>(wide_argv[4])) != 0;
    LocalFree(wide_argv);
    return set ? 0 : 1;
  }
  if (mode == "post" && argc == 5) {
    return PostMessageW(Handle(argv[2]),
                        static_cast<UINT>(std::strtoul(argv[3], nullptr, 10)),
                        std::strtoull(argv[4], nullptr, 10), 0)
               ? 0
               : 1;
  }
  if (mode == "icon" && argc == 3) {
    HWND icon = nullptr;
    EnumChildWindows(Handle(argv[2]), FindIcon,
                     reinterpret_cast<LPARAM>(&icon));
    RECT r = {};
    if (icon == nullptr || !GetWindowRect(icon, &r)) {
      std::printf("none\n");
    } else {
      std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
    }
    return 0;
  }
  if (mode == "fits" && argc == 3) {
    HFONT font = DialogFont();
    EnumChildWindows(Handle(argv[2]), PrintClipped,
                     reinterpret_cast<LPARAM>(font));
    DeleteObject(font);
    return 0;
  }
  if (mode == "send" && argc == 6) {
    HWND control = Control(argv[2], argv[3]);
    if (control == nullptr) return 1;
    std::printf(
        "%lld\n",
        static_cast<long long>(SendMessageW(
            control, static_cast<UINT>(std::strtoul(argv[4], nullptr, 10)),
            std::strtoull(argv[5], nullptr, 10), 0)));
    return 0;
  }
  if (mode == "enabled" && argc >= 4) {
    for (int i = 3; i < argc; ++i) {
      std::printf("%d", IsWindowEnabled(Control(argv[2], argv[i])) ? 1 : 0);
    }
    std::printf("\n");
    return 0;
  }
  if (argc != 4) {
    std::fprintf(
        stderr,
        "usage: window_probe windows | clipboard | texts|icon|fits HWND | "
        "text|list|enabled|checked|click|rect HWND ID | settext HWND ID TEXT | "
        "post HWND MSG WPARAM | send HWND ID MSG WPARAM\n");
    return 2;
  }
  HWND control = Control(argv[2], argv[3]);
  if (control == nullptr) return 1;
  if (mode == "text") {
    std::printf("%s\n", WindowText(control).c_str());
    return 0;
  }
  if (mode == "list") return PrintListView(control);
  if (mode == "checked") {
    std::printf("%d\n",
                static_cast<int>(SendMessageW(control, BM_GETCHECK, 0, 0)));
    return 0;
  }
  if (mode == "click") {
    SendMessageW(control, BM_CLICK, 0, 0);
    return 0;
  }
  if (mode == "rect") {
    RECT r;
    GetWindowRect(control, &r);
    COLORREF c = GetSysColor(COLOR_HIGHLIGHT);
    std::printf("%ld %ld %ld %ld %02x%02x%02x\n", r.left, r.top, r.right,
                r.bottom, GetRValue(c), GetGValue(c), GetBValue(c));
    return 0;
  }
  return 2;
}
