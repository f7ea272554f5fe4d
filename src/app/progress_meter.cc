#include "app/progress_meter.h"

#include <cstdio>
#include <iterator>

#include "platform/clock.h"

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
                             Writer write, const Clock* clock,
                             std::function<int()> columns)
    : fs_(fs),
      source_dir_(std::move(source_dir)),
      write_(std::move(write)),
      clock_(clock),
      columns_(std::move(columns)) {}

double ProgressMeter::Now() const {
  return static_cast<double>(clock_->MonotonicMicros()) / 1e6;
}

void ProgressMeter::OnSourceLoaded(const SourceDomainList& domains) {
  std::lock_guard<std::mutex> lock(mutex_);
  double before = Now();
  totals_ = ScanSourceMailboxes(fs_, source_dir_, domains);
  started_ = Now();
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
  if (!scanned_ || finished_) return;
  Draw(true);
  write_("\n");
  shown_ = 0;
  finished_ = true;
}

std::string ProgressMeter::Line(const SourceTotals& totals,
                                const SourceTotals& done, uint64_t copied_bytes,
                                double seconds, int columns) {
  const double mb = 1048576.0;
  // Under --sync most messages may be present already: the rate says how
  // fast copying goes, the time left how fast the run goes through them.
  double rate = seconds > 0 ? copied_bytes / mb / seconds : 0;
  double pace = seconds > 0 ? done.bytes / mb / seconds : 0;
  std::string eta = "-:--:--";
  if (pace > 0 && totals.bytes >= done.bytes) {
    eta = Duration((totals.bytes - done.bytes) / mb / pace);
  }
  auto ll = [](int64_t n) { return static_cast<long long>(n); };
  char accounts[64], messages[64], megabytes[64], copied[64], speed[64];
  std::snprintf(accounts, sizeof(accounts), "%lld/%lld", ll(done.accounts),
                ll(totals.accounts));
  std::snprintf(messages, sizeof(messages), "%lld/%lld", ll(done.messages),
                ll(totals.messages));
  std::snprintf(megabytes, sizeof(megabytes), "%.1f/%.1f MB", done.bytes / mb,
                totals.bytes / mb);
  std::snprintf(copied, sizeof(copied), "%.1f MB copied", copied_bytes / mb);
  std::snprintf(speed, sizeof(speed), "%.1f MB/s", rate);
  const std::string a = accounts, m = messages, left = "left " + eta;
  // Longest first; the first that fits is drawn. A line as wide as the
  // terminal would wrap on some terminals, so one column stays free.
  const std::string forms[] = {
      "accounts " + a + "  messages " + m + "  " + megabytes + " (" + copied +
          ")  " + speed + "  " + left,
      "accounts " + a + "  messages " + m + "  " + megabytes + "  " + speed +
          "  " + left,
      "acc " + a + "  msg " + m + "  " + megabytes + "  " + left,
      "acc " + a + "  msg " + m + "  " + left,
      "msg " + m + "  " + left,
  };
  if (columns <= 0) return forms[0];
  const size_t room = static_cast<size_t>(columns - 1);
  for (const std::string& form : forms) {
    if (form.size() <= room) return form;
  }
  return forms[std::size(forms) - 1].substr(0, room);
}

void ProgressMeter::Draw(bool force) {
  if (!scanned_ || finished_) return;
  double now = Now();
  if (!force && drawn_at_ >= 0 && now - drawn_at_ < kRedrawSeconds) return;
  drawn_at_ = now;
  const int columns = columns_ ? columns_() : 0;
  std::string line =
      Line(totals_, done_, copied_bytes_, now - started_, columns);
  // Blanks wipe what a longer earlier line left, within the width.
  size_t wipe = shown_;
  if (columns > 0 && wipe > static_cast<size_t>(columns - 1)) {
    wipe = static_cast<size_t>(columns - 1);
  }
  std::string pad =
      wipe > line.size() ? std::string(wipe - line.size(), ' ') : std::string();
  write_("\r" + line + pad);
  shown_ = line.size();
}

}  // namespace vm
