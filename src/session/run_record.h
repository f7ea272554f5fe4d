#ifndef VM_APP_RUN_RECORD_H_
#define VM_APP_RUN_RECORD_H_

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "migrate/outcome_table.h"
#include "migrate/run_observer.h"
#include "migrate/run_observer_wrapper.h"
#include "session/account_list.h"
#include "session/folder_list.h"

namespace vm {

class FileSystem;

struct DomainRecordOutcome {
  std::string name;
  DomainOutcome outcome = DomainOutcome::kExists;
  std::string reason;  // the failure line; empty when none was given
};

// Everything the steps reported, in run order, for the plan and the report;
// a later word (a grouped save that failed) replaces the earlier one. Passes
// every call on to `next` (the --changes-only filter, the progress line),
// when given. Paths are kept as `paths` shows them, when given.
// Thread-safe, so that an interrupt may read it while the run goes on.
class RunRecord : public RunObserverWrapper {
 public:
  explicit RunRecord(RunObserver* next = nullptr,
                     const FileSystem* paths = nullptr)
      : RunObserverWrapper(next), paths_(paths) {}

  void OnDomain(const std::string& name, DomainOutcome outcome) override;
  void OnAccountBegin(const std::string& user, const std::string& domain,
                      const std::string& target_box) override;
  void OnFolder(const FolderCounts& counts) override;
  void OnAccountEnd(const std::string& user, const std::string& domain,
                    AccountOutcome outcome, const std::string& reason,
                    const std::string& target_box) override;
  void OnDomainSaveFailed(const std::string& name,
                          const std::string& reason) override;
  void OnAccountSaveFailed(const std::string& user, const std::string& domain,
                           const std::string& reason) override;
  void OnAccountAddedByOther(const std::string& user, const std::string& domain,
                             const std::string& reason) override;
  void OnVerifyAccount(const std::string& user,
                       const std::string& domain) override;
  void OnVerified(const std::string& user, const std::string& domain,
                  const std::string& folder, int64_t checked, int64_t missing,
                  int64_t different) override;

  // For use once the run has ended.
  const std::vector<DomainRecordOutcome>& domains() const { return domains_; }
  const AccountList& accounts() const { return accounts_; }

 private:
  // The account a verification is about: the next one of that name after
  // the one verified last, so that an account listed twice is found twice.
  // Its index; accounts_.size() when there is none.
  size_t VerifiedAccount(const std::string& user, const std::string& domain);
  // The index of the last account of that name; accounts_.size() when
  // there is none.
  size_t LastAccount(const std::string& user, const std::string& domain) const;

  const FileSystem* paths_;
  mutable std::mutex mutex_;
  std::vector<DomainRecordOutcome> domains_;
  AccountList accounts_;
  std::vector<FolderRecord> open_folders_;  // of the account being copied
  size_t verifying_ = 0;  // accounts_ index of the account being verified
  bool verifying_any_ = false;
};

}  // namespace vm

#endif  // VM_APP_RUN_RECORD_H_
