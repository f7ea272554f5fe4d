#include "session/run_log.h"

#include "session/run_report.h"

namespace vm {
namespace {

std::string NamedLines(const std::vector<LogLine>& lines) {
  std::string text;
  for (const auto& [name, value] : lines) {
    if (!value.empty()) text += "== " + name + ": " + value + "\n";
  }
  return text;
}

}  // namespace

std::string RunLogHeader(const LogHead& head) {
  return "== velquor-migrate " + head.version + " started " +
         IsoTime(head.started) + "\n== " + head.command +
         "\n== kind: " + head.kind + "\n" + NamedLines(head.lines);
}

std::string RunLogEnd(const std::vector<LogLine>& lines, int64_t ended,
                      RunEnd end, int status) {
  const char* outcome = end == RunEnd::kSucceeded ? "succeeded"
                        : end == RunEnd::kStopped ? "stopped; a rerun continues"
                                                  : "failed";
  return NamedLines(lines) + "== ended " + IsoTime(ended) + ": " + outcome +
         (status < 0 ? "" : " (exit status " + std::to_string(status) + ")") +
         "\n";
}

}  // namespace vm
