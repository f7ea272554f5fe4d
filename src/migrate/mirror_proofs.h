#ifndef VM_MIGRATE_MIRROR_PROOFS_H_
#define VM_MIGRATE_MIRROR_PROOFS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "migrate/run_manifest.h"
#include "platform/file_identity.h"
#include "util/name_ops.h"

namespace vm {

class FileSystem;
struct Texts;

// What the manifests of one target say this tool put into its mail store:
// each message file with what proves it unchanged (its stamp, or its size
// and digest), and each folder. A mirror takes out only a file found here
// and still as one of its records says, and removes only a folder found
// here; everything else in the target is not the tool's to take.
//
// Built once per pass from every manifest in the folder of the run
// records. A manifest that cannot be read, is damaged, of a version this
// program does not know or of another target (by its data folder's
// identity) adds nothing, so the files only it proves stay. Paths count
// only beneath the mail store as that run spelled it, and are keyed in
// this run's spelling (see ScopeManifest).
class MirrorProofs {
 public:
  // `store`: the target's mail store as this run spells it; `target_dir`
  // the target as this run names it.
  MirrorProofs(NameOps names, std::string target_dir, std::string store);

  // Reads every "*.manifest" in `runs_dir` that belongs to the target
  // whose data folder is `data_folder`. Returns how many were taken.
  int Load(FileSystem* fs, const std::string& runs_dir,
           const FileId& data_folder);
  // Takes the records of one manifest's text when it is of `data_folder`;
  // false when it is not taken.
  bool Add(std::string_view text, const FileId& data_folder);

  // Whether the file `path` is exactly as a record says the tool left it.
  // A file that cannot be read for its digest is not.
  bool FileUnchanged(FileSystem* fs, const std::string& path) const;
  // Whether a manifest says the tool made the folder `path`.
  bool MadeDir(const std::string& path) const;

  size_t files() const { return files_.size(); }

 private:
  NameOps names_;
  std::string target_dir_;
  std::string store_;
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
