#include "config/user_store.h"

#include <string>
#include <string_view>
#include <unordered_set>

#include "config/field_text.h"
#include "config/item_writer.h"
#include "config/target_context.h"
#include "platform/clock.h"

namespace vm {
namespace {

// The form in which a user name is stored: up to its first "@".
std::string_view StoredName(const NameOps& names, std::string_view name) {
  name = UpToNul(name);
  return name.substr(0, names.Find(name, '@'));
}

// The fields in the order the target's own tools write them.
void WriteUserFields(const UserRecord& u, std::string_view name,
                     std::string_view domain, int64_t now, ItemWriter* w) {
  w->Always("name", name);
  w->Always("domain", domain);
  w->Always("password", u.password);
  w->Number("authtype", u.authtype);
  w->Number("accountstatus", u.accountstatus);
  w->Text("fullname", u.fullname);
  w->Text("description", u.description);
  w->Number("publicinfo", u.publicinfo);
  w->AlwaysNumber("mailquota", u.mailquota);
  w->AlwaysNumber("mailtotallimit", u.mailtotallimit);
  w->AlwaysNumber("netstorequota", u.netstorequota);
  w->AlwaysNumber("netstoretotallimit", u.netstoretotallimit);
  w->Number("warninglimit", u.warninglimit);
  w->Text("mailstorepath", u.mailstorepath);
  w->Text("netstorepath", u.netstorepath);
  w->Number("sendcontrol", u.sendcontrol);
  w->Number("recvcontrol", u.recvcontrol);
  w->Text("senddomainlist", u.senddomainlist);
  w->Text("recvdomainlist", u.recvdomainlist);
  w->Number("pop3control", u.pop3control);
  w->Number("imapcontrol", u.imapcontrol);
  w->Number("webmailcontrol", u.webmailcontrol);
  w->Number("netstorecontrol", u.netstorecontrol);
  w->Number("calendarcontrol", u.calendarcontrol);
  w->Number("notebookcontrol", u.notebookcontrol);
  w->Number("modifyuserinfo", u.modifyuserinfo);
  w->Number("externalpop3", u.externalpop3);
  w->Number("autoforward", u.autoforward);
  w->Number("autoreply", u.autoreply);
  w->Number("spamcontrol", u.spamcontrol);
  w->Number("publiccontact", u.publiccontact);
  w->Number("smsnotify", u.smsnotify);
  w->Number("sendsms", u.sendsms);
  w->Number("sendmaxmsgsize", u.sendmaxmsgsize);
  w->Number("sendfreq", u.sendfreq);
  w->Number("localtimes", u.localtimes);
  w->Number("localsize", u.localsize);
  w->Number("remotetimes", u.remotetimes);
  w->Number("remotesize", u.remotesize);
  if (u.chgpassword != 0) {
    w->Number("chgpassword", u.chgpassword);
    // The clock is 64-bit; the file holds a signed 32-bit time.
    w->AlwaysNumber("lastchgpwdtime", static_cast<int32_t>(now));
  }
  w->Number("pwdexpiredays", u.pwdexpiredays);
  w->Number("expiretime", u.expiretime);
  w->AlwaysNumber("createtime", static_cast<int32_t>(now));
  w->AlwaysNumber("lastvisittime", static_cast<int32_t>(now));
}

}  // namespace

// Answers "is there an item with this name and domain" as the walk over the
// items would, without walking. An item's domain is its domain text, or the
// primary domain (whatever it is at the time of the question) when its
// domain element is empty, or empty when it has no domain element.
class UserStore::NameIndex {
 public:
  explicit NameIndex(const NameOps* names) : names_(names) {}

  void Add(std::string_view name, bool has_domain, std::string_view domain) {
    std::string key = names_->Fold(name);
    if (!has_domain) {
      without_domain_.insert(std::move(key));
    } else if (domain.empty()) {
      in_primary_.insert(std::move(key));
    } else {
      key.push_back('\0');  // names hold no NUL, so the pair is unambiguous
      key += names_->Fold(domain);
      with_domain_.insert(std::move(key));
    }
  }

