#include "platform/console.h"

#include <windows.h>
// After <windows.h>, which it needs.
#include <shellapi.h>

#include <atomic>

#include "platform/wide_text_win32.h"

namespace vm {
namespace {

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) == FILE_TYPE_CHAR &&
         GetConsoleMode(handle, &mode) != 0;
}

// A console shows UTF-16 whatever its output code page is; a pipe or file
// gets the UTF-8 bytes unchanged.
bool WriteTo(DWORD which, std::string_view utf8) {
  HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  if (IsConsole(handle)) {
    std::wstring wide = Utf8ToWide(utf8);
    size_t done = 0;
    while (done < wide.size()) {
      DWORD written = 0;
      if (!WriteConsoleW(handle, wide.data() + done,
                         static_cast<DWORD>(wide.size() - done), &written,
                         nullptr) ||
          written == 0) {
        return false;
      }
      done += written;
    }
    return true;
  }
  size_t done = 0;
  while (done < utf8.size()) {
    DWORD written = 0;
    if (!WriteFile(handle, utf8.data() + done,
                   static_cast<DWORD>(utf8.size() - done), &written, nullptr) ||
        written == 0) {
      return false;
    }
    done += written;
  }
  FlushFileBuffers(handle);
  return true;
}

// The handler OnInterrupt installs; set once, before the console can
// deliver an event.
std::function<int()> interrupt_handler;

BOOL WINAPI ConsoleEvent(DWORD) {
  // The system calls this on a thread of its own; the process ends here
  // instead of in the default handler, after the handler has run. The
  // handler may wait (for a configuration file's lock): a second event
  // ends the process at once.
  static std::atomic<bool> handling{false};
  if (!handling.exchange(true)) ExitProcess(interrupt_handler());
  ExitProcess(130);
  return TRUE;
}

}  // namespace

void HoldInterrupts() {}

void OnInterrupt(std::function<int()> handler) {
  interrupt_handler = std::move(handler);
  SetConsoleCtrlHandler(ConsoleEvent, TRUE);
}

bool StdoutIsTerminal() { return IsConsole(GetStdHandle(STD_OUTPUT_HANDLE)); }

bool StderrIsTerminal() { return IsConsole(GetStdHandle(STD_ERROR_HANDLE)); }

int StderrColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  if (!IsConsole(handle) || !GetConsoleScreenBufferInfo(handle, &info)) {
    return 0;
  }
  // A line wraps at the buffer's width, and is seen whole only within
  // the window's.
  int window = info.srWindow.Right - info.srWindow.Left + 1;
  return window < info.dwSize.X ? window : info.dwSize.X;
}

// A write to a closed pipe fails with ERROR_NO_DATA; there is no signal,
// nor a file size limit.
void IgnoreWriteSignals() {}

bool WriteStdout(std::string_view utf8) {
  return WriteTo(STD_OUTPUT_HANDLE, utf8);
}

bool WriteStderr(std::string_view utf8) {
  return WriteTo(STD_ERROR_HANDLE, utf8);
}

std::vector<std::string> CommandLineArguments(int, char**) {
  // argv holds the ANSI form, which loses every character outside the
  // console's code page; the wide command line does not.
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(WideToUtf8(wide[i]));
  LocalFree(wide);
  return arguments;
}

}  // namespace vm
