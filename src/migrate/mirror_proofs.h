#ifndef VM_MIGRATE_MIRROR_PROOFS_H_
#define VM_MIGRATE_MIRROR_PROOFS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "migrate/run_manifest.h"
#include "platform/file_identity.h"
#include "util/name_ops.h"

namespace vm {

class FileSystem;

// What the manifests of one target say this tool put into its mail store:
// each message file with what proves it unchanged (its stamp, or its size
// and digest), and each folder. A mirror takes out only a file found here
// and still as one of its records says, and removes only a folder found
// here; everything else in the target is not the tool's to take.
//
// Filled once per pass by ProofIndex from the manifests in the folder of
// the run records that are of this target; paths count only beneath the
// mail store as that run spelled it, and are keyed in this run's spelling
// (see ScopeManifest), by PathKey.
class MirrorProofs {
 public:
  explicit MirrorProofs(NameOps names) : names_(std::move(names)) {}

  void Clear() {
    files_.clear();
    dirs_.clear();
  }
  // A message file the tool made, by PathKey (one file may have several).
  void AddFile(const std::string& key, uint64_t size, std::string md5,
               std::optional<FileStamp> stamp) {
    files_[key].push_back({size, std::move(md5), stamp});
  }
  // A folder the tool made, by PathKey.
  void AddDir(std::string key) { dirs_.insert(std::move(key)); }

  // Whether the file `path` is exactly as a record says the tool left it.
  // A file that cannot be read for its digest is not.
  bool FileUnchanged(FileSystem* fs, const std::string& path) const;
  // Whether a manifest says the tool made the folder `path`.
  bool MadeDir(const std::string& path) const;

  size_t files() const { return files_.size(); }

 private:
  NameOps names_;
  // What proves one file: its size and stamp, or its size and digest.
  struct Proof {
    uint64_t size = 0;
    std::string md5;
    std::optional<FileStamp> stamp;
  };
  // By PathKey: every record of a file (any may prove it).
  std::unordered_map<std::string, std::vector<Proof>> files_;
  std::unordered_set<std::string> dirs_;
};

}  // namespace vm

#endif  // VM_MIGRATE_MIRROR_PROOFS_H_
