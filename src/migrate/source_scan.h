#ifndef VM_MIGRATE_SOURCE_SCAN_H_
#define VM_MIGRATE_SOURCE_SCAN_H_

#include <cstdint>
#include <string>
#include <vector>

#include "migrate/source_lists.h"

namespace vm {

class FileSystem;

struct SourceTotals {
  int64_t accounts = 0;
  int64_t messages = 0;
  uint64_t bytes = 0;
};

// The size of the work ahead, from one listing of each account's source
// mailbox directory: message files of the standard folders (.in, .sed,
// .out, .del) and of user-made folders (a number as extension). Reads no
// message and no index.
SourceTotals ScanSourceMailboxes(FileSystem* fs, const std::string& source_dir,
                                 const SourceDomainList& domains);

// The same for the one mailbox of `user_name` (accounts is 1); nothing
// but the account when its mailbox cannot be listed.
SourceTotals ScanSourceMailbox(FileSystem* fs, const std::string& source_dir,
                               const std::string& user_name);

// The directories of the source mail folder whose names the run's code
// page cannot hold (as stand-in paths): no account's name leads to them, so
// their mail would be taken for absent.
std::vector<std::string> UnreachableMailboxes(FileSystem* fs,
                                              const std::string& source_dir);

}  // namespace vm

#endif  // VM_MIGRATE_SOURCE_SCAN_H_
