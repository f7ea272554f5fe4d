#ifndef VM_MIGRATE_ACCOUNT_IMPORT_H_
#define VM_MIGRATE_ACCOUNT_IMPORT_H_

namespace vm {

class LazyUsers;
class MailboxMigrator;
struct ImportSteps;

// The account step: reads every target domain's settings once, then for
// each source domain the target knows (names compared without ASCII case)
// adds its accounts with those settings to `users` (read once an account
// needs it). Each added account is
// logged and its mailbox migrated by `mailboxes`; a failed addition is
// logged (and counted in *steps.failure_lines); an existing user or alias
// is left as it is, unless the migrator syncs: then an existing user's
// new mail is copied. Without sync, an existing user's mail is looked at
// (steps.existing): its folders are told, and mail the target lacks is a
// line and the account's reason. Tells steps.observer (when non-null) the
// outcome of every account of the host's list. Resets the user and mail counts.
//
// With steps.stop requested, each account not yet begun is left as it is
// and told as kUnfinished; the step still saves what it added.
//
// False after showing a message when the target's domain list cannot be
// read.
bool ImportAccounts(LazyUsers* users, MailboxMigrator* mailboxes,
                    const ImportSteps& steps);

}  // namespace vm

#endif  // VM_MIGRATE_ACCOUNT_IMPORT_H_
