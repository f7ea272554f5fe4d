#ifndef VM_MIGRATE_SYNC_ENTRY_PACKING_H_
#define VM_MIGRATE_SYNC_ENTRY_PACKING_H_

#include <string>
#include <string_view>

namespace vm {

struct SyncEntry;

// The bytes a sync record keeps an entry in while a run goes on: its
// fields in one fixed order, each number in as few bytes as its value
// needs. A new mailbox's entry packs into about a quarter of the memory its
// structure takes, and a record of tens of thousands of mailboxes is
// mostly such entries.
std::string PackEntry(const SyncEntry& entry);

// The entry PackEntry packed, field for field.
SyncEntry UnpackEntry(std::string_view packed);

}  // namespace vm

#endif  // VM_MIGRATE_SYNC_ENTRY_PACKING_H_
