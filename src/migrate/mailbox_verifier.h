#ifndef VM_MIGRATE_MAILBOX_VERIFIER_H_
#define VM_MIGRATE_MAILBOX_VERIFIER_H_

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "util/name_ops.h"

namespace vm {

class FileSystem;

// A message (or a whole folder) a check found wanting.
struct VerifyProblem {
  enum Kind {
    kMissing,     // no target file stands for the source message
    kDifferent,   // the target file differs from it
    kUnreadable,  // the source folder or its Folders.ini could not be read
  };
  Kind kind = kMissing;
  std::string source;  // the source message, folder pattern or list
  std::string target;  // the target file (the name it would have if missing)
};

// The check of one folder of one mailbox.
struct FolderCheck {
  std::string name;     // target folder name
  int64_t checked = 0;  // source messages looked for
  uint64_t bytes = 0;   // their total size
  int64_t missing = 0;  // missing ones, and source folders not read
  int64_t different = 0;
  std::vector<VerifyProblem> problems;  // in the order of the listing
};

// Checks that a migrated mailbox holds every message of its source: for
// each source message of each folder (the four standard folders, then the
// user-made folders of Folders.ini) one target file under its plain or a
// sized name (see TargetFolderFiles) of the same size, or with `content` of
// the same bytes. Symbolic links in the target store are not followed: a
// mailbox or folder that is one holds nothing. Reads only.
class MailboxVerifier {
 public:
  MailboxVerifier(FileSystem* fs, bool content, const NameOps& names,
                  std::string target_mail_dir);

  // One FolderCheck per folder, in migration order (a folder listed twice
  // is checked twice). False, with no check, when the target mailbox is
  // not a directory of the store. A source folder that cannot be listed or
  // a Folders.ini that cannot be read is a kUnreadable problem, so it is
  // never taken for a clean folder.
  bool Verify(const std::string& source_box, const std::string& target_box,
              std::vector<FolderCheck>* checks);

  // Verify for a mailbox the run did not copy into: one that is not in the
  // store holds nothing, so every source message is missing. Used to find
  // the mail a run leaves behind in accounts it did not migrate.
  void Survey(const std::string& source_box, const std::string& target_box,
              std::vector<FolderCheck>* checks);

  // Whether the target mailbox is a directory of the store (not a link).
  // The store is listed once, at the first question.
  bool HasMailbox(const std::string& target_box);

 private:
  void CheckAll(const std::string& source_box, const std::string& target_box,
                bool target_listed, std::vector<FolderCheck>* checks);
  void CheckFolder(const std::string& pattern, const std::string& index_path,
                   const std::string& target, bool target_is_folder,
                   FolderCheck* check);

  FileSystem* fs_;
  bool content_;
  NameOps names_;
  std::string target_mail_dir_;
  bool store_listed_ = false;
  // Entries of the mail store: folded name -> is a directory (not a link).
  std::unordered_map<std::string, bool> store_;
};

}  // namespace vm

#endif  // VM_MIGRATE_MAILBOX_VERIFIER_H_
