#ifndef VM_APP_RUN_LOG_H_
#define VM_APP_RUN_LOG_H_

#include <cstdint>
#include <string>

namespace vm {

class FileSystem;

// The --log file. Every run appends its own part, UTF-8 with LF line ends,
// so earlier runs stay:
//
//   == velquor-migrate 1.0.0 started 2026-12-07T01:02:03Z
//   == velquor-migrate --source ... --password ***
//   (the final result list, one entry per line)
//   == ended 2026-12-07T01:09:30Z: succeeded (exit status 0)
//
// The outcome is "succeeded", "failed" or "stopped; a rerun continues".

// The part's first two lines.
std::string RunLogHeader(const std::string& version, int64_t started,
                         const std::string& shown_command_line);

// How a run or an undo ended, as its records say it; each front end maps
// it to its own exit status or words.
enum class RunEnd {
  kSucceeded,  // everything done, nothing failed
  kFailed,     // anything failed, was left out or kept
  kStopped,    // a stop request ended it; the same command continues
};

// The part's last line: the outcome, and the exit status the front end
// gave it.
std::string RunLogEnd(int64_t ended, RunEnd end, int status);

}  // namespace vm

#endif  // VM_APP_RUN_LOG_H_
