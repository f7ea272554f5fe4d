#ifndef VM_CONSOLE_CONSOLE_STATS_H_
#define VM_CONSOLE_CONSOLE_STATS_H_

#include <cstdint>
#include <map>
#include <string>

#include "migrate/migration_run.h"

namespace vm {

class Clock;
class ProgressModel;
class RunRecord;
struct ConsoleIo;

// --stats: adds up the time of each phase of a run; "users" excludes the
// mailboxes inside it.
class PhaseTimer : public PhaseObserver {
 public:
  explicit PhaseTimer(const Clock* clock) : clock_(clock) {}
  void PhaseBegin(const char* phase) override;
  void PhaseEnd(const char* phase) override;
  // One line per phase, in the order a run goes through them.
  std::string Report() const;

 private:
  double Total(const char* phase) const;
  const Clock* clock_;
  std::map<std::string, int64_t> started_;  // MonotonicMicros
  std::map<std::string, double> total_;
};

// --stats: the time of each phase, the copy rate (a dry run's: what a run
// would copy), the longest hold of the configuration lock and, with a
// `progress` model, the source scan's time, on stderr.
void PrintStats(const ConsoleIo& io, const PhaseTimer& timer,
                const RunRecord& record, double run_seconds, bool dry_run,
                const ProgressModel* progress);

}  // namespace vm

#endif  // VM_CONSOLE_CONSOLE_STATS_H_
