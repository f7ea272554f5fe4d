#ifndef VM_APP_PROGRESS_MODEL_H_
#define VM_APP_PROGRESS_MODEL_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "migrate/run_observer.h"
#include "migrate/source_scan.h"
#include "session/progress_samples.h"
#include "util/thread_annotations.h"

namespace vm {

class FileSystem;

// What a session does with the mail, which decides what its progress counts.
enum class ProgressWork {
  kCopy,     // copies (and may then check the copies)
  kPreview,  // copies nothing: the bytes counted are what a run would copy
  kVerify,   // only checks: the bar counts the messages checked
};

// Where a run stands, as the progress line and the progress bar show it.
struct ProgressSnapshot {
  ProgressWork work = ProgressWork::kCopy;
  bool scanned = false;  // the source scan is done: the totals are known
  // The source was listed ahead: `totals` holds every message. When not
  // (a sync with a record of what it saw, which lists only what changed),
  // totals.messages and totals.bytes are those of the mailboxes gone
  // through so far, and the share done is of accounts.
  bool listed = true;
  bool verifying = false;     // the run checks the copies now
  SourceTotals totals;        // of the source
  SourceTotals done;          // accounts finished; messages handled (copied,
                              // present already or failed) and their bytes;
                              // with kCopy also those of accounts finished
                              // without going through their mailbox (an
                              // earlier run's, for one)
  uint64_t copied_bytes = 0;  // copied by this run (kPreview: would copy)
  int64_t verified = 0;       // messages checked by the verification
  double seconds = 0;         // since the scan ended
  uint64_t sequence = 0;      // of the listener's calls: a later one is newer

  // The share of the work done, 0 to 1: bytes handled of all, or messages
  // (accounts) when there are none, or accounts when not `listed`;
  // messages checked while verifying.
  double Fraction() const;
  // Bytes copied per second.
  double CopyRate() const;
  // Seconds left at the pace so far; negative while unknown.
  double SecondsLeft() const;
};

// The one model of a run's progress both front ends draw: the totals from
// ScanSourceMailboxes once the source lists are read (or as the run goes,
// see CountAsItGoes), and the counters fed
// by the run's own events (from any thread). The listener is told of a
// change at most once per `interval` seconds, and at once when the scan
// ends or Notify is called; it runs on the thread of the event, after the
// model's lock is released, so two threads may call it at once and a
// listener that draws keeps only the snapshot of the highest `sequence`.
// An account that ends without its mailbox being gone through (present
// already, refused) counts its messages as handled: a continued run's bar
// starts from the accounts an earlier run finished. Drawing stays off
// the copies' path: a listener that only posts a message costs them
// nothing.
class ProgressModel : public RunObserver {
 public:
  using Listener = std::function<void(const ProgressSnapshot&)>;
  // `now` gives seconds from any fixed point.
  ProgressModel(FileSystem* fs, std::string source_dir,
                std::function<double()> now, Listener listener = nullptr,
                double interval = 0.25);

  // Before the run starts: what the session does (kCopy unless told).
  void SetWork(ProgressWork work);
  // Before the run starts: the source is not listed ahead, and an account
  // that ends without its mailbox gone through is not listed either (a
  // sync that skips the mailboxes its record shows unchanged; see
  // ProgressSnapshot::listed).
  void CountAsItGoes();

  void OnSourceLoaded(const SourceDomainList& domains) override;
  void OnAccountBegin(const std::string& user, const std::string& domain,
                      const std::string& target_box) override;
  void OnMessage(uint64_t bytes, bool copied) override;
  void OnAccountEnd(const std::string& user, const std::string& domain,
                    AccountOutcome outcome, const std::string& reason,
                    const std::string& target_box) override;
  void OnVerified(const std::string& user, const std::string& domain,
                  const std::string& folder, int64_t checked, int64_t missing,
                  int64_t different) override;

  ProgressSnapshot Snapshot() const;
  // Tells the listener the present state, whatever the interval.
  void Notify();
  // The run has ended: the time stops, and the listener is told.
  void Finish();

  // Seconds the source scan took.
  double scan_seconds() const;
  // Messages copied against time since the scan ended, a point about once
  // a second (fewer, evenly spread, in a long run), for the report.
  std::vector<ProgressPoint> Samples() const;

 private:
  ProgressSnapshot SnapshotLocked() const REQUIRES(mutex_);
  // The snapshot to tell the listener of, if it is to be told now.
  std::optional<ProgressSnapshot> ChangedLocked(bool force) REQUIRES(mutex_);
  // Offers the samples the present count.
  void SampleLocked() REQUIRES(mutex_);
  // Tells the listener, without the lock.
  void Tell(const std::optional<ProgressSnapshot>& snapshot) EXCLUDES(mutex_);

  FileSystem* fs_;
  std::string source_dir_;
  std::function<double()> now_;
  Listener listener_;
  double interval_;
  // Guards the counters; never held while the listener runs or the source
  // is scanned.
  mutable Mutex mutex_;
  ProgressSnapshot state_ GUARDED_BY(mutex_);  // all but `seconds`
  double started_ GUARDED_BY(mutex_) = 0;
  double finished_ GUARDED_BY(mutex_) = -1;  // when Finish was called
  double told_at_ GUARDED_BY(mutex_) = -1;
  double scan_seconds_ GUARDED_BY(mutex_) = 0;
  int64_t copied_messages_ GUARDED_BY(mutex_) = 0;
  ProgressSamples samples_ GUARDED_BY(mutex_);
  // The account between its OnAccountBegin and its OnAccountEnd.
  std::optional<std::pair<std::string, std::string>> in_mailbox_
      GUARDED_BY(mutex_);
};

// The status line of the dialog (UTF-8): accounts, messages and megabytes
// done of all, the copy rate and the time left; what it checks while
// verifying; what it waits for before the scan.
std::string ProgressStatusText(const ProgressSnapshot& snapshot);

// The status line once a run has ended (UTF-8): what it did (what it
// would copy, for a preview; what it checked, for a verification), and how
// long it took.
std::string ProgressSummaryText(const ProgressSnapshot& snapshot);

// "1:02:03" (hours, minutes, seconds).
std::string DurationText(double seconds);

}  // namespace vm

#endif  // VM_APP_PROGRESS_MODEL_H_
