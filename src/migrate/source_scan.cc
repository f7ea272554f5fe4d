#include "migrate/source_scan.h"

#include <vector>

#include "platform/file_system.h"
#include "util/name_ops.h"

namespace vm {

namespace {

bool IsMessageName(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot + 1 == name.size()) return false;
  std::string ext = NameOps().Fold(name.substr(dot + 1));
  if (ext == "in" || ext == "sed" || ext == "out" || ext == "del") return true;
  return ext.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

SourceTotals ScanSourceMailboxes(FileSystem* fs, const std::string& source_dir,
                                 const SourceDomainList& domains) {
  SourceTotals totals;
  std::vector<DirEntry> entries;
  for (const SourceDomain& domain : domains) {
    for (const SourceAccount& account : domain.accounts) {
      ++totals.accounts;
      if (!fs->List(source_dir + "\\mail\\" + account.user_name + "\\*",
                    &entries)) {
        continue;
      }
      for (const DirEntry& entry : entries) {
        if (entry.is_directory || !IsMessageName(entry.name)) continue;
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
  fs->List(source_dir + "\\mail\\*", &entries);
  for (const DirEntry& entry : entries) {
    if (entry.unconvertible_name && entry.is_directory) {
      found.push_back(entry.path);
    }
  }
  return found;
}

}  // namespace vm
