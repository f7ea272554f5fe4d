#ifndef VM_MIGRATE_TARGET_MAILBOX_H_
#define VM_MIGRATE_TARGET_MAILBOX_H_

#include <string>

#include "migrate/source_lists.h"
#include "util/name_ops.h"

namespace vm {

class CodePage;

// The target mailbox directory of `account` in the mail store `store`: the
// part of the user name before any "@", followed by "@" + its domain
// unless the domain is `primary_domain` ignoring case. Empty when a name
// is unsafe (see IsSafeDirectoryName), is named like a copy in progress
// or a staging folder (it could meet one), or is not one of `code_page`
// (when non-null): such a name names no directory of the store.
std::string TargetMailbox(const std::string& store,
                          const SourceAccount& account,
                          const std::string& primary_domain,
                          const NameOps& names, const CodePage* code_page);

}  // namespace vm

#endif  // VM_MIGRATE_TARGET_MAILBOX_H_
