#ifndef VM_MIGRATE_RUN_TALLY_H_
#define VM_MIGRATE_RUN_TALLY_H_

#include <string>
#include <vector>

#include "migrate/run_observer.h"
#include "migrate/run_observer_wrapper.h"

namespace vm {

// Passes every call on and keeps what the run itself needs: the mailboxes
// it copied into and those of accounts the target held already (only for
// a verification after the run: a run of very many accounts need not hold
// them else), and the accounts left out for their domain.
class RunTally : public RunObserverWrapper {
 public:
  struct Mailbox {
    std::string user, domain, box;
    // Why it cannot be checked (a failure line), when it cannot.
    std::string problem;
  };

  RunTally(RunObserver* next, bool keep_visited)
      : RunObserverWrapper(next), keep_visited_(keep_visited) {}

  void OnAccountBegin(const std::string& user, const std::string& domain,
                      const std::string& box) override {
    if (keep_visited_) visited.push_back({user, domain, box, ""});
    RunObserverWrapper::OnAccountBegin(user, domain, box);
  }
  void OnAccountEnd(const std::string& user, const std::string& domain,
                    AccountOutcome outcome, const std::string& reason,
                    const std::string& box) override {
    if (outcome == AccountOutcome::kSkippedNoDomainLine ||
        outcome == AccountOutcome::kSkippedAliasDomain) {
      left_out.push_back({user, domain, outcome});
    }
    if (outcome == AccountOutcome::kUnfinished) ++stopped;
    // An account the target held already is verified too: a check after a
    // run that migrated nothing would else look at no mail at all.
    if (keep_visited_ && outcome == AccountOutcome::kExists && !box.empty()) {
      visited.push_back({user, domain, box, ""});
    }
    RunObserverWrapper::OnAccountEnd(user, domain, outcome, reason, box);
  }

  struct LeftOut {
    std::string user, domain;
    AccountOutcome outcome;
  };

  std::vector<Mailbox> visited;
  std::vector<LeftOut> left_out;  // accounts the steps never reach
  int stopped = 0;  // accounts a stop request left for the next run

 private:
  bool keep_visited_;
};

// "user@domain", or the user alone when it holds an "@" already.
inline std::string DisplayName(const std::string& user,
                               const std::string& domain) {
  return user.find('@') == std::string::npos ? user + "@" + domain : user;
}

}  // namespace vm

#endif  // VM_MIGRATE_RUN_TALLY_H_
