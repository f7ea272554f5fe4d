#include "migrate/undo_passwords.h"

#include <string>

#include "config/target_context.h"
#include "config/user_store.h"
#include "migrate/password_follow.h"
#include "migrate/texts.h"

namespace vm {
namespace {

// Whether the record's two items differ in their password field alone, as
// a pass writes them. A record read back from disk is no more trusted
// than a name from a listing, and the undo writes its BEFORE into the
// file: bytes that would add or change anything else are never written.
bool PasswordOnly(const ManifestEntry& e) {
  XmlDocument before;
  if (!before.LoadText(e.item.element) || before.ElementName(1) != "item") {
    return false;
  }
  const int32_t field = FirstChildNamed(before, 1, "password");
  return field != 0 &&
         WithPassword(e.new_item, before.ElementText(field)) == e.item.element;
}

std::string AccountName(const NameOps& names, const ManifestEntry& e) {
  return e.domain.empty() || names.Find(e.name, '@') != std::string::npos
             ? e.name
             : e.name + "@" + e.domain;
}

}  // namespace

std::vector<UndoItem> UndoPasswords(
    const std::vector<RewrittenPassword>& rewritten, TargetContext* target,
    const Texts& texts, bool dry_run) {
  std::vector<UndoItem> items;
  std::vector<const RewrittenPassword*> asked;
  std::vector<ItemReplacement> back;
  for (const RewrittenPassword& r : rewritten) {
    if (!PasswordOnly(*r.entry)) {
      const std::string what = AccountName(target->names, *r.entry);
      items.push_back({ManifestEntry::Kind::kPassword, what, UndoOutcome::kKept,
                       texts.undo_password_record_refused, false, what});
      continue;
    }
    asked.push_back(&r);
    back.push_back({r.entry->new_item, r.entry->item.element});
  }
  if (back.empty()) return items;
  std::vector<ReplacementOutcome> outcomes;
  bool saved = true;
  {
    UserStore users(target);
    if (dry_run) {
      outcomes = users.CheckReplacements(back);
    } else {
      users.ReplaceUsers(back);
      saved = users.SavePending();
      outcomes = users.TakeSavedReplacements();
    }
  }
  for (size_t i = 0; i < asked.size(); ++i) {
    const ManifestEntry& e = *asked[i]->entry;
    UndoItem item;
    item.kind = ManifestEntry::Kind::kPassword;
    item.what = AccountName(target->names, e);
    item.account = item.what;
    const ReplacementOutcome outcome = saved && i < outcomes.size()
                                           ? outcomes[i]
                                           : ReplacementOutcome::kChanged;
    switch (outcome) {
      case ReplacementOutcome::kReplaced:
        item.outcome = UndoOutcome::kRemoved;
        break;
      case ReplacementOutcome::kAlready:
        item.outcome = UndoOutcome::kGone;
        item.never_made = !asked[i]->saved;
        break;
      case ReplacementOutcome::kGone:
        item.outcome = UndoOutcome::kGone;
        break;
      case ReplacementOutcome::kChanged:
        item.outcome = UndoOutcome::kKept;
        item.reason = saved ? texts.undo_item_changed : texts.undo_save_failed;
        break;
    }
    items.push_back(std::move(item));
  }
  return items;
}

}  // namespace vm
