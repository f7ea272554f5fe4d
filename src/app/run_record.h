#ifndef VM_APP_RUN_RECORD_H_
#define VM_APP_RUN_RECORD_H_

#include <string>
#include <vector>

#include "migrate/run_observer.h"

namespace vm {

// A folder's counts and, after a verification, what it found.
struct FolderRecord {
  FolderCounts counts;
  bool verified = false;
  int64_t checked = 0;
  int64_t missing = 0;
  int64_t different = 0;
};

struct AccountRecord {
  std::string user;  // ANSI
  std::string domain;
  AccountOutcome outcome = AccountOutcome::kExists;
  std::string reason;
  std::string target_box;
  std::vector<FolderRecord> folders;

  int64_t Copied() const;
  uint64_t CopiedBytes() const;
  bool VerificationFailed() const;
};

struct DomainRecordOutcome {
  std::string name;
  DomainOutcome outcome = DomainOutcome::kExists;
};

// Everything the steps reported, in run order, for the plan and the
// report. Passes OnMessage on to `next` (the progress line), when given.
class RunRecord : public RunObserver {
 public:
  explicit RunRecord(RunObserver* next = nullptr) : next_(next) {}

  void OnSourceLoaded(const SourceDomainList& domains) override;
  void OnDomain(const std::string& name, DomainOutcome outcome) override;
  void OnAccountBegin(const std::string& user, const std::string& domain,
                      const std::string& target_box) override;
  void OnFolder(const FolderCounts& counts) override;
  void OnMessage(uint64_t bytes, bool copied) override;
  void OnAccountEnd(const std::string& user, const std::string& domain,
                    AccountOutcome outcome, const std::string& reason,
                    const std::string& target_box) override;
  void OnVerified(const std::string& user, const std::string& domain,
                  const std::string& folder, int64_t checked, int64_t missing,
                  int64_t different) override;

  const std::vector<DomainRecordOutcome>& domains() const { return domains_; }
  const std::vector<AccountRecord>& accounts() const { return accounts_; }

 private:
  RunObserver* next_;
  std::vector<DomainRecordOutcome> domains_;
  std::vector<AccountRecord> accounts_;
  std::vector<FolderRecord> open_folders_;  // of the account being copied
};

// The outcome's word in the plan and the report ("added", "exists", ...).
const char* OutcomeName(AccountOutcome outcome);
const char* OutcomeName(DomainOutcome outcome);

}  // namespace vm

#endif  // VM_APP_RUN_RECORD_H_
