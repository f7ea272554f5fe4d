#include "migrate/source_scan.h"

#include <vector>

#include "migrate/source_mailbox.h"
#include "platform/file_system.h"

namespace vm {

SourceTotals ScanSourceMailboxes(FileSystem* fs, const std::string& source_dir,
                                 const SourceDomainList& domains) {
  SourceTotals totals;
  std::vector<DirEntry> entries;
  for (const SourceDomain& domain : domains) {
    for (const SourceAccount& account : domain.accounts) {
      ++totals.accounts;
      if (!fs->List(SourceMailbox(source_dir, account.user_name) + "\\*",
                    &entries)) {
        continue;
      }
      for (const DirEntry& entry : entries) {
        if (entry.is_directory || !IsMessageFileName(entry.name)) continue;
        ++totals.messages;
        totals.bytes += entry.size;
      }
    }
  }
  return totals;
}

std::vector<std::string> UnreachableMailboxes(FileSystem* fs,
                                              const std::string& source_dir) {
  std::vector<std::string> found;
  std::vector<DirEntry> entries;
  fs->List(SourceMailDir(source_dir) + "\\*", &entries);
  for (const DirEntry& entry : entries) {
    if (entry.unconvertible_name && entry.is_directory) {
      found.push_back(entry.path);
    }
  }
  return found;
}

}  // namespace vm
