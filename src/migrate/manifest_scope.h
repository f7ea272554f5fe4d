#ifndef VM_MIGRATE_MANIFEST_SCOPE_H_
#define VM_MIGRATE_MANIFEST_SCOPE_H_

#include <string>
#include <vector>

#include "migrate/run_manifest.h"
#include "migrate/undo_run.h"

namespace vm {

class NameOps;
struct Texts;

// The mail store of the run a manifest records, spelled as that run
// spelled it: the undo's `store` with the undo's spelling of the target
// (`target_dir`) replaced by the one in the manifest's header, when the
// store lies in the target folder; else `store` itself (a store named by
// its own path).
std::string RecordedStore(const RunManifest& manifest,
                          const std::string& target_dir,
                          const std::string& store, const NameOps& names);

// A manifest is read from disk, so its folders and files are no more
// trusted than a name from a listing: the undo touches only those that lie
// beneath the run's mail store (`run_store`), written as a run writes
// them: below the store, parts separated by single separators ("\\" or
// "/", which are one on every system), none empty, "." or "..". Each of
// those is given the undo's
// spelling of the store (`store`); every other (an absolute path
// elsewhere, a climb out of the store, a path with a doubled separator) is
// taken out of `manifest` and returned as an item kept with its reason, so
// the undo is not complete. Links beneath the store are refused by the
// file system view the undo works through.
// ScopeManifest's test of one entry with a path, for a reader that takes
// the entries one at a time: whether it lies beneath `run_store`, and if
// so its path given the spelling `store`.
class StoreScope {
 public:
  // `names` outlives the scope.
  StoreScope(const std::string& run_store, std::string store,
             const NameOps& names);
  bool Take(ManifestEntry* entry) const;

 private:
  std::string prefix_;  // the run's store and a separator, backslashed
  std::string store_;
  const NameOps& names_;
};

std::vector<UndoItem> ScopeManifest(RunManifest* manifest,
                                    const std::string& run_store,
                                    const std::string& store,
                                    const NameOps& names, const Texts& texts);

}  // namespace vm

#endif  // VM_MIGRATE_MANIFEST_SCOPE_H_
