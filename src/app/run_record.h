#ifndef VM_APP_RUN_RECORD_H_
#define VM_APP_RUN_RECORD_H_

#include <mutex>
#include <string>
#include <utility>
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
// Thread-safe, so that an interrupt can take a copy while the run goes on.
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

  // For use once the run has ended.
  const std::vector<DomainRecordOutcome>& domains() const { return domains_; }
  const std::vector<AccountRecord>& accounts() const { return accounts_; }

  // Copies what has been recorded so far into `stopped` (a new record), for
  // a run stopped part way: every source account without its final word
  // is added as kUnfinished, the one being copied with the folders done.
  void CopyStopped(RunRecord* stopped) const;

 private:
  RunObserver* next_;
  mutable std::mutex mutex_;
  std::vector<DomainRecordOutcome> domains_;
  std::vector<AccountRecord> accounts_;
  // Every account of the source lists: user and source domain.
  std::vector<std::pair<std::string, std::string>> source_accounts_;
  AccountRecord open_;  // the account being copied; user empty when none
  std::vector<FolderRecord> open_folders_;  // of the account being copied
};

// The outcome's word in the plan and the report ("added", "exists", ...).
const char* OutcomeName(AccountOutcome outcome);
const char* OutcomeName(DomainOutcome outcome);

}  // namespace vm

#endif  // VM_APP_RUN_RECORD_H_