  // Indexes one item by the texts of its first `name_field` child and its
  // first domain child, read as the walk over the items reads them.
  void AddItem(const XmlDocument& doc, int32_t item,
               std::string_view name_field) {
    int32_t name = FirstChildNamed(doc, item, name_field);
    int32_t domain = FirstChildNamed(doc, item, "domain");
    Add(name == 0 ? std::string() : doc.ElementText(name), domain != 0,
        domain == 0 ? std::string() : doc.ElementText(domain));
  }

  void AddList(const XmlDocument& doc, int32_t list,
               std::string_view name_field) {
    for (int32_t item = doc.Element(list).first_child; item != 0;
         item = doc.Element(item).next) {
      if (doc.ElementName(item) == "item") AddItem(doc, item, name_field);
    }
  }

  bool Contains(std::string_view name, std::string_view domain,
                const std::string& primary) const {
    std::string key = names_->Fold(name);
    std::string wanted = names_->Fold(domain.empty() ? primary : domain);
    if (wanted.empty()) {
      // Both the asked domain and the primary domain are empty: an item
      // without domain element matches, and so does one whose empty domain
      // element stands for the (empty) primary domain.
      return without_domain_.count(key) != 0 || in_primary_.count(key) != 0;
    }
    if (names_->EqualsIgnoringCase(wanted, primary) && in_primary_.count(key)) {
      return true;
    }
    key.push_back('\0');
    key += wanted;
    return with_domain_.count(key) != 0;
  }

