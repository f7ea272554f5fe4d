#ifndef VM_MIGRATE_MIRROR_PASS_H_
#define VM_MIGRATE_MIRROR_PASS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "migrate/source_mailbox.h"
#include "migrate/target_listing.h"
#include "platform/file_system.h"
#include "util/name_ops.h"

namespace vm {

class FileSystem;
class ManifestWriter;
class MirrorProofs;

// The part of a sync that makes an existing target mailbox follow what
// was deleted or moved on the source: a message file the tool put into
// the target whose source file is no longer in its source folder is taken
// out (a message moved to another folder is gone from its old one; the
// sync copies it to its new one), and a user folder the source no longer
// lists goes too when it held only such files and the tool made it.
//
// Nothing is destroyed: "taken out" is one rename per file into the pass's
// holding folder, `<runs>\<holding>\<mailbox>\<folder>\<file>`, on the
// target's data folder's volume, recorded in the pass's manifest before
// (intent) and after (done) it, so that an undo of the pass puts each
// file back. A file is taken only while it is exactly as a manifest of
// this target records it (MirrorProofs); any other stays and is counted
// as kept. A source mailbox that cannot be listed whole takes nothing out
// of its target mailbox; nor does a missing one.
class MirrorPass {
 public:
  struct Options {
    std::string store;     // the target's mail store
    std::string runs_dir;  // the folder of the run records
    std::string holding;   // the pass's holding folder's name in runs_dir
    bool preview = false;  // count what would go; move nothing
    // Waited for before the proofs, and the accounts read with them, are
    // first used: they may still be being read. May be empty.
    std::function<void()> ready;
  };

  // What became of one target folder, and what it holds after the pass:
  // the copies into it go by `files` instead of listing it again.
  struct Folder {
    std::string name;  // the target folder's name as found
    int64_t removed = 0;
    uint64_t removed_bytes = 0;
    int64_t kept = 0;                 // gone from the source, not provable
    std::vector<std::string> failed;  // paths that could not be moved
    bool gone = false;                // no source folder goes to it any more
    bool listed = false;              // `files` is the folder's listing
    std::vector<DirEntry> files;      // without the files taken out
  };

  // `fs`, `proofs` and `manifest` (null only with preview) outlive the
  // pass.
  MirrorPass(FileSystem* fs, NameOps names, const MirrorProofs* proofs,
             ManifestWriter* manifest, Options options);
  MirrorPass(const MirrorPass&) = delete;
  MirrorPass& operator=(const MirrorPass&) = delete;

  // Mirrors the existing target mailbox `target_box` after its source,
  // listed in `box`; `folders` are every source folder (standard and
  // user-made, by their target names), `folder_list_known` false when the
  // user-made ones could not be read (then no folder counts as gone).
  // `ahead`, when not null, is the target mailbox as listed a little
  // earlier (TargetListing): it is taken instead of listing it again.
  // Folders are listed by names, and the sizes of the files the tool wrote
  // taken from the proofs (MirrorProofs::WrittenSize), but with `left_by_kill`:
  // a mailbox a killed run left may hold a copy written after the last proof of
  // its name (one whose file number an undone copy had), so it is listed anew,
  // with sizes, and `ahead` is not taken. Returns every target folder of the
  // mailbox it listed, in name order (none when the pass could not be
  // recorded). Called from the run's thread.
  std::vector<Folder> Mirror(const std::string& target_box,
                             const MailboxListing& box,
                             const std::vector<SourceFolder>& folders,
                             bool folder_list_known,
                             const TargetListing* ahead = nullptr,
                             bool left_by_kill = false);

  // Waits for the proofs and the accounts read with them (Options::ready);
  // called from the run's thread.
  void Ready();

  // Over the pass so far.
  int64_t removed() const { return removed_; }
  uint64_t removed_bytes() const { return removed_bytes_; }

 private:
  struct Plan;
  // Lists the target folder `dir` into `folder` (or takes `ahead`, its
  // listing made earlier, when not null; by names unless `sizes`) and
  // plans out its gone files, whose source messages are not in `present`
  // (folded names); all of them for a folder gone from the source.
  void Look(const std::string& dir, const std::vector<DirEntry>* ahead,
            const std::vector<std::string>& present, bool sizes, Plan* plan,
            Folder* folder);
  // Records, moves and records again; false when the manifest could not
  // be written (nothing moved).
  bool Hold(Plan* plan, std::vector<Folder>* folders);
  // Drops the files `plan` moved from their folders' listings.
  static void DropHeld(const Plan& plan, std::vector<Folder>* folders);
  // The holding path of `path` (relative to runs_dir), and the folders
  // it needs made.
  std::string HeldName(const std::string& path) const;
  bool MakeHoldingFolders(const std::string& held);

  FileSystem* fs_;
  NameOps names_;
  const MirrorProofs* proofs_;
  ManifestWriter* manifest_;
  Options options_;
  int64_t removed_ = 0;
  uint64_t removed_bytes_ = 0;
  std::unordered_set<std::string> made_;  // holding folders made, folded
};

}  // namespace vm

#endif  // VM_MIGRATE_MIRROR_PASS_H_
