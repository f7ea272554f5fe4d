#ifndef VM_MIGRATE_PROOF_INDEX_H_
#define VM_MIGRATE_PROOF_INDEX_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_identity.h"
#include "util/name_ops.h"

namespace vm {

class FileSystem;
struct DirEntry;
class MirrorProofs;
class RecordedAccounts;

// What the manifests of one target prove, gathered into one file beside
// them so that a mirror pass need not read every manifest each time:
// `<runs>\proof-index`. It holds, per manifest (by its name and its
// status: identity, size, both times), the records a mirror goes by: the
// message files and folders the run made beneath the mail store (keyed in
// this run's spelling, see MirrorProofs) and the account items and
// domains it wrote (RecordedAccounts). Only a manifest of this target
// (by its data folder) adds records.
//
// The index only spares reading: a manifest whose part the index lacks,
// or whose status differs from the one the index holds, is read again; a
// part whose manifest is gone is dropped. An index that is missing, not
// whole, not exactly as this program writes it (its last line holds the
// digest of every line before it), or of another target, store or code
// page is built anew from the manifests, never taken in part. So the
// index proves nothing the manifests do not. It is replaced whole (a
// temporary renamed over it) when it was built anew, or when the
// manifests read are no longer small beside it: a watch's passes each add
// a small manifest, which the next pass reads again instead.
class ProofIndex {
 public:
  static constexpr const char* kFileName = "proof-index";
  // An index taken is written anew only when the manifests read add up to
  // at least this share of its size (1/kRewriteShare).
  static constexpr uint64_t kRewriteShare = 8;

  // How Load went.
  enum class Use {
    kCurrent,    // every manifest's part came from the index
    kUpdated,    // some manifests were read, the rest from the index
                 // (which stays as it was while they are small)
    kRebuilt,    // no index could be taken: every manifest was read
    kUnwritten,  // as read, but the index could not be (re)written
  };

  struct Target {
    std::string runs_dir;    // the folder of the run records
    std::string target_dir;  // the target as this run names it
    std::string store;       // its mail store as this run spells it
    FileId data_folder;      // the identity of its data folder
  };

  // `fs` outlives the index.
  ProofIndex(FileSystem* fs, NameOps names, Target target);

  // Fills `proofs` and `accounts` (which it empties first) with what every
  // "*.manifest" in the runs folder proves. `filled`, when given, is called
  // once they are whole, before the index is written: from then on they
  // may be used while Load goes on.
  Use Load(MirrorProofs* proofs, RecordedAccounts* accounts,
           const std::function<void()>& filled = nullptr);

 private:
  struct Part;
  // The index lines of one manifest's text; false when it proves nothing
  // (unreadable, damaged, another target's).
  bool Lines(std::string_view text, std::vector<std::string>* lines) const;
  // The parts of the index text by manifest, and what they prove; false
  // when it cannot be taken.
  bool Parse(std::string_view text, std::vector<Part>* parts,
             MirrorProofs* proofs, RecordedAccounts* accounts) const;
  // Takes the part of the manifest `entry` from `indexed` (null when the
  // index has none) when its status is the same, else reads it; returns
  // the bytes read.
  uint64_t Fill(const DirEntry& entry, Part* indexed, Part* part);
  // Writes the index anew when it is worth it; how Load went.
  Use Keep(bool taken, bool current, uint64_t read_bytes, uint64_t index_bytes,
           std::vector<Part>* parts);
  std::string Header() const;
  bool Write(const std::vector<Part>& parts);

  FileSystem* fs_;
  NameOps names_;
  Target target_;
};

// Takes one line of the index into `proofs` or `accounts`; false when it
// is no line the index writes.
bool TakeProofLine(std::string_view line, MirrorProofs* proofs,
                   RecordedAccounts* accounts);

}  // namespace vm

#endif  // VM_MIGRATE_PROOF_INDEX_H_