 private:
  const NameOps* names_;
  std::unordered_set<std::string> with_domain_;  // name NUL domain, folded
  std::unordered_set<std::string> in_primary_;
  std::unordered_set<std::string> without_domain_;
};

namespace {
constexpr const char* kPreferred = "\\data\\userauth.cfg";
constexpr const char* kFallback = "\\userauth.cfg";
}  // namespace

std::string UserStore::PathFor(TargetContext* context) {
  return ChoosePath(context, kPreferred, kFallback);
}

UserStore::UserStore(TargetContext* context)
    : ConfigFile(context, "userauth.cfg", kPreferred, kFallback),
      users_(std::make_unique<NameIndex>(&context_->names)),
      aliases_(std::make_unique<NameIndex>(&context_->names)),
      removals_("user", {"name", "domain"}, &context_->names),
      replacements_("user", {"name", "domain"}, &context_->names) {
  MutexLock guard(&mutex_);
  Loaded();
}

void UserStore::Loaded() {
  users_ = std::make_unique<NameIndex>(&context_->names);
  aliases_ = std::make_unique<NameIndex>(&context_->names);
  if (int32_t list = FindList(document_, "user")) {
    users_->AddList(document_, list, "name");
  }
  if (int32_t list = FindList(document_, "useralias")) {
    aliases_->AddList(document_, list, "aliasname");
  }
}

UserStore::~UserStore() { Close(); }

bool UserStore::UserExists(const std::string& name,
                           const std::string& domain) const {
  MutexLock guard(&mutex_);
  return UserExistsLocked(name, domain);
}

bool UserStore::AliasExists(const std::string& name,
                            const std::string& domain) const {
  MutexLock guard(&mutex_);
  return AliasExistsLocked(name, domain);
}

bool UserStore::UserExistsLocked(const std::string& name,
                                 const std::string& domain) const {
  return users_->Contains(StoredName(context_->names, name), UpToNul(domain),
                          context_->primary_domain);
}

bool UserStore::AliasExistsLocked(const std::string& name,
                                  const std::string& domain) const {
  return aliases_->Contains(StoredName(context_->names, name), UpToNul(domain),
                            context_->primary_domain);
}

bool UserStore::CanAdd(const std::string& name) const {
  MutexLock guard(&mutex_);
  return !StoredName(context_->names, name).empty() &&
         FindList(document_, "user") != 0;
}

void UserStore::ExpectAdditions(size_t count) {
  MutexLock guard(&mutex_);
  expected_additions_ = count;
}

AddUserResult UserStore::AddUser(const UserRecord& user) {
  MutexLock guard(&mutex_);
  if (StoredName(context_->names, user.name).empty())
    return AddUserResult::kFailed;
  if (UserExistsLocked(user.name, user.domain)) return AddUserResult::kExists;
  if (AliasExistsLocked(user.name, user.domain)) {
    return AddUserResult::kAliasExists;
  }
  PendingUser added;
  added.name = user.name;
  added.domain = user.domain;
  added.user = user;
  added.now = context_->clock->NowSeconds();
  bool complete = false;
  const size_t before = document_.DocumentText().size();
  if (!AppendItem(&added, &complete)) return AddUserResult::kFailed;
  // Even an item cut short stays in the document, as the index has it.
  NoteAddition();
  if (expected_additions_ > 0) {
    // Names differ in length: a quarter more than this item's size each.
    const size_t item = document_.DocumentText().size() - before;
    document_.ReserveText(document_.DocumentText().size() +
                          expected_additions_ * (item + item / 4));
    expected_additions_ = 0;
  }
  if (!complete) return AddUserResult::kFailed;
  pending_users_.push_back(std::move(added));
  return AddUserResult::kAdded;
}

bool UserStore::AppendItem(PendingUser* added, bool* complete) {
  std::string_view name = StoredName(context_->names, added->user.name);
  std::string_view domain = UpToNul(added->user.domain);
  ItemWriter writer(&document_, "user");
  if (!writer.opened()) return false;
  // The primary domain's users carry an empty domain element.
  std::string_view stored_domain =
      context_->names.EqualsIgnoringCase(domain, context_->primary_domain)
          ? std::string_view()
          : domain;
  WriteUserFields(added->user, name, stored_domain, added->now, &writer);
  added->written = writer.Written();
  // The index follows the document, and reads the item back as a walk
  // would (a name of blanks only, for one, reads as empty).
  users_->AddItem(document_, writer.item(), "name");
  *complete = writer.ok();
  return true;
}

bool UserStore::Merge(XmlDocument* fresh) {
  document_ = std::move(*fresh);
  Loaded();
  merged_existing_.clear();
  for (PendingUser& added : pending_users_) {
    // Another writer added it meanwhile: it exists, as a check would say.
    if (UserExistsLocked(added.user.name, added.user.domain) ||
        AliasExistsLocked(added.user.name, added.user.domain)) {
      merged_existing_.emplace_back(added.user.name, added.user.domain);
      added.written = AddedItem{};
      continue;
    }
    bool complete = false;
    if (!AppendItem(&added, &complete) || !complete) return false;
  }
  if (!removals_.Reapply(&document_)) return false;
  if (!replacements_.Reapply(&document_)) return false;
  Loaded();
  return true;
}

void UserStore::PendingSaved() {
  MoveWrittenAdditions(&pending_users_, &saved_additions_);
  removals_.Saved();
  replacements_.Saved();
  for (auto& existing : merged_existing_) {
    added_by_others_.push_back(std::move(existing));
  }
  merged_existing_.clear();
}

std::vector<SavedAddition> UserStore::AboutToWriteLocked() const {
  return WrittenAdditions(pending_users_);
}

std::vector<std::pair<std::string, std::string>>
UserStore::TakeAddedByOthers() {
  MutexLock guard(&mutex_);
  std::vector<std::pair<std::string, std::string>> taken;
  taken.swap(added_by_others_);
  return taken;
}

std::vector<SavedAddition> UserStore::TakeSavedAdditions() {
  MutexLock guard(&mutex_);
  std::vector<SavedAddition> taken;
  taken.swap(saved_additions_);
  return taken;
}

std::vector<RemovalOutcome> UserStore::RemoveAddedUsers(
    const std::vector<AddedItem>& items) {
  MutexLock guard(&mutex_);
  if (items.empty()) return {};
  NoteRemoval();
  std::vector<RemovalOutcome> outcomes = removals_.Request(&document_, items);
  Loaded();
  return outcomes;
}

std::vector<RemovalOutcome> UserStore::CheckAddedUsers(
    const std::vector<AddedItem>& items) const {
  MutexLock guard(&mutex_);
  if (items.empty()) return {};
  PendingRemovals probe("user", {"name", "domain"}, &context_->names);
  XmlDocument copy = document_;
  return probe.Request(&copy, items);
}

std::vector<RemovalOutcome> UserStore::TakeSavedRemovals() {
  MutexLock guard(&mutex_);
  return removals_.TakeSaved();
}

std::vector<UserStore::FoundUser> UserStore::FindUsers(
    const std::vector<std::pair<std::string, std::string>>& accounts) const {
  MutexLock guard(&mutex_);
  const NameOps& names = context_->names;
  const auto by_key = ItemsByKey(document_, "user", {"name", "domain"}, names);
  std::vector<FoundUser> found(accounts.size());
  for (size_t i = 0; i < accounts.size(); ++i) {
    const std::string name = names.Fold(StoredName(names, accounts[i].first));
    const std::string_view domain = UpToNul(accounts[i].second);
    std::vector<std::string> keys = {name + '\0' + names.Fold(domain) + '\0'};
    // The primary domain's users carry an empty domain element.
    if (domain.empty() ||
        names.EqualsIgnoringCase(domain, context_->primary_domain)) {
      keys.push_back(name + '\0' + names.Fold(context_->primary_domain) + '\0');
      keys.push_back(name + std::string(2, '\0'));
    }
    int32_t item = 0;
    for (const std::string& key : keys) {
      auto it = by_key.find(key);
      if (it != by_key.end() && it->second.back() > item) {
        item = it->second.back();
      }
    }
    if (name.empty() || item == 0) continue;
    const ElementRecord& r = document_.Element(item);
    found[i].item = document_.DocumentText().substr(r.start, r.length);
    const int32_t password = FirstChildNamed(document_, item, "password");
    if (password != 0) found[i].password = document_.ElementText(password);
  }
  return found;
}

std::vector<ReplacementOutcome> UserStore::ReplaceUsers(
    const std::vector<ItemReplacement>& items) {
  MutexLock guard(&mutex_);
  if (items.empty()) return {};
  NoteEdit();
  std::vector<ReplacementOutcome> outcomes =
      replacements_.Request(&document_, items);
  Loaded();
  return outcomes;
}

std::vector<ReplacementOutcome> UserStore::CheckReplacements(
    const std::vector<ItemReplacement>& items) const {
  MutexLock guard(&mutex_);
  if (items.empty()) return {};
  PendingReplacements probe("user", {"name", "domain"}, &context_->names);
  XmlDocument copy = document_;
  return probe.Request(&copy, items);
}

std::vector<ReplacementOutcome> UserStore::TakeSavedReplacements() {
  MutexLock guard(&mutex_);
  return replacements_.TakeSaved();
}

bool UserStore::DomainInUse(const std::string& domain) const {
  MutexLock guard(&mutex_);
  const NameOps& names = context_->names;
  for (const char* list_name : {"user", "useralias"}) {
    const int32_t list = FindList(document_, list_name);
    if (list == 0) continue;
    for (int32_t item = document_.Element(list).first_child; item != 0;
         item = document_.Element(item).next) {
      if (document_.ElementName(item) != "item") continue;
      const int32_t element = FirstChildNamed(document_, item, "domain");
      if (element == 0) continue;  // of no domain
      const std::string text = document_.ElementText(element);
      if (names.EqualsIgnoringCase(
              text.empty() ? context_->primary_domain : text, domain)) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace vm
