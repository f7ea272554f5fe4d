#include "platform/process_tag.h"

#include <windows.h>

#include <cstdint>
#include <sstream>
#include <string>

namespace vm {

namespace {

std::string HostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof(name);
  if (!GetComputerNameA(name, &size)) return "?";
  std::string host(name, size);
  for (char& c : host) {
    if (c <= ' ' || c > '~') c = '_';
  }
  return host.empty() ? "?" : host;
}

// The creation time of the process as text; empty when it cannot be told
// or the process has ended.
std::string StartTime(HANDLE process) {
  FILETIME created, exited, kernel, user;
  DWORD code = 0;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user) ||
      !GetExitCodeProcess(process, &code) || code != STILL_ACTIVE) {
    return "";
  }
  const uint64_t ticks = (static_cast<uint64_t>(created.dwHighDateTime) << 32) |
                         created.dwLowDateTime;
  return std::to_string(ticks);
}

}  // namespace

std::string ThisProcessTag() {
  return HostName() + " " + std::to_string(GetCurrentProcessId()) + " " +
         StartTime(GetCurrentProcess());
}

bool ProcessIsRunning(const std::string& tag) {
  std::istringstream fields(tag);
  std::string host, start, rest;
  unsigned long pid = 0;
  if (!(fields >> host >> pid >> start) || (fields >> rest) || pid == 0 ||
      host != HostName()) {
    return false;
  }
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                               static_cast<DWORD>(pid));
  if (process == nullptr) return false;
  const bool running = StartTime(process) == start;
  CloseHandle(process);
  return running;
}

}  // namespace vm
