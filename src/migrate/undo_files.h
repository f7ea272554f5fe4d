#ifndef VM_MIGRATE_UNDO_FILES_H_
#define VM_MIGRATE_UNDO_FILES_H_

#include <functional>
#include <string>
#include <vector>

#include "migrate/run_manifest.h"
#include "migrate/undo_run.h"

namespace vm {

class FileSystem;
class NameOps;
class StopRequest;
struct Texts;

// What became of one message file or folder of a manifest.
struct PathUndo {
  UndoOutcome outcome = UndoOutcome::kKept;
  std::string reason;       // ANSI, from the texts; empty unless kKept
  bool never_made = false;  // see UndoItem
};

// Whether the message file `e` records is still as the run left it: by
// its stamp (the path not followed), or by its size and MD5 digest. A
// file that cannot be read (for its digest) sets *unreadable.
bool FileAsRecorded(FileSystem* fs, const ManifestEntry& e, bool* unreadable);

// Removes the message files and folders of a manifest: `entries` holds the
// message files newest first, then the folders newest first (so a folder
// comes after everything the run put into it). A file goes when its size
// and stamp (or, as recorded, MD5 digest) are still the recorded ones; an
// intent (a file or folder the run was about to make when it was ended)
// is never made when absent and kept when present (nothing proves it the
// run's); a folder
// when it holds nothing but what this undo removed (and a killed run's own
// pending mark and copy temporaries). The entries are removed mailbox by
// mailbox on `jobs` threads: everything under one folder of the manifest that
// no other folder of it holds is one mailbox, handled in the order given, so
// every folder is looked at after the files in it. The outcomes, in the
// order of `entries`, are the same for every `jobs`, but for where a stop
// request cut the work off. With `dry_run` nothing is removed. `stop` may
// be null; once it is requested, the entries not yet handled are kStopped.
// `handled` (may be empty) is called on the handling thread after each.
std::vector<PathUndo> UndoPaths(
    const std::vector<const ManifestEntry*>& entries, FileSystem* fs,
    const NameOps& names, const Texts& texts, bool dry_run,
    const StopRequest* stop, int jobs,
    const std::function<void()>& handled = {});

// The last part of `path` (after its last separator, `\` or `/`, standing
// alone in the code page).
std::string LastPathPart(const std::string& path, const NameOps& names);

}  // namespace vm

#endif  // VM_MIGRATE_UNDO_FILES_H_
