#include "session/target_lock.h"

#include <chrono>
#include <thread>

#include "migrate/run_host.h"
#include "migrate/stop_request.h"
#include "migrate/texts.h"
#include "migrate/undo_run.h"
#include "platform/clock.h"
#include "platform/code_page.h"
#include "session/run_report.h"

namespace vm {

namespace {

// How often a wait tries the lock again.
constexpr auto kRetryEvery = std::chrono::milliseconds(200);

// The value of "key=" in the holder's text; empty when absent.
std::string Field(const std::string& text, const std::string& key) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    if (text.compare(at, key.size() + 1, key + "=") == 0) {
      return text.substr(at + key.size() + 1, end - at - key.size() - 1);
    }
    at = end + 1;
  }
  return std::string();
}

}  // namespace

TargetLockRequest TargetLockRequestFor(FileSystem* fs, const AppState& state,
                                       bool writes, const char* front_end,
                                       int64_t started) {
  TargetLockRequest request;
  request.folder = ManifestDataFolder(fs, state.target_dir);
  request.mode = writes ? RunLockMode::kExclusive : RunLockMode::kShared;
  request.front_end = front_end;
  request.started = started;
  return request;
}

TargetLockOutcome TakeSessionLock(const TargetLocker& locker, FileSystem* fs,
                                  const AppState& state, bool writes,
                                  int64_t started, const StopRequest* stop,
                                  RunHost* host) {
  if (!locker) {
    TargetLockOutcome none;
    none.go = true;
    return none;
  }
  TargetLockOutcome outcome =
      locker(TargetLockRequestFor(fs, state, writes, "dialog", started), stop);
  if (!outcome.go && !outcome.message.empty()) {
    host->ShowMessage(MessageKind::kError, outcome.message);
  }
  if (outcome.go && !outcome.notice.empty()) {
    host->ShowMessage(MessageKind::kNotice, outcome.notice);
  }
  return outcome;
}

std::string HolderText(const std::string& host, int64_t pid, int64_t started,
                       const char* front_end) {
  std::string safe_host;
  for (char c : host) {
    safe_host.push_back(c == '\n' || c == '\r' ? ' ' : c);
  }
  return "velquor-migrate run\nhost=" + safe_host +
         "\npid=" + std::to_string(pid) + "\nstarted=" + IsoTime(started) +
         "\nfront_end=" + front_end + "\n";
}

std::string DescribeHolder(const std::string& text, const CodePage& code_page,
                           const Texts& texts) {
  const std::string host = Field(text, "host");
  const std::string pid = Field(text, "pid");
  const std::string started = Field(text, "started");
  const std::string front_end = Field(text, "front_end");
  if (host.empty() || pid.empty()) return texts.run_lock_holder_unknown;
  return texts.run_lock_host + code_page.ToAnsi(host) + texts.run_lock_pid +
         code_page.ToAnsi(pid) + texts.run_lock_since +
         code_page.ToAnsi(started) +
         (front_end == "dialog" ? texts.run_lock_dialog
                                : texts.run_lock_console);
}

TargetLockOutcome TakeTargetLock(const TargetLockRequest& request,
                                 const CodePage& code_page, const Texts& texts,
                                 const TargetLockBusy& busy,
                                 const StopRequest* stop) {
  TargetLockOutcome outcome;
  std::string error;
  bool missing = false;
  const bool writes = request.mode == RunLockMode::kExclusive;
  std::unique_ptr<RunLock> lock =
      request.open(code_page, request.folder, writes, &error, &missing);
  if (lock == nullptr) {
    // Every writer makes the file before it writes anything: a reader that
    // finds none has nothing to share it with. A writer without its lock
    // could meet another run that cannot make the file either (a folder
    // made read-only for files, an immutable one): it does not go.
    if (writes) {
      outcome.message =
          texts.run_lock_failed + FileErrorMessage(texts, error, &code_page);
      return outcome;
    }
    outcome.go = true;
    if (!missing) {
      outcome.notice = texts.run_lock_reader_without +
                       FileErrorMessage(texts, error, &code_page);
    }
    return outcome;
  }
  const std::string text = HolderText(ThisHostName(), ThisProcessId(),
                                      request.started, request.front_end);
  LockResult result = lock->TryLock(request.mode, text);
  if (result == LockResult::kBusy) {
    // Who holds it: the writer, or previews and checks only.
    const bool writer = lock->HeldExclusively();
    const std::string holder =
        writer ? DescribeHolder(lock->HolderText(), code_page, texts)
               : texts.run_lock_readers;
    const int64_t seconds = busy ? busy(holder) : 0;
    const Clock* clock = SystemClock();
    const int64_t deadline = clock->MonotonicMillis() + seconds * 1000;
    while (result == LockResult::kBusy && seconds > 0 &&
           clock->MonotonicMillis() < deadline &&
           (stop == nullptr || !stop->requested())) {
      std::this_thread::sleep_for(kRetryEvery);
      result = lock->TryLock(request.mode, text);
    }
    if (result == LockResult::kBusy) {
      outcome.message = seconds > 0 ? texts.run_lock_gave_up + holder
                        : writer    ? texts.run_lock_busy + holder
                                    : texts.run_lock_busy_reader;
      return outcome;
    }
  }
  if (result != LockResult::kLocked) {
    outcome.message = texts.run_lock_failed + code_page.ToAnsi(lock->where());
    return outcome;
  }
  outcome.lock = std::move(lock);
  outcome.go = true;
  return outcome;
}

}  // namespace vm
