#include "app/progress_meter.h"

#include <cstdio>

namespace vm {

namespace {

constexpr double kRedrawSeconds = 0.25;

std::string Duration(double seconds) {
  long long s = static_cast<long long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof(text), "%lld:%02lld:%02lld", s / 3600, s / 60 % 60,
                s % 60);
  return text;
}

}  // namespace

ProgressMeter::ProgressMeter(FileSystem* fs, std::string source_dir,
                             Writer write, std::function<double()> now)
    : fs_(fs),
      source_dir_(std::move(source_dir)),
      write_(std::move(write)),
      now_(std::move(now)) {}

void ProgressMeter::OnSourceLoaded(const SourceDomainList& domains) {
  std::lock_guard<std::mutex> lock(mutex_);
  double before = now_();
  totals_ = ScanSourceMailboxes(fs_, source_dir_, domains);
  started_ = now_();
  scan_seconds_ = started_ - before;
  scanned_ = true;
  Draw(true);
}

void ProgressMeter::OnMessage(uint64_t bytes, bool copied) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++done_.messages;
  done_.bytes += bytes;
  if (copied) copied_bytes_ += bytes;
  Draw(false);
}

void ProgressMeter::OnAccountEnd(const std::string&, const std::string&,
                                 AccountOutcome outcome, const std::string&,
                                 const std::string&) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Accounts the source lists left out are not in the totals.
  if (!scanned_ || outcome == AccountOutcome::kSkippedNoDomainLine) return;
  ++done_.accounts;
  Draw(false);
}

void ProgressMeter::Erase() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (shown_ == 0) return;
  std::string blank(shown_ + 2, ' ');
  blank.front() = '\r';
  blank.back() = '\r';
  write_(blank);
  shown_ = 0;
  drawn_at_ = -1;
}

void ProgressMeter::Finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!scanned_) return;
  Draw(true);
  write_("\n");
  shown_ = 0;
}

std::string ProgressMeter::Line(const SourceTotals& totals,
                                const SourceTotals& done, uint64_t copied_bytes,
                                double seconds) {
  const double mb = 1048576.0;
  double rate = seconds > 0 ? done.bytes / mb / seconds : 0;
  std::string eta = "-:--:--";
  if (rate > 0 && totals.bytes >= done.bytes) {
    eta = Duration((totals.bytes - done.bytes) / mb / rate);
  }
  char text[200];
  std::snprintf(text, sizeof(text),
                "accounts %lld/%lld  messages %lld/%lld  %.1f/%.1f MB "
                "(%.1f MB copied)  %.1f MB/s  left %s",
                static_cast<long long>(done.accounts),
                static_cast<long long>(totals.accounts),
                static_cast<long long>(done.messages),
                static_cast<long long>(totals.messages), done.bytes / mb,
                totals.bytes / mb, copied_bytes / mb, rate, eta.c_str());
  return text;
}

void ProgressMeter::Draw(bool force) {
  if (!scanned_) return;
  double now = now_();
  if (!force && drawn_at_ >= 0 && now - drawn_at_ < kRedrawSeconds) return;
  drawn_at_ = now;
  std::string line = Line(totals_, done_, copied_bytes_, now - started_);
  // Blanks wipe what a longer earlier line left.
  std::string pad = shown_ > line.size()
                        ? std::string(shown_ - line.size(), ' ')
                        : std::string();
  write_("\r" + line + pad);
  shown_ = line.size();
}

}  // namespace vm
