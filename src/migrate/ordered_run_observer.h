#ifndef VM_MIGRATE_ORDERED_RUN_OBSERVER_H_
#define VM_MIGRATE_ORDERED_RUN_OBSERVER_H_

#include <cstdint>
#include <string>

#include "migrate/ordered_log.h"
#include "migrate/run_observer.h"

namespace vm {

// Passes the account step's observer calls on in the order of its result
// lines, behind the folders of earlier accounts whose copies are running.
// Messages are counted as they are copied.
class OrderedRunObserver : public RunObserver {
 public:
  OrderedRunObserver(RunObserver* observer, OrderedLog* log)
      : observer_(observer), log_(log) {}

  void OnSourceLoaded(const SourceDomainList& domains) override {
    log_->Then([&domains, this] { observer_->OnSourceLoaded(domains); });
  }
  void OnDomain(const std::string& name, DomainOutcome outcome) override {
    log_->Then([=, this] { observer_->OnDomain(name, outcome); });
  }
  void OnAccountBegin(const std::string& user, const std::string& domain,
                      const std::string& target_box) override {
    log_->Then(
        [=, this] { observer_->OnAccountBegin(user, domain, target_box); });
  }
  void OnFolder(const FolderCounts& counts) override {
    log_->Then([=, this] { observer_->OnFolder(counts); });
  }
  void OnMessage(uint64_t bytes, bool copied) override {
    observer_->OnMessage(bytes, copied);
  }
  void OnAccountEnd(const std::string& user, const std::string& domain,
                    AccountOutcome outcome, const std::string& reason,
                    const std::string& target_box) override {
    log_->Then([=, this] {
      observer_->OnAccountEnd(user, domain, outcome, reason, target_box);
    });
  }
  void OnDomainSaveFailed(const std::string& name,
                          const std::string& reason) override {
    log_->Then([=, this] { observer_->OnDomainSaveFailed(name, reason); });
  }
  void OnAccountSaveFailed(const std::string& user, const std::string& domain,
                           const std::string& reason) override {
    log_->Then(
        [=, this] { observer_->OnAccountSaveFailed(user, domain, reason); });
  }
  void OnAccountAddedByOther(const std::string& user, const std::string& domain,
                             const std::string& reason) override {
    log_->Then(
        [=, this] { observer_->OnAccountAddedByOther(user, domain, reason); });
  }
  void OnVerifyAccount(const std::string& user,
                       const std::string& domain) override {
    log_->Then([=, this] { observer_->OnVerifyAccount(user, domain); });
  }
  void OnVerified(const std::string& user, const std::string& domain,
                  const std::string& folder, int64_t checked, int64_t missing,
                  int64_t different) override {
    log_->Then([=, this] {
      observer_->OnVerified(user, domain, folder, checked, missing, different);
    });
  }

 private:
  RunObserver* observer_;
  OrderedLog* log_;
};

}  // namespace vm

#endif  // VM_MIGRATE_ORDERED_RUN_OBSERVER_H_
