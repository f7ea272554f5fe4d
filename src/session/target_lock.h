#ifndef VM_APP_TARGET_LOCK_H_
#define VM_APP_TARGET_LOCK_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/run_lock.h"
#include "session/startup.h"

namespace vm {

class CodePage;
class FileSystem;
class RunHost;
class StopRequest;
struct Texts;

// One run's claim on its target, taken by both front ends before the run
// reads anything of the target and kept to its end: a run that writes
// holds the target alone; a preview or a verification shares it with
// other readers only. The lock lies in the target itself (the `data`
// folder of an installed target, the output folder itself), so every
// spelling of the path, a mail store not made yet and both front ends
// meet the same lock.
// How the lock file is opened: OpenRunLock, or a test's own.
using RunLockOpener = std::function<std::unique_ptr<RunLock>(
    const CodePage& code_page, const std::string& dir, bool create,
    std::string* error, bool* missing)>;

struct TargetLockRequest {
  RunLockOpener open = OpenRunLock;
  std::string folder;  // ANSI: the folder that holds the lock file
  RunLockMode mode = RunLockMode::kExclusive;
  const char* front_end = "console";  // "console" or "dialog"
  int64_t started = 0;                // the run's start, seconds since 1970
};

struct TargetLockOutcome {
  std::unique_ptr<RunLock> lock;  // held; null when none was taken
  bool go = false;                // the run may start
  std::string message;            // ANSI; why not, when !go
  // ANSI; a reader that goes on without the lock says why, in one line.
  std::string notice;
};

// Asked once when another run holds the lock, with the holder's
// description (ANSI; run_lock_readers when only previews and checks hold
// it): how many seconds to wait for it (0: none). The front end announces
// the wait itself.
using TargetLockBusy = std::function<int64_t(const std::string& holder)>;

// Takes the lock of `request.folder`. A writer that cannot make, open or
// take its lock file writes nothing: it is refused with the folder and the
// error (it never guesses that no other run could write either). A reader
// makes no file: where there is none, no writer has used the target yet,
// and it goes on silently; where the file cannot be used, it goes on
// without it and says so (`notice`). While another holder is in the way,
// `busy` decides whether to wait; a wait polls until the lock is free, the
// time is up or `stop` (may be null) is requested.
TargetLockOutcome TakeTargetLock(const TargetLockRequest& request,
                                 const CodePage& code_page, const Texts& texts,
                                 const TargetLockBusy& busy,
                                 const StopRequest* stop);

// The request of a run on the target of `state`: exclusive for a run that
// `writes`, shared for one that only reads. The lock lies in the folder
// whose configuration files a run writes (the `data` folder when the
// target has one, installed or named as an output folder; else the output
// folder itself), so that --target, --output and the dialog meet one lock.
TargetLockRequest TargetLockRequestFor(FileSystem* fs, const AppState& state,
                                       bool writes, const char* front_end,
                                       int64_t started);

// How a front end takes the lock for a session: TakeTargetLock with its
// own answer to a busy lock.
using TargetLocker = std::function<TargetLockOutcome(
    const TargetLockRequest& request, const StopRequest* stop)>;

// The dialog's session takes its lock through `locker` (null: none is
// taken, as for a target in an in-memory file system), as a "dialog" run;
// a refusal is shown on `host`.
TargetLockOutcome TakeSessionLock(const TargetLocker& locker, FileSystem* fs,
                                  const AppState& state, bool writes,
                                  int64_t started, const StopRequest* stop,
                                  RunHost* host);

// The text an exclusive holder writes into the lock file, and the holder's
// description (ANSI) a refused run shows, read back from that text.
std::string HolderText(const std::string& host, int64_t pid, int64_t started,
                       const char* front_end);
std::string DescribeHolder(const std::string& text, const CodePage& code_page,
                           const Texts& texts);

}  // namespace vm

#endif  // VM_APP_TARGET_LOCK_H_
