#include "migrate/source_scan.h"

#include <vector>

#include "migrate/source_mailbox.h"
#include "platform/file_system.h"

namespace vm {

SourceTotals ScanSourceMailbox(FileSystem* fs, const std::string& source_dir,
                               const std::string& user_name) {
  SourceTotals totals;
  totals.accounts = 1;
  std::vector<DirEntry> entries;
  if (!fs->List(SourceMailbox(source_dir, user_name) + "\\*", &entries)) {
    return totals;
  }
  for (const DirEntry& entry : entries) {
    if (entry.is_directory || !IsMessageFileName(entry.name)) continue;
    ++totals.messages;
    totals.bytes += entry.size;
  }
  return totals;
}

SourceTotals ScanSourceMailboxes(FileSystem* fs, const std::string& source_dir,
                                 const SourceDomainList& domains) {
  SourceTotals totals;
  for (const SourceDomain& domain : domains) {
    for (const SourceAccount& account : domain.accounts) {
      SourceTotals one = ScanSourceMailbox(fs, source_dir, account.user_name);
      totals.accounts += one.accounts;
      totals.messages += one.messages;
      totals.bytes += one.bytes;
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
