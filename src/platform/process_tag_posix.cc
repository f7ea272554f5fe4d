#include "platform/process_tag.h"

#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

namespace vm {

namespace {

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof(name) - 1) != 0) return "?";
  std::string host(name);
  for (char& c : host) {
    if (c <= ' ' || c > '~') c = '_';
  }
  return host.empty() ? "?" : host;
}

// The start time of process `pid` in clock ticks since boot (the 22nd
// field of its stat line, counted after the command name, which may hold
// spaces and parentheses); empty when it is not running.
std::string StartTime(long pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return "";
  const size_t name_end = line.rfind(')');
  if (name_end == std::string::npos) return "";
  std::istringstream fields(line.substr(name_end + 1));
  std::string field;
  for (int i = 3; i <= 22; ++i) {
    if (!(fields >> field)) return "";
  }
  return field;
}

}  // namespace

std::string ThisProcessTag() {
  const long pid = static_cast<long>(::getpid());
  return HostName() + " " + std::to_string(pid) + " " + StartTime(pid);
}

bool ProcessIsRunning(const std::string& tag) {
  std::istringstream fields(tag);
  std::string host, start, rest;
  long pid = 0;
  if (!(fields >> host >> pid >> start) || (fields >> rest) || pid <= 0) {
    return false;
  }
  return host == HostName() && StartTime(pid) == start;
}

}  // namespace vm
