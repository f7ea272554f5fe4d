#ifndef VM_MIGRATE_RUN_OBSERVER_H_
#define VM_MIGRATE_RUN_OBSERVER_H_

#include <cstdint>
#include <string>

#include "migrate/source_lists.h"

namespace vm {

// What happened to one source domain in the domain step.
enum class DomainOutcome {
  kAdded,   // added to the target's domain list
  kExists,  // the target holds it already as a domain
  kAlias,   // the target holds it as an alias domain
  kFailed,  // the addition failed
};

// What happened to one source account.
enum class AccountOutcome {
  kAdded,                // added to the user list; its mailbox was migrated
  kResumed,              // an interrupted run's account, its mail finished
  kSynced,               // present already; its new mail was copied
  kExists,               // present already; left as it was
  kAlias,                // an alias of that name exists; left out
  kRefused,              // its name was refused (reason says why)
  kFailed,               // the addition or its mailbox failed
  kSkippedNoDomainLine,  // its domain is not a line of the domain list
  kSkippedAliasDomain,   // the target holds its domain only as an alias
  kSkippedNoDomain,      // the target does not hold its domain
  kAbsent,               // --verify-only: the target does not hold it
  kUnfinished,           // the run was stopped before its final word
};

// The counts of one folder of one mailbox.
struct FolderCounts {
  std::string name;            // target folder name: INBOX, Sent, or a user's
  int64_t messages = 0;        // message files in the source folder
  uint64_t bytes = 0;          // their total size
  int64_t copied = 0;          // copied by this run
  uint64_t copied_bytes = 0;   // their total size
  int64_t present = 0;         // already in the target, left as they were
  int64_t failed = 0;          // copies that failed
  int64_t removed = 0;         // taken out by a mirror (source file gone)
  uint64_t removed_bytes = 0;  // their total size
};

// Told what the steps do, for reports, plans and progress. The steps call
// it from the run's thread, in run order: an account's OnFolder calls come
// between its OnAccountBegin and OnAccountEnd (a parallel copier reports a
// folder when its last copy finished, in the order a sequential run would).
// OnMessage alone may come from copy worker threads, concurrently.
// All texts are ANSI code page bytes. Every method does nothing by default.
class RunObserver {
 public:
  RunObserver() = default;
  RunObserver(const RunObserver&) = delete;
  RunObserver& operator=(const RunObserver&) = delete;
  virtual ~RunObserver() = default;

  // The source lists were read (before the domain step).
  virtual void OnSourceLoaded(const SourceDomainList& /*domains*/) {}

  virtual void OnDomain(const std::string& /*name*/,
                        DomainOutcome /*outcome*/) {}

  // An account whose mailbox is about to be migrated (outcome kAdded,
  // kResumed or kSynced); `target_box` is its target mailbox directory.
  virtual void OnAccountBegin(const std::string& /*user*/,
                              const std::string& /*domain*/,
                              const std::string& /*target_box*/) {}
  virtual void OnFolder(const FolderCounts& /*counts*/) {}
  // One message file handled: `bytes` its size, `copied` false when it was
  // present already or failed.
  virtual void OnMessage(uint64_t /*bytes*/, bool /*copied*/) {}

  // The final word on one account: every source account gets exactly one
  // call. `reason` is a result-list text (may be empty); `target_box` the
  // target mailbox directory when known.
  virtual void OnAccountEnd(const std::string& /*user*/,
                            const std::string& /*domain*/,
                            AccountOutcome /*outcome*/,
                            const std::string& /*reason*/,
                            const std::string& /*target_box*/) {}

  // A later word: the grouped save that should have written a domain told
  // kAdded, or an account told kAdded or kResumed (whatever became of its
  // mail), failed; `reason` is its failure line. The outcome becomes
  // kFailed, in place of the earlier one.
  virtual void OnDomainSaveFailed(const std::string& /*name*/,
                                  const std::string& /*reason*/) {}
  virtual void OnAccountSaveFailed(const std::string& /*user*/,
                                   const std::string& /*domain*/,
                                   const std::string& /*reason*/) {}
  // A later word: the save that should have written an account told
  // kAdded found it in the file, added by another program (a second run)
  // meanwhile. The outcome becomes kExists with `reason`, in place of
  // kAdded; a failure of its mail stays a failure.
  virtual void OnAccountAddedByOther(const std::string& /*user*/,
                                     const std::string& /*domain*/,
                                     const std::string& /*reason*/) {}

  // Verification, after every account's OnAccountEnd. Each account checked
  // (one this run migrated, or with --verify-only one the target holds),
  // in the order of their OnAccountEnd calls, gets one OnVerifyAccount and
  // then one OnVerified per folder checked, in the order of its folders:
  // `checked` source messages looked for, `missing` of them without a
  // target file, `different` with one of another size or content. A folder
  // that Folders.ini names twice is checked, and told, twice under the same
  // name; the n-th call for a name is about the n-th folder of that name.
  virtual void OnVerifyAccount(const std::string& /*user*/,
                               const std::string& /*domain*/) {}
  virtual void OnVerified(const std::string& /*user*/,
                          const std::string& /*domain*/,
                          const std::string& /*folder*/, int64_t /*checked*/,
                          int64_t /*missing*/, int64_t /*different*/) {}
};

}  // namespace vm

#endif  // VM_MIGRATE_RUN_OBSERVER_H_
