#include "session/progress_model.h"

#include <cstdio>

#include "migrate/texts.h"

namespace vm {

namespace {

constexpr double kMegabyte = 1048576.0;

// "3/10".
std::string Counted(int64_t done, int64_t all) {
  return std::to_string(done) + "/" + std::to_string(all);
}

// Bytes as megabytes, one decimal, without the unit.
std::string MegabyteText(double bytes) {
  char text[40];
  std::snprintf(text, sizeof(text), "%.1f", bytes / kMegabyte);
  return text;
}

// Messages handled of all ("3/10"), or, when the source was not listed
// ahead, those handled so far ("3 封").
std::string MailsDone(const ProgressSnapshot& s) {
  if (s.listed) return Counted(s.done.messages, s.totals.messages);
  return std::to_string(s.done.messages) + ProgressWords().progress_mails_unit;
}

}  // namespace

double ProgressSnapshot::Fraction() const {
  if (!scanned) return 0;
  double part = 0;
  if (verifying || work == ProgressWork::kVerify) {
    if (totals.messages == 0) return 1;
    part = static_cast<double>(verified) / static_cast<double>(totals.messages);
  } else if (!listed) {
    if (totals.accounts == 0) return 1;
    part = static_cast<double>(done.accounts) /
           static_cast<double>(totals.accounts);
  } else if (totals.bytes > 0) {
    part = static_cast<double>(done.bytes) / static_cast<double>(totals.bytes);
  } else if (totals.messages > 0) {
    part = static_cast<double>(done.messages) /
           static_cast<double>(totals.messages);
  } else if (totals.accounts > 0) {
    part = static_cast<double>(done.accounts) /
           static_cast<double>(totals.accounts);
  } else {
    return 1;
  }
  return part < 0 ? 0 : part > 1 ? 1 : part;
}

double ProgressSnapshot::CopyRate() const {
  return seconds > 0 ? static_cast<double>(copied_bytes) / seconds : 0;
}

double ProgressSnapshot::SecondsLeft() const {
  // Present messages cost a look, copied ones their bytes: the pace of
  // the whole share done so far covers both.
  double fraction = Fraction();
  if (!scanned || verifying || work == ProgressWork::kVerify || fraction <= 0 ||
      seconds <= 0) {
    return -1;
  }
  return seconds * (1 - fraction) / fraction;
}

ProgressModel::ProgressModel(FileSystem* fs, std::string source_dir,
                             std::function<double()> now, Listener listener,
                             double interval)
    : fs_(fs),
      source_dir_(std::move(source_dir)),
      now_(std::move(now)),
      listener_(std::move(listener)),
      interval_(interval) {}

void ProgressModel::SetWork(ProgressWork work) {
  MutexLock lock(&mutex_);
  state_.work = work;
}

void ProgressModel::CountAsItGoes() {
  MutexLock lock(&mutex_);
  state_.listed = false;
}

void ProgressModel::OnAccountBegin(const std::string& user,
                                   const std::string& domain,
                                   const std::string&) {
  MutexLock lock(&mutex_);
  in_mailbox_ = {user, domain};
}

void ProgressModel::OnSourceLoaded(const SourceDomainList& domains) {
  // The scan reads the source's folders: outside the lock.
  bool listed = true;
  {
    MutexLock lock(&mutex_);
    listed = state_.listed;
  }
  const double before = now_();
  SourceTotals totals;
  if (listed) {
    totals = ScanSourceMailboxes(fs_, source_dir_, domains);
  } else {
    for (const SourceDomain& domain : domains) {
      totals.accounts += static_cast<int64_t>(domain.accounts.size());
    }
  }
  const double after = now_();
  std::optional<ProgressSnapshot> told;
  {
    MutexLock lock(&mutex_);
    state_.totals = totals;
    started_ = after;
    scan_seconds_ = after - before;
    state_.scanned = true;
    samples_.Keep(0, copied_messages_);
    told = ChangedLocked(true);
  }
  Tell(told);
}

void ProgressModel::OnMessage(uint64_t bytes, bool copied) {
  std::optional<ProgressSnapshot> told;
  {
    MutexLock lock(&mutex_);
    ++state_.done.messages;
    state_.done.bytes += bytes;
    if (!state_.listed) {
      ++state_.totals.messages;
      state_.totals.bytes += bytes;
    }
    if (copied) {
      state_.copied_bytes += bytes;
      ++copied_messages_;
    }
    SampleLocked();
    told = ChangedLocked(false);
  }
  Tell(told);
}

void ProgressModel::OnAccountEnd(const std::string& user,
                                 const std::string& domain,
                                 AccountOutcome outcome, const std::string&,
                                 const std::string&) {
  // An account that ends without its mailbox gone through has its
  // messages handled all the same (left as they are); they are listed
  // outside the lock, as copies of later accounts may count meanwhile.
  // Counting as the run goes, they are not listed: a sync skipped them
  // to spare that very listing.
  bool went_through = false;
  bool counted = false;
  bool list = false;
  {
    MutexLock lock(&mutex_);
    went_through =
        in_mailbox_.has_value() && *in_mailbox_ == std::make_pair(user, domain);
    if (went_through) in_mailbox_.reset();
    // Accounts the source lists left out are not in the totals; those a
    // stop left were not done.
    counted = state_.scanned &&
              outcome != AccountOutcome::kSkippedNoDomainLine &&
              outcome != AccountOutcome::kUnfinished;
    list = !went_through && state_.work == ProgressWork::kCopy && state_.listed;
  }
  if (!counted) return;
  SourceTotals box;
  if (list) box = ScanSourceMailbox(fs_, source_dir_, user);
  std::optional<ProgressSnapshot> told;
  {
    MutexLock lock(&mutex_);
    state_.done.messages += box.messages;
    state_.done.bytes += box.bytes;
    ++state_.done.accounts;
    SampleLocked();
    told = ChangedLocked(false);
  }
  Tell(told);
}

void ProgressModel::OnVerified(const std::string&, const std::string&,
                               const std::string&, int64_t checked, int64_t,
                               int64_t) {
  std::optional<ProgressSnapshot> told;
  {
    MutexLock lock(&mutex_);
    state_.verifying = true;
    state_.verified += checked;
    told = ChangedLocked(false);
  }
  Tell(told);
}

ProgressSnapshot ProgressModel::SnapshotLocked() const {
  ProgressSnapshot snapshot = state_;
  if (snapshot.scanned) {
    snapshot.seconds = (finished_ >= 0 ? finished_ : now_()) - started_;
  }
  return snapshot;
}

ProgressSnapshot ProgressModel::Snapshot() const {
  MutexLock lock(&mutex_);
  return SnapshotLocked();
}

void ProgressModel::Notify() {
  std::optional<ProgressSnapshot> told;
  {
    MutexLock lock(&mutex_);
    told = ChangedLocked(true);
  }
  Tell(told);
}

void ProgressModel::Finish() {
  std::optional<ProgressSnapshot> told;
  {
    MutexLock lock(&mutex_);
    finished_ = now_();
    if (state_.scanned) samples_.Keep(finished_ - started_, copied_messages_);
    told = ChangedLocked(true);
  }
  Tell(told);
}

double ProgressModel::scan_seconds() const {
  MutexLock lock(&mutex_);
  return scan_seconds_;
}

std::vector<ProgressPoint> ProgressModel::Samples() const {
  MutexLock lock(&mutex_);
  return samples_.points();
}

void ProgressModel::SampleLocked() {
  if (state_.scanned && finished_ < 0) {
    samples_.Offer(now_() - started_, copied_messages_);
  }
}

std::optional<ProgressSnapshot> ProgressModel::ChangedLocked(bool force) {
  if (!listener_) return std::nullopt;
  double now = now_();
  if (!force && told_at_ >= 0 && now - told_at_ < interval_) {
    return std::nullopt;
  }
  told_at_ = now;
  ProgressSnapshot snapshot = SnapshotLocked();
  snapshot.sequence = ++state_.sequence;
  return snapshot;
}

void ProgressModel::Tell(const std::optional<ProgressSnapshot>& snapshot) {
  if (snapshot.has_value()) listener_(*snapshot);
}

std::string DurationText(double seconds) {
  long long s = static_cast<long long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof(text), "%lld:%02lld:%02lld", s / 3600, s / 60 % 60,
                s % 60);
  return text;
}

