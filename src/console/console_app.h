#ifndef VM_CONSOLE_CONSOLE_APP_H_
#define VM_CONSOLE_CONSOLE_APP_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "session/run_log.h"
#include "session/target_lock.h"

namespace vm {

class FileSystem;
class SharedConfigStates;

struct ConsoleSetup;

// How the console takes a target's run lock for a session (a run or an
// undo): with --wait a busy lock is waited for, said once on stderr; a
// refusal is told on stderr, unless a stop request ended the wait. Null
// when `io` opens no run locks (a target in memory).
struct ConsoleIo;
TargetLocker ConsoleLocker(const ConsoleSetup& p, const ConsoleIo& io);

// Exit statuses of velquor-migrate.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;    // start-up or run failed
inline constexpr int kExitUsage = 2;      // bad options; nothing written
inline constexpr int kExitStopped = 130;  // ended by Ctrl-C or a signal

// How the records name the end an exit status tells.
inline RunEnd EndOfStatus(int status) {
  return status == kExitSuccess   ? RunEnd::kSucceeded
         : status == kExitStopped ? RunEnd::kStopped
                                  : RunEnd::kFailed;
}

// Where the console front end writes, and how it opens the file system for
// a code page; tests replace them.
struct ConsoleIo {
  // Both return false when the text could not be written.
  std::function<bool(const std::string& utf8)> out;
  std::function<bool(const std::string& utf8)> err;
  bool out_is_terminal = false;
  bool err_is_terminal = false;
  // The disk, with names in the given code page; null when unknown.
  std::function<std::unique_ptr<FileSystem>(const std::string& code_page)>
      open_file_system;
  // Arms `handler` to run once, on a thread of its own, when the user or
  // the system ends the program; the process ends after it, with the status
  // it returns (the run's own). A second interrupt ends the process at once.
  // Called before the run starts any thread. May be empty (nothing is
  // armed).
  std::function<void(std::function<int()> handler)> on_interrupt;
  // Called on the handler's thread once the interrupt has requested the
  // stop, before the handler waits for the run's end. May be empty.
  std::function<void()> stop_requested;
  // Opens the target's run lock (OpenRunLock); empty: the run takes none
  // (a target in an in-memory file system).
  RunLockOpener open_run_lock;
  // The shared state of the configuration files for the run; owned by the
  // caller. Must be set.
  SharedConfigStates* config_states = nullptr;
};

// The whole command-line program: parses `args` (UTF-8, without the program
// name), does the start-up of an installed target (--target) or of the
// temporary-folder mode (--output), runs one migration (or a dry run, or a
// verification) and returns the exit status. A standard output that cannot
// be written never stops the run: it finishes, the failure is told on
// stderr and the status is kExitFailure. Nothing is written before every
// check has passed. An interrupt is the session's stop request: the run
// finishes the copies in flight and the account it is at, the stores save
// what they hold, stderr tells that the run stopped, the report (accounts
// not reached marked unfinished) and the log's end are written, and the
// status is kExitStopped.
int RunConsole(const std::vector<std::string>& args, const ConsoleIo& io);

}  // namespace vm

#endif  // VM_CONSOLE_CONSOLE_APP_H_
