// Reads the windows of another process for the dialog tests, the way an
// accessibility tool would: only with window messages.
//
//   window_probe windows          one line per visible top-level window:
//                                 handle (hex), TAB, class, TAB, caption
//   window_probe texts HWND       the texts of every child window, one per
//                                 line (a message box's text is one of them)
//   window_probe text HWND ID     the text of control ID of window HWND
//   window_probe list HWND ID     the lines of list box ID, one per line
//   window_probe enabled HWND ID  1 when control ID is enabled, else 0
//   window_probe checked HWND ID  the check state of button ID (0, 1, 2)
//   window_probe click HWND ID    clicks button ID as the user would
//   window_probe settext HWND ID TEXT
//                                 replaces the text of control ID
//   window_probe post HWND MSG WPARAM
//                                 posts a message (numbers in decimal)
//
// Output is UTF-8.
#include <windows.h>

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

HWND Control(const char* window, const char* id) {
  return GetDlgItem(Handle(window), std::atoi(id));
}

int PrintList(HWND list_box) {
  // The wide messages: the system converts the dialog's ANSI lines and
  // copies them across processes. The buffer is generous because a length
  // reported across a conversion may be short.
  LRESULT count = SendMessageW(list_box, LB_GETCOUNT, 0, 0);
  if (count == LB_ERR) return 1;
  for (LRESULT i = 0; i < count; ++i) {
    LRESULT length = SendMessageW(list_box, LB_GETTEXTLEN, i, 0);
    if (length == LB_ERR) return 1;
    std::wstring line(static_cast<size_t>(length) * 2 + 16, L'\0');
    LRESULT got = SendMessageW(list_box, LB_GETTEXT, i,
                               reinterpret_cast<LPARAM>(line.data()));
    line.resize(static_cast<size_t>(got > 0 ? got : 0));
    std::printf("%s\n", ToUtf8(line).c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "windows" && argc == 2) {
    EnumWindows(PrintWindow, 0);
    return 0;
  }
  if (mode == "texts" && argc == 3) {
    EnumChildWindows(Handle(argv[2]), PrintChildText, 0);
    return 0;
  }
  if (mode == "settext" && argc == 5) {
    int length = MultiByteToWideChar(CP_UTF8, 0, argv[4], -1, nullptr, 0);
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, argv[4], -1, text.data(), length);
    return SendMessageW(Control(argv[2], argv[3]), WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>(text.c_str()))
               ? 0
               : 1;
  }
  if (mode == "post" && argc == 5) {
    return PostMessageW(Handle(argv[2]),
                        static_cast<UINT>(std::strtoul(argv[3], nullptr, 10)),
                        std::strtoull(argv[4], nullptr, 10), 0)
               ? 0
               : 1;
  }
  if (argc != 4) {
    std::fprintf(
        stderr,
        "usage: window_probe windows | texts HWND | "
        "text|list|enabled|checked|click HWND ID | settext HWND ID TEXT | "
        "post HWND MSG WPARAM\n");
    return 2;
  }
  HWND control = Control(argv[2], argv[3]);
  if (control == nullptr) return 1;
  if (mode == "text") {
    std::printf("%s\n", WindowText(control).c_str());
    return 0;
  }
  if (mode == "list") return PrintList(control);
  if (mode == "checked") {
    std::printf("%d\n",
                static_cast<int>(SendMessageW(control, BM_GETCHECK, 0, 0)));
    return 0;
  }
  if (mode == "click") {
    SendMessageW(control, BM_CLICK, 0, 0);
    return 0;
  }
  if (mode == "enabled") {
    std::printf("%d\n", IsWindowEnabled(control) ? 1 : 0);
    return 0;
  }
  return 2;
}