std::string ProgressStatusText(const ProgressSnapshot& s) {
  const ProgressTexts& w = ProgressWords();
  if (!s.scanned) return w.progress_reading;
  if (s.verifying || s.work == ProgressWork::kVerify) {
    return w.progress_verifying + Counted(s.verified, s.totals.messages) +
           w.progress_mails_unit;
  }
  const double left = s.SecondsLeft();
  const std::string done =
      w.progress_accounts + Counted(s.done.accounts, s.totals.accounts) +
      w.progress_mails + MailsDone(s) + w.progress_comma +
      MegabyteText(s.done.bytes) +
      (s.listed ? "/" + MegabyteText(s.totals.bytes) : std::string());
  const std::string left_text =
      w.progress_left + (left < 0 ? w.progress_computing : DurationText(left));
  if (s.work == ProgressWork::kPreview) {
    return done + w.progress_would_copy + MegabyteText(s.copied_bytes) +
           w.progress_mb_close + left_text;
  }
  return done + w.progress_copied + MegabyteText(s.copied_bytes) +
         w.progress_mb_close + MegabyteText(s.CopyRate()) +
         w.progress_per_second + left_text;
}

std::string ProgressSummaryText(const ProgressSnapshot& s) {
  const ProgressTexts& w = ProgressWords();
  std::string text =
      w.progress_accounts + Counted(s.done.accounts, s.totals.accounts);
  const std::string took = w.progress_took + DurationText(s.seconds);
  switch (s.work) {
    case ProgressWork::kVerify:
      return text + w.progress_verified_mails +
             Counted(s.verified, s.totals.messages) + w.progress_mails_unit +
             took;
    case ProgressWork::kPreview:
      return text + w.progress_mails + MailsDone(s) +
             w.progress_summary_would_copy + MegabyteText(s.copied_bytes) +
             w.progress_mb + took;
    case ProgressWork::kCopy:
      text += w.progress_mails + MailsDone(s) + w.progress_summary_copied +
              MegabyteText(s.copied_bytes) + w.progress_mb;
      if (s.verifying) {
        text += w.progress_checked + std::to_string(s.verified) +
                w.progress_mails_unit;
      }
      return text + took;
  }
  return text;
}

}  // namespace vm
