#ifndef VM_MIGRATE_MIRROR_PROOFS_H_
#define VM_MIGRATE_MIRROR_PROOFS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "migrate/listing_sizes.h"
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
    keys_.clear();
    files_.clear();
    order_.clear();
    dirs_.clear();
  }
  // A message file the tool made, by PathKey (one file may have several):
  // its size, and its digest (32 hex digits) or its stamp.
  void AddFile(std::string_view key, uint64_t size, std::string_view md5,
               std::optional<FileStamp> stamp);
  // Room for `files` more files whose keys add up to at most `key_bytes`:
  // a pass adding many then fills each list once instead of growing it.
  void Reserve(size_t files, size_t key_bytes) {
    files_.reserve(files_.size() + files);
    keys_.reserve(keys_.size() + key_bytes);
  }
  // A folder the tool made, by PathKey.
  void AddDir(std::string key) { dirs_.insert(std::move(key)); }
  // Orders the files for look-up, once all are added. A file added since
  // is not found: a mirror then keeps it, which is never a loss.
  void Seal();

  // Whether the file `path` is exactly as a record says the tool left it.
  // A file that cannot be read for its digest is not.
  bool FileUnchanged(FileSystem* fs, const std::string& path) const;
  // The size the tool wrote the file `path` with, when every record of it
  // whose stamp has the file number `file` says one size: a listing that
  // tells file numbers spares a look at each file the tool wrote and no
  // one replaced since (one rewritten in place is not told apart, as in a
  // folder whose status is unchanged). False for any other file.
  bool WrittenSize(const std::string& path, uint64_t file,
                   uint64_t* size) const;
  // WrittenSize as a SizeTeller; the proofs outlive it.
  SizeTeller Teller() const {
    return [this](const std::string& path, uint64_t file, uint64_t* size) {
      return WrittenSize(path, file, size);
    };
  }
  // Whether a manifest says the tool made the folder `path`.
  bool MadeDir(const std::string& path) const;

 private:
  // What proves one file: its size and stamp, or its size and digest.
  // The keys of every file lie end to end in one string, so that a
  // target of many files costs a few large blocks rather than several
  // small ones per file, to fill and to free.
  struct Proof {
    size_t key_at = 0;
    size_t key_size = 0;
    uint64_t size = 0;
    std::array<char, 32> md5{};
    bool has_md5 = false;
    std::optional<FileStamp> stamp;
  };
  std::string_view KeyOf(const Proof& proof) const {
    return std::string_view(keys_).substr(proof.key_at, proof.key_size);
  }
  bool Proves(FileSystem* fs, const std::string& path,
              const Proof& proof) const;
  // The records of the key `key`, in order_.
  std::pair<std::vector<uint32_t>::const_iterator,
            std::vector<uint32_t>::const_iterator>
  Records(const std::string& key) const;

  NameOps names_;
  std::string keys_;
  std::vector<Proof> files_;
  // The records' places in files_ in key order as last sealed, a key's
  // records in the order added (smaller to sort than the records).
  std::vector<uint32_t> order_;
  std::unordered_set<std::string> dirs_;
};

}  // namespace vm

#endif  // VM_MIGRATE_MIRROR_PROOFS_H_
