// The sync record in the mailbox migrator: which existing mailboxes a sync
// may leave unlisted, what it confirms of them, and the entry a listed
// mailbox starts with.

#include <memory>
#include <string>
#include <utility>

#include "migrate/mailbox_in_flight.h"
#include "migrate/mailbox_migrator.h"
#include "migrate/source_lists.h"
#include "migrate/sync_record.h"

namespace vm {

std::string MailboxMigrator::RecordKey(const std::string& target_box) const {
  return options_.names.Fold(
      target_box.substr(options_.target_mail_dir.size() + 1));
}

bool MailboxMigrator::NamedByNoNotice(const std::string& user) const {
  return options_.named_boxes != nullptr && !user.empty() &&
         options_.names.Find(user, '\\') == std::string::npos &&
         user.find('/') == std::string::npos &&
         options_.named_boxes->count(options_.names.Fold(user)) == 0;
}

bool MailboxMigrator::Unchanged(const SourceAccount& account,
                                const std::string& primary_domain,
                                Judgement* judgement) {
  const std::string target_box = TargetBox(account, primary_domain);
  if (options_.record == nullptr || options_.clock == nullptr ||
      target_box.empty()) {
    return false;
  }
  const std::string key = RecordKey(target_box);
  const std::string& user = account.user_name;
  const bool unchanged =
      NamedByNoNotice(user)
          ? Recorded(*options_.record, key, account, judgement, options_.mirror)
          : vm::Unchanged(fs_, *options_.record, key, account, SourceBox(user),
                          target_box, *options_.clock, judgement,
                          options_.mirror);
  return unchanged && !marks_.StagingLeft(target_box, options_.names);
}

void MailboxMigrator::LeftUnchanged(const SourceAccount& account,
                                    const std::string& target_box,
                                    std::unique_ptr<SyncEntry> confirmed) {
  if (target_box.empty()) return;
  box_users_[RecordKey(target_box)] = account.user_name;
  if (confirmed != nullptr && options_.record != nullptr) {
    options_.record->Confirm(RecordKey(target_box), std::move(*confirmed));
  }
}

void MailboxMigrator::StartEntry(const SourceAccount& account,
                                 const std::string& target_box, bool fresh,
                                 Mailbox* mailbox) {
  if (options_.record == nullptr || options_.clock == nullptr) return;
  mailbox->record_key = RecordKey(target_box);
  options_.record->Forget(mailbox->record_key);
  mailbox->entry.box = target_box.substr(options_.target_mail_dir.size() + 1);
  // A mailbox this run made holds no copy whose source is gone: its
  // entry serves a mirror as well as a mirror pass's does.
  mailbox->entry.lists = ListsDigest(
      account, options_.mirror || fresh || mailbox->staged != nullptr);
  for (const std::string& folder : NewMailboxFolders()) {
    mailbox->entry.targets.push_back({folder, {}, false, {}, 0});
  }
}

}  // namespace vm
