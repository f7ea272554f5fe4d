#ifndef VM_MIGRATE_MAILBOX_USE_H_
#define VM_MIGRATE_MAILBOX_USE_H_

#include <string>
#include <unordered_map>

#include "migrate/run_manifest.h"

namespace vm {

class FileSystem;
class NameOps;
struct Texts;

// The key a manifest's path is compared by: folded, every separator
// written "\", none doubled and none at the end. ("/" is no byte of a
// double-byte character, so the separators are found bytewise.)
std::string PathKey(const std::string& path, const NameOps& names);

// The folders and message files a run recorded, by PathKey, each with
// its last record (the one an undo goes by).
using RunPaths = std::unordered_map<std::string, const ManifestEntry*>;

// Why the mailbox `box` of an account the run added shows use since the
// run, as the texts say it; empty when it holds nothing but what the run
// recorded, unchanged, and a killed run's own leftovers (its pending mark,
// copies in progress). Use is: another program made the mailbox while
// the run staged it; the mailbox is there but the record that the run
// made it is not (a kill came first); a file or folder in it that the
// run did not make; a message of the run's changed since.
std::string MailboxUse(FileSystem* fs, const NameOps& names, const Texts& texts,
                       const std::string& box, const RunPaths& run_paths);

}  // namespace vm

#endif  // VM_MIGRATE_MAILBOX_USE_H_
