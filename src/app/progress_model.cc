#include "app/progress_model.h"

#include <cstdio>

namespace vm {

namespace {

constexpr double kMegabyte = 1048576.0;

}  // namespace

double ProgressSnapshot::Fraction() const {
  if (!scanned) return 0;
  double part = 0;
  if (verifying) {
    if (totals.messages == 0) return 1;
    part = static_cast<double>(verified) / static_cast<double>(totals.messages);
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
  if (!scanned || verifying || fraction <= 0 || seconds <= 0) return -1;
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

void ProgressModel::OnSourceLoaded(const SourceDomainList& domains) {
  // The scan reads the source's folders: outside the lock.
  const double before = now_();
  const SourceTotals totals = ScanSourceMailboxes(fs_, source_dir_, domains);
  const double after = now_();
  std::optional<ProgressSnapshot> told;
  {
    MutexLock lock(&mutex_);
    state_.totals = totals;
    started_ = after;
    scan_seconds_ = after - before;
    state_.scanned = true;
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
    if (copied) state_.copied_bytes += bytes;
    told = ChangedLocked(false);
  }
  Tell(told);
}

void ProgressModel::OnAccountEnd(const std::string&, const std::string&,
                                 AccountOutcome outcome, const std::string&,
                                 const std::string&) {
  std::optional<ProgressSnapshot> told;
  {
    MutexLock lock(&mutex_);
    // Accounts the source lists left out are not in the totals; those a
    // stop left were not done.
    if (!state_.scanned || outcome == AccountOutcome::kSkippedNoDomainLine ||
        outcome == AccountOutcome::kUnfinished) {
      return;
    }
    ++state_.done.accounts;
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
    told = ChangedLocked(true);
  }
  Tell(told);
}

double ProgressModel::scan_seconds() const {
  MutexLock lock(&mutex_);
  return scan_seconds_;
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
  char text[256];
  if (!s.scanned) return "正在读取源列表并统计邮件...";
  if (s.verifying) {
    std::snprintf(text, sizeof(text), "正在校验邮件：已校验 %lld/%lld 封",
                  static_cast<long long>(s.verified),
                  static_cast<long long>(s.totals.messages));
    return text;
  }
  double left = s.SecondsLeft();
  std::snprintf(
      text, sizeof(text),
      "帐户 %lld/%lld，邮件 %lld/%lld，%.1f/%.1f MB（已复制 %.1f MB），"
      "%.1f MB/秒，剩余 %s",
      static_cast<long long>(s.done.accounts),
      static_cast<long long>(s.totals.accounts),
      static_cast<long long>(s.done.messages),
      static_cast<long long>(s.totals.messages), s.done.bytes / kMegabyte,
      s.totals.bytes / kMegabyte, s.copied_bytes / kMegabyte,
      s.CopyRate() / kMegabyte,
      left < 0 ? "计算中" : DurationText(left).c_str());
  return text;
}

std::string ProgressSummaryText(const ProgressSnapshot& s) {
  char text[256];
  std::snprintf(text, sizeof(text),
                "帐户 %lld/%lld，邮件 %lld/%lld，已复制 %.1f MB，用时 %s",
                static_cast<long long>(s.done.accounts),
                static_cast<long long>(s.totals.accounts),
                static_cast<long long>(s.done.messages),
                static_cast<long long>(s.totals.messages),
                s.copied_bytes / kMegabyte, DurationText(s.seconds).c_str());
  return text;
}

}  // namespace vm
