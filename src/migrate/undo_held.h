#ifndef VM_MIGRATE_UNDO_HELD_H_
#define VM_MIGRATE_UNDO_HELD_H_

#include <string>
#include <vector>

#include "migrate/run_manifest.h"
#include "migrate/undo_run.h"

namespace vm {

class FileSystem;
class NameOps;
struct Texts;

// Puts back what a mirror pass took out (see mirror_pass.h), as its
// manifest records it: first the folders it removed are made again, then
// each file goes back from the pass's holding folder in `runs_dir` to
// where it was, by one rename that never replaces: a file now at that
// place keeps it, and the held file stays where it is (kKept, listed). A
// file whose last record is an intent and that is still in place was
// never moved and is not listed. Last, the holding folders left empty are
// removed. A holding path that is not a plain path below `runs_dir`
// beginning with a "*.held" folder is never touched (kept, listed).
// `entries` paths are already confined to the mail store (ScopeManifest).
// With `dry_run` nothing changes and the outcomes say what would be done.
std::vector<UndoItem> UndoHeld(const std::vector<ManifestEntry>& entries,
                               FileSystem* fs, const NameOps& names,
                               const Texts& texts, const std::string& runs_dir,
                               bool dry_run);

}  // namespace vm

#endif  // VM_MIGRATE_UNDO_HELD_H_
