#include "console/progress_meter.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "console/console_log.h"

namespace vm {

ProgressMeter::ProgressMeter(Writer write, std::function<int()> columns)
    : write_(std::move(write)), columns_(std::move(columns)) {}

void ProgressMeter::Show(const ProgressSnapshot& snapshot) {
  MutexLock lock(&mutex_);
  // Two threads may tell at once: an older state is not drawn over a newer
  // one.
  if (snapshot.sequence < drawn_) return;
  drawn_ = snapshot.sequence;
  Draw(snapshot);
}

void ProgressMeter::Erase() {
  MutexLock lock(&mutex_);
  WipeLocked();
}

void ProgressMeter::Finish(const ProgressSnapshot& last) {
  MutexLock lock(&mutex_);
  // The model tells its listener its final state when the run ends; a
  // state it has not told yet is drawn here.
  if (last.scanned && last.sequence > drawn_) Draw(last);
  // The final state is drawn, then wiped: the summary that follows is the
  // last thing on the screen, and nothing draws the line again.
  finished_ = true;
  WipeLocked();
}

void ProgressMeter::ShowText(const std::string& utf8) {
  MutexLock lock(&mutex_);
  if (finished_) return;
  WipeLocked();
  write_("\r" + utf8);
  shown_ = static_cast<size_t>(DisplayColumns(utf8));
}

void ProgressMeter::WipeLocked() {
  if (shown_ == 0) return;
  std::string blank(shown_ + 2, ' ');
  blank.front() = '\r';
  blank.back() = '\r';
  write_(blank);
  shown_ = 0;
}

namespace {

long long Count(int64_t n) { return static_cast<long long>(n); }

// The forms of a line that checks copies: messages checked of all.
std::vector<std::string> VerifyForms(const ProgressSnapshot& s) {
  char text[200];
  std::vector<std::string> forms;
  std::snprintf(text, sizeof(text), "verifying: messages %lld/%lld",
                Count(s.verified), Count(s.totals.messages));
  forms.push_back(text);
  std::snprintf(text, sizeof(text), "verified %lld/%lld", Count(s.verified),
                Count(s.totals.messages));
  forms.push_back(text);
  return forms;
}

// The forms of a line that copies, longest first. A preview copies
// nothing: it tells what a run would copy, and no rate.
std::vector<std::string> CopyForms(const ProgressSnapshot& s) {
  const double mb = 1048576.0;
  const bool preview = s.work == ProgressWork::kPreview;
  const double left = s.SecondsLeft();
  const std::string eta = "left " + (left < 0 ? "-:--:--" : DurationText(left));
  char accounts[64], messages[64], megabytes[64], copied[64], speed[64];
  std::snprintf(accounts, sizeof(accounts), "%lld/%lld", Count(s.done.accounts),
                Count(s.totals.accounts));
  // Without a listing ahead only what was gone through is known.
  if (s.listed) {
    std::snprintf(messages, sizeof(messages), "%lld/%lld",
                  Count(s.done.messages), Count(s.totals.messages));
    std::snprintf(megabytes, sizeof(megabytes), "%.1f/%.1f MB",
                  s.done.bytes / mb, s.totals.bytes / mb);
  } else {
    std::snprintf(messages, sizeof(messages), "%lld", Count(s.done.messages));
    std::snprintf(megabytes, sizeof(megabytes), "%.1f MB", s.done.bytes / mb);
  }
  std::snprintf(copied, sizeof(copied),
                preview ? "(%.1f MB to copy)" : "(%.1f MB copied)",
                s.copied_bytes / mb);
  std::snprintf(speed, sizeof(speed), "%.1f MB/s", s.CopyRate() / mb);
  const std::string a = accounts, m = messages;
  const std::string rate = preview ? "" : std::string("  ") + speed;
  return {
      "accounts " + a + "  messages " + m + "  " + megabytes + " " + copied +
          rate + "  " + eta,
      "accounts " + a + "  messages " + m + "  " + megabytes + rate + "  " +
          eta,
      "acc " + a + "  msg " + m + "  " + megabytes + "  " + eta,
      "acc " + a + "  msg " + m + "  " + eta,
      "msg " + m + "  " + eta,
  };
}

}  // namespace

std::string ProgressMeter::Line(const ProgressSnapshot& s, int columns) {
  const std::vector<std::string> forms =
      s.verifying || s.work == ProgressWork::kVerify ? VerifyForms(s)
                                                     : CopyForms(s);
  if (columns <= 0) return forms.front();
  // A line as wide as the terminal would wrap on some terminals, so one
  // column stays free.
  const size_t room = static_cast<size_t>(columns - 1);
  for (const std::string& form : forms) {
    if (form.size() <= room) return form;
  }
  return forms.back().substr(0, room);
}

void ProgressMeter::Draw(const ProgressSnapshot& snapshot) {
  if (finished_) return;
  const int columns = columns_ ? columns_() : 0;
  std::string line = Line(snapshot, columns);
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
