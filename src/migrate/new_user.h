#ifndef VM_MIGRATE_NEW_USER_H_
#define VM_MIGRATE_NEW_USER_H_

#include "config/domain_store.h"
#include "config/user_store.h"
#include "migrate/source_lists.h"

namespace vm {

// The user item the account step adds for a source account: its name,
// domain and password, and every other field from its domain's defaults
// (`d`, the target's record of the account's domain).
UserRecord MakeUser(const SourceAccount& account, const DomainRecord& d);

}  // namespace vm

#endif  // VM_MIGRATE_NEW_USER_H_
