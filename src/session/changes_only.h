#ifndef VM_SESSION_CHANGES_ONLY_H_
#define VM_SESSION_CHANGES_ONLY_H_

#include <string>
#include <vector>

#include "migrate/run_host.h"
#include "migrate/run_observer.h"
#include "migrate/run_observer_wrapper.h"

namespace vm {

// The result list of a changes-only session: what reaches `log` leaves out the
// lines of an account the run only visited (synced, nothing new, nothing
// failed) and the line of each folder into which nothing was copied and
// nothing failed. Every other line passes on: failures, refusals, banners,
// verification and the summary. Lines arrive through the three calls
// below; the run's observer calls, in the same order as the lines, tell
// where an account's lines begin (its head line is the one just before
// OnAccountBegin) and end. Passes every observer call on to `next`.
class ChangesOnlyFilter : public RunObserverWrapper {
 public:
  ChangesOnlyFilter(LineSink* log, RunObserver* next);
  // Where the lines go from now on; set before the run writes any.
  void set_log(LineSink* log) { log_ = log; }

  void AppendLogLine(const std::string& line);
  void RemoveLastLine();
  void SelectLastLine();
  // Passes on the line still held back; call once, at the end.
  void Finish();

  void OnAccountBegin(const std::string& user, const std::string& domain,
                      const std::string& target_box) override;
  void OnFolder(const FolderCounts& counts) override;
  void OnAccountEnd(const std::string& user, const std::string& domain,
                    AccountOutcome outcome, const std::string& reason,
                    const std::string& target_box) override;

 private:
  void PassHeld();

  LineSink* log_;
  // Outside an account the last line is held back until the next call
  // shows whether it heads an account.
  bool held_ = false;
  std::string held_line_;
  bool in_account_ = false;
  std::vector<std::string> account_lines_;  // its head line first
};

}  // namespace vm

#endif  // VM_SESSION_CHANGES_ONLY_H_
