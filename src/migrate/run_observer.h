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
  kStopped,              // not reached: the run was stopped before it
};

// The counts of one folder of one mailbox.
struct FolderCounts {
  std::string name;           // target folder name: INBOX, Sent, or a user's
  int64_t messages = 0;       // message files in the source folder
  uint64_t bytes = 0;         // their total size
  int64_t copied = 0;         // copied by this run
  uint64_t copied_bytes = 0;  // their total size
  int64_t present = 0;        // already in the target, left as they were
  int64_t failed = 0;         // copies that failed
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

  // The verification of one folder of a migrated account (after every
  // account's OnAccountEnd).
  virtual void OnVerified(const std::string& /*user*/,
                          const std::string& /*domain*/,
                          const std::string& /*folder*/, int64_t /*checked*/,
                          int64_t /*missing*/, int64_t /*different*/) {}
};

}  // namespace vm

#endif  // VM_MIGRATE_RUN_OBSERVER_H_
