#ifndef VM_MIGRATE_UNDO_COLLAPSE_H_
#define VM_MIGRATE_UNDO_COLLAPSE_H_

#include <string>
#include <vector>

#include "migrate/mailbox_use.h"
#include "migrate/run_manifest.h"

namespace vm {

class NameOps;

// A domain, account or rewritten password of a manifest, by its last
// record; `saved` when a save is known to have written it.
struct CollapsedItem {
  const ManifestEntry* e;
  bool saved;
};

// What an undo goes by: each path, account, domain and rewritten password
// of a manifest by its last record, newest first. The mirror's moves and
// removals are left out (they are put back apart, see UndoHeld). The
// entries point into the manifest, which must outlive this.
struct CollapsedManifest {
  // Message files newest first, then the folders the run made, newest
  // first (a folder it only found is another program's).
  std::vector<const ManifestEntry*> paths;
  // Pending marks the run was about to make in mailboxes that were there.
  std::vector<const ManifestEntry*> marks;
  std::vector<CollapsedItem> accounts;
  std::vector<CollapsedItem> domains;
  std::vector<CollapsedItem> passwords;
  RunPaths run_paths;  // every file and folder, by PathKey
};

CollapsedManifest CollapseManifest(const RunManifest& manifest,
                                   const NameOps& names);

// The key an account or domain record is compared by: its folded name
// and domain.
std::string ItemKey(const ManifestEntry& e, const NameOps& names);

}  // namespace vm

#endif  // VM_MIGRATE_UNDO_COLLAPSE_H_
