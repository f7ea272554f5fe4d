#ifndef VM_MIGRATE_USER_LIST_VOUCH_H_
#define VM_MIGRATE_USER_LIST_VOUCH_H_

#include <cstdint>
#include <optional>
#include <string>

#include "migrate/source_lists.h"
#include "migrate/sync_record.h"

namespace vm {

class Clock;
class FileSystem;
class LazyUsers;
class MailboxMigrator;

// A sync record may vouch that the target's user list holds a user item of
// the account of each of its entries, as long as the list's file keeps the
// status the record names; a sync then knows those accounts exist without
// reading the list (on a large server tens of megabytes).

// Whether the user list at `path` has the status `vouched` (of a record:
// SyncRecord::users()) now.
bool UserListIs(FileSystem* fs, const std::string& path,
                const std::optional<EntryStatus>& vouched);

// At the end of a run's account step: what it can vouch of the user list.
// A run that found the list as `record` vouched (`vouched_at_start`) and
// never changed it carries the record's word: it put an entry only for an
// account the list held (added or found), and it added none. Otherwise it
// vouches only when every account of `domains` with an entry in `record`
// is a user in its store and every entry has such an account, with nothing
// left unsaved. None otherwise.
std::optional<UsersSeen> SeenUsers(LazyUsers* users, bool vouched_at_start,
                                   const SyncRecord& record,
                                   const SourceDomainList& domains,
                                   const MailboxMigrator& mailboxes,
                                   const std::string& primary_domain);

// When the record is saved: vouches for the user list (SyncRecord::SetUsers)
// as the run saw it, once its file's status is settled (waiting up to
// `patience_micros` for that) and, for a list the run read, the file holds
// the text the run's store held, read between two equal statuses.
void SettleUsers(FileSystem* fs, const Clock& clock, int64_t patience_micros,
                 SyncRecord* record);

}  // namespace vm

#endif  // VM_MIGRATE_USER_LIST_VOUCH_H_
