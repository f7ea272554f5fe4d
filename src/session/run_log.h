#ifndef VM_APP_RUN_LOG_H_
#define VM_APP_RUN_LOG_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vm {

// The log, in one format for runs and undos of both front ends. Each run
// or undo writes its own part, UTF-8 with LF line ends, so the parts of
// several runs can share a file (the console's --log is appended to):
//
//   == velquor-migrate 1.0.0 started 2026-12-07T01:02:03Z
//   == velquor-migrate --source ... --password ***
//   == kind: migrate
//   == source: /srv/velquor
//   == source mail: /srv/velquor/mail
//   == target: /opt/tarnwick
//   == target mail: /opt/tarnwick/store
//   == options: password-mode same, sync no, verify none, jobs 4
//   (the final result list, one entry per line)
//   == failure lines 0, failed copies 0, left out 0, not reached 0
//   == report: /root/run.json
//   == ended 2026-12-07T01:09:30Z: succeeded (exit status 0)
//
// The second line is the command line as the console was given it, or
// what the dialog was asked to do. The head's named lines and the end's
// differ by kind (an undo names its manifest and counts its items); a
// line whose value is empty is left out. The outcome is "succeeded",
// "failed" or "stopped; a rerun continues"; the exit status is left out
// by a front end that has none.

// A named line: its name and its value (UTF-8).
using LogLine = std::pair<std::string, std::string>;

// What the head of a part says (UTF-8).
struct LogHead {
  std::string version;
  int64_t started = 0;
  std::string command;
  // "migrate", "sync", "preview", "verify", "undo" or "undo-preview".
  std::string kind;
  std::vector<LogLine> lines;
};

// The part's head: its first lines, up to the result list.
std::string RunLogHeader(const LogHead& head);

// How a run or an undo ended, as its records say it; each front end maps
// it to its own exit status or words.
enum class RunEnd {
  kSucceeded,  // everything done, nothing failed
  kFailed,     // anything failed, was left out or kept
  kStopped,    // a stop request ended it; the same command continues
};

// The part's end, after the result list: `lines` (the counts, the
// report), then the outcome and the exit status the front end gave it
// (`status` < 0: none).
std::string RunLogEnd(const std::vector<LogLine>& lines, int64_t ended,
                      RunEnd end, int status);

}  // namespace vm

#endif  // VM_APP_RUN_LOG_H_
