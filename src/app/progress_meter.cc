#include "app/progress_meter.h"

#include <cstdio>

namespace vm {

ProgressMeter::ProgressMeter(FileSystem* fs, std::string source_dir,
                             Writer write, std::function<double()> now)
    : write_(std::move(write)),
      model_(fs, std::move(source_dir), std::move(now),
             [this](const ProgressSnapshot& snapshot) {
               std::lock_guard<std::mutex> lock(mutex_);
               Draw(snapshot);
             }) {}

void ProgressMeter::OnSourceLoaded(const SourceDomainList& domains) {
  model_.OnSourceLoaded(domains);
}

void ProgressMeter::OnMessage(uint64_t bytes, bool copied) {
  model_.OnMessage(bytes, copied);
}

void ProgressMeter::OnAccountEnd(const std::string& user,
                                 const std::string& domain,
                                 AccountOutcome outcome,
                                 const std::string& reason,
                                 const std::string& target_box) {
  model_.OnAccountEnd(user, domain, outcome, reason, target_box);
}

void ProgressMeter::OnVerified(const std::string& user,
                               const std::string& domain,
                               const std::string& folder, int64_t checked,
                               int64_t missing, int64_t different) {
  model_.OnVerified(user, domain, folder, checked, missing, different);
}

void ProgressMeter::Erase() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (shown_ == 0) return;
  std::string blank(shown_ + 2, ' ');
  blank.front() = '\r';
  blank.back() = '\r';
  write_(blank);
  shown_ = 0;
}

void ProgressMeter::Finish() {
  ProgressSnapshot snapshot = model_.Snapshot();
  if (!snapshot.scanned) return;
  std::lock_guard<std::mutex> lock(mutex_);
  Draw(snapshot);
  write_("\n");
  shown_ = 0;
}

std::string ProgressMeter::Line(const ProgressSnapshot& s) {
  const double mb = 1048576.0;
  double left = s.SecondsLeft();
  std::string eta = left < 0 ? "-:--:--" : DurationText(left);
  char text[200];
  if (s.verifying) {
    std::snprintf(text, sizeof(text), "verifying: messages %lld/%lld",
                  static_cast<long long>(s.verified),
                  static_cast<long long>(s.totals.messages));
    return text;
  }
  std::snprintf(text, sizeof(text),
                "accounts %lld/%lld  messages %lld/%lld  %.1f/%.1f MB "
                "(%.1f MB copied)  %.1f MB/s  left %s",
                static_cast<long long>(s.done.accounts),
                static_cast<long long>(s.totals.accounts),
                static_cast<long long>(s.done.messages),
                static_cast<long long>(s.totals.messages), s.done.bytes / mb,
                s.totals.bytes / mb, s.copied_bytes / mb, s.CopyRate() / mb,
                eta.c_str());
  return text;
}

void ProgressMeter::Draw(const ProgressSnapshot& snapshot) {
  std::string line = Line(snapshot);
  // Blanks wipe what a longer earlier line left.
  std::string pad = shown_ > line.size()
                        ? std::string(shown_ - line.size(), ' ')
                        : std::string();
  write_("\r" + line + pad);
  shown_ = line.size();
}

}  // namespace vm
