#include "console/console_stats.h"

#include <cstdio>

#include "config/shared_config_states.h"
#include "console/console_app.h"
#include "platform/clock.h"
#include "session/progress_model.h"
#include "session/run_record.h"

namespace vm {

void PhaseTimer::PhaseBegin(const char* phase) {
  started_[phase] = clock_->MonotonicMicros();
}

void PhaseTimer::PhaseEnd(const char* phase) {
  total_[phase] += (clock_->MonotonicMicros() - started_[phase]) / 1e6;
}

std::string PhaseTimer::Report() const {
  double mail = Total("mail");
  char text[200];
  // "mail" is the run thread's share (listing, index reading); the
  // copies overlap it and the account step. "flush" makes them durable.
  std::snprintf(text, sizeof(text),
                "domains: %.3f s\nusers: %.3f s\nmail: %.3f s\nflush: %.3f s\n",
                Total("domains"), Total("users") - mail, mail, Total("flush"));
  return text;
}

double PhaseTimer::Total(const char* phase) const {
  auto it = total_.find(phase);
  return it == total_.end() ? 0.0 : it->second;
}

void PrintStats(const ConsoleIo& io, const PhaseTimer& timer,
                const RunRecord& record, double run_seconds, bool dry_run,
                const ProgressModel* progress) {
  io.err(timer.Report());
  uint64_t copied_bytes = 0;
  for (const AccountRecord& a : record.accounts()) {
    copied_bytes += a.Sum().counts.copied_bytes;
  }
  const double megabytes = copied_bytes / 1048576.0;
  char text[160];
  std::snprintf(text, sizeof(text), "run: %.3f s\n", run_seconds);
  io.err(text);
  if (dry_run) {
    std::snprintf(text, sizeof(text), "to copy: %.1f MB\n", megabytes);
  } else {
    std::snprintf(text, sizeof(text), "copied: %.1f MB, %.1f MB/s\n", megabytes,
                  run_seconds > 0 ? megabytes / run_seconds : 0.0);
  }
  io.err(text);
  std::snprintf(text, sizeof(text), "longest config lock hold: %.3f s\n",
                io.config_states->LongestLockHoldMicros() / 1e6);
  io.err(text);
  if (progress != nullptr) {
    std::snprintf(text, sizeof(text), "source scan: %.3f s\n",
                  progress->scan_seconds());
    io.err(text);
  }
}

}  // namespace vm
