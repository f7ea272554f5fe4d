#ifndef VM_MIGRATE_ACCOUNT_JUDGES_H_
#define VM_MIGRATE_ACCOUNT_JUDGES_H_

#include <condition_variable>
#include <functional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "migrate/source_lists.h"
#include "migrate/sync_record.h"
#include "util/thread_annotations.h"

namespace vm {

class LazyUsers;
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
// `judges` threads busy (a judgement is a few statuses, which a cold cache
// reads from disk one at a time, so several reads stay in flight; what is
// decided is the same for any number of threads). `mailboxes` is only
// asked; `domains` must not change until Wait has returned, but for the
// accounts' `domain` fields, which are not read (the account step spells
// them meanwhile).
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
  // Returns once the judges have the record (`ready` has returned).
  void WaitForRecord();
  // Asks `users` whether each account exists, while the judges may still
  // be busy: the run's thread would otherwise wait for them idle, then ask.
  // `users` must not change until Take has been asked of every account.
  void AskUsers(const UserStore& users);
  // Instead of AskUsers, when the record vouches that the user list holds
  // the account of each of its entries (UsersAsVouched): an account
  // without an entry is never found unchanged, so every account counts as
  // existing.
  void AllExist();
  bool asked_users() const { return asked_users_; }
  // After Wait and AskUsers: whether `account` (one of `domains`) exists
  // and was found unchanged, its judgement then moved to *judgement.
  // Each account is taken once: asked again, it is not unchanged.
  bool Take(const SourceAccount* account, Judgement* judgement);
  // As Take, but after AskUsers only, and while the judges may still be
  // busy: waits for `account`'s judgement alone. A judgement that settled
  // doubts (which are confirmed in the record the judges read) is left
  // for Take after Wait: false.
  bool TakeOnceJudged(const SourceAccount* account, Judgement* judgement);

 private:
  void Judge();

  // The accounts of one domain: where its list lies, the index of its first
  // account in judged_, and the domain's name as the list spells it.
  struct Span {
    const SourceAccount* begin;
    const SourceAccount* end;
    size_t first;
    const std::string* domain;
  };
  // The span holding `account`, or null.
  const Span* SpanOf(const SourceAccount* account) const;

  std::vector<Span> spans_;  // by address
  size_t count_ = 0;
  MailboxMigrator* mailboxes_;
  std::string primary_domain_;
  int judges_;
  std::function<void()> ready_;
  std::vector<Judgement> judged_;
  std::vector<char> unchanged_;
  std::vector<char> exists_;
  bool asked_users_ = false;
  Mutex mutex_;
  std::condition_variable judged_some_;
  // Per run of accounts a judge takes at once: whether it is judged.
  std::vector<char> done_ GUARDED_BY(mutex_);
  bool record_read_ GUARDED_BY(mutex_) = false;
  std::thread judging_;
};

// The accounts of `accounts` (those of domains the target has, in run
// order) a sync leaves unlisted, decided before any is begun: those that
// exist (as far as `users` tells now, or told AskUsers) and whose mailbox
// `advance` found not pending and unchanged on both sides
// (MailboxMigrator::Unchanged). None without `advance`: a run that is no sync,
// or has no record, lists every mailbox. `users` is only asked, never changed.
UnchangedAccounts JudgeUnchanged(const std::vector<SourceAccount*>& accounts,
                                 LazyUsers* users, AdvanceJudgement* advance);

}  // namespace vm

#endif  // VM_MIGRATE_ACCOUNT_JUDGES_H_
