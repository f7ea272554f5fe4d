#include "migrate/mirror_proofs.h"

#include "migrate/mailbox_use.h"
#include "migrate/undo_files.h"
#include "platform/file_system.h"

namespace vm {

bool MirrorProofs::FileUnchanged(FileSystem* fs,
                                 const std::string& path) const {
  auto it = files_.find(PathKey(path, names_));
  if (it == files_.end()) return false;
  for (const Proof& proof : it->second) {
    ManifestEntry e = MessageFileEntry(path, proof.size, proof.md5);
    e.stamp = proof.stamp;
    bool unreadable = false;
    if (FileAsRecorded(fs, e, &unreadable)) return true;
  }
  return false;
}

bool MirrorProofs::MadeDir(const std::string& path) const {
  return dirs_.count(PathKey(path, names_)) > 0;
}

}  // namespace vm
