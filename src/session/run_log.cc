#include "session/run_log.h"

#include "session/run_report.h"

namespace vm {

std::string RunLogHeader(const std::string& version, int64_t started,
                         const std::string& shown_command_line) {
  return "== velquor-migrate " + version + " started " + IsoTime(started) +
         "\n== " + shown_command_line + "\n";
}

std::string RunLogEnd(int64_t ended, RunEnd end, int status) {
  const char* outcome = end == RunEnd::kSucceeded ? "succeeded"
                        : end == RunEnd::kStopped ? "stopped; a rerun continues"
                                                  : "failed";
  return "== ended " + IsoTime(ended) + ": " + outcome + " (exit status " +
         std::to_string(status) + ")\n";
}

}  // namespace vm
