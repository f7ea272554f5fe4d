#ifndef VM_MIGRATE_ACCOUNT_JUDGES_H_
#define VM_MIGRATE_ACCOUNT_JUDGES_H_

#include <string>
#include <unordered_map>
#include <vector>

#include "migrate/sync_record.h"

namespace vm {

class MailboxMigrator;
class UserStore;
struct SourceAccount;

// The existing accounts a sync leaves unlisted, each with what its
// judgement found (the folders that spares, the doubts it settled).
using UnchangedAccounts = std::unordered_map<const SourceAccount*, Judgement>;

// Judges every account of `accounts` (those of domains the target has, in
// run order) before any is begun: an account is left unlisted when it
// exists (as far as `users` tells now) and `mailboxes` finds its mailbox
// not pending and unchanged on both sides (MailboxMigrator::Unchanged).
// Nothing is judged unless `mailboxes` syncs.
//
// A judgement is a few statuses, which a cold cache reads from disk one at
// a time: up to `judges` threads (the caller's among them) keep several
// reads in flight. `users` and `mailboxes` are only asked, never changed,
// and the caller's thread waits for the others before it returns. What is
// decided is the same for any number of threads.
UnchangedAccounts JudgeUnchanged(const std::vector<SourceAccount*>& accounts,
                                 UserStore* users, MailboxMigrator* mailboxes,
                                 const std::string& primary_domain, int judges);

}  // namespace vm

#endif  // VM_MIGRATE_ACCOUNT_JUDGES_H_
