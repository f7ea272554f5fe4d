#ifndef VM_MIGRATE_UNDO_PASSWORDS_H_
#define VM_MIGRATE_UNDO_PASSWORDS_H_

#include <vector>

#include "migrate/run_manifest.h"
#include "migrate/undo_run.h"

namespace vm {

struct TargetContext;
struct Texts;

// A password a mirror pass rewrote, by the last `password` record of its
// account; `saved` when the pass confirmed that its save wrote it.
struct RewrittenPassword {
  const ManifestEntry* entry;
  bool saved;
};

// Puts back the passwords of `rewritten` (in one save of userauth.cfg,
// through the user store, so that the server's changes meanwhile are
// merged): an item still exactly as the pass left it gets its bytes from
// before the pass. An item that holds the bytes from before already was
// never changed (a pass ended before its save) or was put back; an item
// changed since is kept, with the reason. One item per account, named
// "user@domain"; with `dry_run` nothing is written.
std::vector<UndoItem> UndoPasswords(
    const std::vector<RewrittenPassword>& rewritten, TargetContext* target,
    const Texts& texts, bool dry_run);

}  // namespace vm

#endif  // VM_MIGRATE_UNDO_PASSWORDS_H_
