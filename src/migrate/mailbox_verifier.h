#ifndef VM_MIGRATE_MAILBOX_VERIFIER_H_
#define VM_MIGRATE_MAILBOX_VERIFIER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "util/name_ops.h"

namespace vm {

class FileSystem;

// The check of one folder of one mailbox.
struct FolderCheck {
  std::string name;                    // target folder name
  int64_t checked = 0;                 // source messages looked for
  std::vector<std::string> missing;    // source paths without a target file
  std::vector<std::string> different;  // source paths whose copy differs
};

// Checks that a migrated mailbox holds every message of its source: for
// each source message of each folder (the four standard folders, then the
// user-made folders of Folders.ini) a target file under its plain or its
// sized name, of the same size, or with `content` of the same bytes. Reads
// only.
class MailboxVerifier {
 public:
  MailboxVerifier(FileSystem* fs, bool content, const NameOps& names);

  // One FolderCheck per folder, in migration order. A source folder that
  // cannot be listed or a Folders.ini that cannot be read shows as one
  // missing entry naming it, so it is never taken for a clean folder.
  std::vector<FolderCheck> Verify(const std::string& source_box,
                                  const std::string& target_box);

 private:
  void CheckFolder(const std::string& pattern, const std::string& target,
                   FolderCheck* check);

  FileSystem* fs_;
  bool content_;
  NameOps names_;
};

}  // namespace vm

#endif  // VM_MIGRATE_MAILBOX_VERIFIER_H_
