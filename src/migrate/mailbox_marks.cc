// The pending marks of the mailbox migrator (see MailboxMigrator::MarkPending
// and the manifest records written ahead of them).

#include <string>
#include <vector>

#include "migrate/mailbox_migrator.h"
#include "migrate/run_manifest.h"
#include "platform/file_system.h"

namespace vm {

void MailboxMigrator::SettleBox(const std::string& target_box) {
  if (unsettled_.count(target_box) != 0) Finish();
}

bool MailboxMigrator::MarkPending(const SourceAccount& account,
                                  const std::string& primary_domain,
                                  bool sync) {
  std::string target_box = TargetBox(account, primary_domain);
  if (target_box.empty()) return true;
  SettleBox(target_box);
  MarkAhead(target_box);
  return marks_.Mark(target_box, sync);
}

bool MailboxMigrator::MarkNew(const SourceAccount& account,
                              const std::string& primary_domain) {
  const std::string target_box = TargetBox(account, primary_domain);
  if (target_box.empty()) return true;
  SettleBox(target_box);
  // One look serves the manifest and the mark. A mailbox that is not
  // there is recorded as about to be made (it, or its staging folder,
  // appears at once) and its mark goes with it; in one that is, the mark
  // is recorded.
  const bool exists = fs_->Exists(target_box);
  if (options_.manifest != nullptr) {
    options_.manifest->WriteAhead(
        exists ? ManifestEntry::Kind::kMessageFile
               : ManifestEntry::Kind::kDirectory,
        {exists ? target_box + "\\" + kPendingMark : target_box});
  }
  return marks_.MarkNew(target_box, exists);
}

void MailboxMigrator::MarkAhead(const std::string& target_box) {
  // A mailbox that does not exist is recorded by MarkNew; its mark goes
  // with it.
  if (options_.manifest != nullptr && fs_->Exists(target_box)) {
    options_.manifest->WriteAhead(ManifestEntry::Kind::kMessageFile,
                                  {target_box + "\\" + kPendingMark});
  }
}

void MailboxMigrator::MakingAhead(const std::vector<std::string>& dirs) {
  if (options_.manifest == nullptr) return;
  std::vector<std::string> absent;
  for (const std::string& dir : dirs) {
    if (!fs_->Exists(dir)) absent.push_back(dir);
  }
  options_.manifest->WriteAhead(ManifestEntry::Kind::kDirectory, absent);
}

bool MailboxMigrator::IsPending(const SourceAccount& account,
                                const std::string& primary_domain, bool* sync) {
  std::string target_box = TargetBox(account, primary_domain);
  if (target_box.empty()) return false;
  SettleBox(target_box);
  // No other run writes to the target while this one holds its run lock:
  // a mark found was left by a run that ended.
  return marks_.IsMarked(target_box, sync);
}

void MailboxMigrator::ClearPending(const SourceAccount& account,
                                   const std::string& primary_domain) {
  std::string target_box = TargetBox(account, primary_domain);
  if (target_box.empty()) return;
  SettleBox(target_box);
  marks_.Clear(target_box);
}

}  // namespace vm
