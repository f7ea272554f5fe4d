#ifndef VM_MIGRATE_RUN_OBSERVER_WRAPPER_H_
#define VM_MIGRATE_RUN_OBSERVER_WRAPPER_H_

#include <cstdint>
#include <string>

#include "migrate/run_observer.h"

namespace vm {

// A RunObserver that passes every call on to another one, so that an
// observer in a chain (a filter, a record, a progress count) overrides only
// the calls it looks at and calls the wrapper's method to pass each on.
// The next observer is not owned and must outlive the wrapper; without
// one, calls end here.
class RunObserverWrapper : public RunObserver {
 public:
  explicit RunObserverWrapper(RunObserver* next)
      : next_(next != nullptr ? next : &end_) {}

  RunObserver* next() const { return next_; }

  void OnSourceLoaded(const SourceDomainList& domains) override {
    next_->OnSourceLoaded(domains);
  }
  void OnDomain(const std::string& name, DomainOutcome outcome) override {
    next_->OnDomain(name, outcome);
  }
  void OnAccountBegin(const std::string& user, const std::string& domain,
                      const std::string& target_box) override {
    next_->OnAccountBegin(user, domain, target_box);
  }
  void OnFolder(const FolderCounts& counts) override {
    next_->OnFolder(counts);
  }
  void OnMessage(uint64_t bytes, bool copied) override {
    next_->OnMessage(bytes, copied);
  }
  void OnAccountEnd(const std::string& user, const std::string& domain,
                    AccountOutcome outcome, const std::string& reason,
                    const std::string& target_box) override {
    next_->OnAccountEnd(user, domain, outcome, reason, target_box);
  }
  void OnDomainSaveFailed(const std::string& name,
                          const std::string& reason) override {
    next_->OnDomainSaveFailed(name, reason);
  }
  void OnAccountSaveFailed(const std::string& user, const std::string& domain,
                           const std::string& reason) override {
    next_->OnAccountSaveFailed(user, domain, reason);
  }
  void OnAccountAddedByOther(const std::string& user, const std::string& domain,
                             const std::string& reason) override {
    next_->OnAccountAddedByOther(user, domain, reason);
  }
  void OnVerifyAccount(const std::string& user,
                       const std::string& domain) override {
    next_->OnVerifyAccount(user, domain);
  }
  void OnVerified(const std::string& user, const std::string& domain,
                  const std::string& folder, int64_t checked, int64_t missing,
                  int64_t different) override {
    next_->OnVerified(user, domain, folder, checked, missing, different);
  }

 private:
  RunObserver end_;
  RunObserver* next_;
};

}  // namespace vm

#endif  // VM_MIGRATE_RUN_OBSERVER_WRAPPER_H_
