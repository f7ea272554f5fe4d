#ifndef VM_MIGRATE_MESSAGE_NAMES_H_
#define VM_MIGRATE_MESSAGE_NAMES_H_

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/file_system.h"
#include "util/name_ops.h"

namespace vm {

// A message file keeps its source file name in the target (the plain name)
// or gets its size appended (the sized name): "<name>,S=<size>.0.S", the
// size being the low 32 bits of the file's size as a signed decimal.
std::string SizedName(const std::string& name, uint64_t size);

// The message the sized name `name` stands for, folded (see
// NameOps::Fold); false when `name` is no sized name.
bool SizedNameMessage(const NameOps& names, const std::string& name,
                      std::string* folded_message);

// Whether `name` is that of a copy in progress (see copy_temporary.h): it
// starts with "." and holds ".vmtmp.", letters in any case. Never a
// message: a source file so named is refused, a target file so named is no
// copy of any message, and one in a mailbox left pending is removed.
bool IsCopyTemporaryName(const std::string& name, const NameOps& names);

// The files of one target folder by the message they stand for: a message
// is one file, under its plain name or under a sized name of any size (the
// size it had when it was copied); a copy in progress is none of them. Names
// compare without ASCII case, as the
// file system resolves them.
class TargetFolderFiles {
 public:
  TargetFolderFiles(const NameOps& names, std::vector<DirEntry> entries);
  TargetFolderFiles(const TargetFolderFiles&) = delete;
  TargetFolderFiles& operator=(const TargetFolderFiles&) = delete;

  // The files standing for the source message `name`, in listing order.
  std::vector<const DirEntry*> Find(const std::string& name) const;

  // Of those, the copy of a message of `size` bytes: a regular file of that
  // size under the plain name or under the sized name of that size; null
  // when there is none.
  const DirEntry* Copy(const std::string& name, uint64_t size) const;

 private:
  struct File {
    const DirEntry* entry;
    bool sized;
    int32_t named_size;  // the size in a sized name
  };
  NameOps names_;
  std::vector<DirEntry> entries_;
  std::unordered_map<std::string, std::vector<File>> by_message_;
};

}  // namespace vm

#endif  // VM_MIGRATE_MESSAGE_NAMES_H_
