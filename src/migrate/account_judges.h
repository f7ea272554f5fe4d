#ifndef VM_MIGRATE_ACCOUNT_JUDGES_H_
#define VM_MIGRATE_ACCOUNT_JUDGES_H_

#include <functional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "migrate/source_lists.h"
#include "migrate/sync_record.h"

namespace vm {

class MailboxMigrator;
class UserStore;

// The existing accounts a sync leaves unlisted, each with what its
// judgement found (the folders that spares, the doubts it settled).
using UnchangedAccounts = std::unordered_map<const SourceAccount*, Judgement>;

// The judgement of a sync's mailboxes, made while the run loads the user
// list: on a cold cache both are reads from disk, and each waits less on
// the other's. Every account of `domains` is judged as the account step
// would judge it (with its domain the list's own), on a thread of its own
// that first calls `ready` (the record is then read) and keeps up to
// `judges` threads busy. `mailboxes` is only asked; `domains` must not
// change until Wait has returned.
class AdvanceJudgement {
 public:
  AdvanceJudgement(const SourceDomainList& domains, MailboxMigrator* mailboxes,
                   const std::string& primary_domain, int judges,
                   std::function<void()> ready);
  ~AdvanceJudgement() { Wait(); }
  AdvanceJudgement(const AdvanceJudgement&) = delete;
  AdvanceJudgement& operator=(const AdvanceJudgement&) = delete;

  // Returns once every account is judged.
  void Wait() {
    if (judging_.joinable()) judging_.join();
  }
  // After Wait: whether `account` (one of `domains`) was found unchanged,
  // its judgement then moved to *judgement.
  bool Take(const SourceAccount* account, Judgement* judgement);

 private:
  void Judge();

  std::vector<SourceAccount> accounts_;  // copies, each with its domain
  std::unordered_map<const SourceAccount*, size_t> index_;
  MailboxMigrator* mailboxes_;
  std::string primary_domain_;
  int judges_;
  std::function<void()> ready_;
  std::vector<Judgement> judged_;
  std::vector<char> unchanged_;
  std::thread judging_;
};

// Judges every account of `accounts` (those of domains the target has, in
// run order) before any is begun: an account is left unlisted when it
// exists (as far as `users` tells now) and `mailboxes` finds its mailbox
// not pending and unchanged on both sides (MailboxMigrator::Unchanged), or
// `advance` (when not null) found it so. Nothing is judged unless
// `mailboxes` syncs.
//
// A judgement is a few statuses, which a cold cache reads from disk one at
// a time: up to `judges` threads (the caller's among them) keep several
// reads in flight. `users` and `mailboxes` are only asked, never changed,
// and the caller's thread waits for the others before it returns. What is
// decided is the same for any number of threads.
UnchangedAccounts JudgeUnchanged(const std::vector<SourceAccount*>& accounts,
                                 UserStore* users, MailboxMigrator* mailboxes,
                                 const std::string& primary_domain, int judges,
                                 AdvanceJudgement* advance = nullptr);

}  // namespace vm

#endif  // VM_MIGRATE_ACCOUNT_JUDGES_H_
