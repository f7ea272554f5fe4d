#include "migrate/password_follow.h"

#include <utility>

#include "config/domain_store.h"
#include "config/field_text.h"
#include "config/target_context.h"
#include "config/user_store.h"
#include "migrate/import_steps.h"
#include "migrate/migration_run.h"
#include "migrate/run_host.h"
#include "migrate/texts.h"
#include "migrate/undo_choices.h"
#include "migrate/undo_run.h"
#include "platform/file_system.h"

namespace vm {
namespace {

// A field as the engine writes a new one ("<name>text</name>", or
// "<name/>" when empty): the user store's own encoding of its fields.
std::string FieldMarkup(std::string_view name, std::string_view text) {
  XmlDocument scratch;
  if (!scratch.LoadText(std::string("<i></i>")) || !scratch.MoveTo(0, 0, 0) ||
      !scratch.SeekElement("i") ||
      !scratch.NewElement(name, UpToNul(text), kAsChild)) {
    return std::string();
  }
  const ElementRecord& r = scratch.Element(scratch.ChildPosition());
  return scratch.DocumentText().substr(r.start, r.length);
}

// "user@domain" as the result list names an account.
std::string Display(const NameOps& names, const std::string& user,
                    const std::string& domain) {
  return names.Find(user, '@') == std::string::npos ? user + "@" + domain
                                                    : user;
}

using AccountPair = std::pair<std::string, std::string>;

// One account whose password is to follow, with its item before and after.
struct Rewrite {
  const SourceAccount* account;
  std::string domain;  // the source domain it is listed under
  std::string display;
  ItemReplacement bytes;
};

class Follow {
 public:
  Follow(UserStore* users, DomainStore* domains,
         const RecordedAccounts& recorded, const ImportSteps& steps)
      : users_(users), domains_(domains), recorded_(recorded), s_(steps) {}

  void Passwords();
  void Gone();

 private:
  void Line(const std::string& line, bool failure = false) {
    s_.host->AppendLogLine(line);
    if (failure) ++*s_.failure_lines;
  }
  void Kept(const std::string& display) {
    Line(s_.texts.password_changed_begin + display +
         s_.texts.password_changed_end);
    ++s_.stats->passwords_kept;
  }
  void Save(const std::vector<Rewrite>& rewrites);

  UserStore* users_;
  DomainStore* domains_;
  const RecordedAccounts& recorded_;
  const ImportSteps& s_;
};

void Follow::Passwords() {
  const NameOps& names = s_.target->names;
  std::vector<const SourceAccount*> asked;
  std::vector<AccountPair> pairs;
  for (const SourceDomain& domain : *s_.host->GetSourceDomains()) {
    for (const SourceAccount& account : domain.accounts) {
      if (!recorded_.Recorded(account.user_name, domain.name)) continue;
      asked.push_back(&account);
      pairs.emplace_back(account.user_name, domain.name);
    }
  }
  const std::vector<UserStore::FoundUser> found = users_->FindUsers(pairs);
  std::vector<Rewrite> rewrites;
  for (size_t i = 0; i < asked.size(); ++i) {
    const SourceAccount& account = *asked[i];
    const std::string& item = found[i].item;
    if (item.empty() || found[i].password == UpToNul(account.password)) {
      continue;
    }
    const std::string display =
        Display(names, account.user_name, pairs[i].second);
    std::string after = WithPassword(item, account.password);
    if (after.empty() ||
        !recorded_.Wrote(account.user_name, pairs[i].second, item)) {
      Kept(display);
      continue;
    }
    rewrites.push_back(
        {&account, pairs[i].second, display, {item, std::move(after)}});
  }
  if (!rewrites.empty()) Save(rewrites);
}

// Written ahead: the records are on disk before the save that makes the
// new passwords visible, so an undo after a kill at any moment finds them.
void Follow::Save(const std::vector<Rewrite>& rewrites) {
  std::vector<ItemReplacement> items;
  for (const Rewrite& r : rewrites) {
    if (s_.manifest != nullptr) {
      s_.manifest->Add(PasswordEntry(r.account->user_name, r.domain,
                                     r.bytes.from, r.bytes.to));
    }
    items.push_back(r.bytes);
  }
  if (s_.manifest != nullptr && !s_.manifest->Flush()) {
    Line(s_.texts.manifest_unwritten, true);
    return;
  }
  users_->ReplaceUsers(items);
  const bool saved = users_->SavePending();
  const std::vector<ReplacementOutcome> outcomes =
      users_->TakeSavedReplacements();
  for (size_t i = 0; i < rewrites.size(); ++i) {
    const Rewrite& r = rewrites[i];
    if (!saved || i >= outcomes.size()) {
      Line(s_.texts.password_not_saved + r.display, true);
      continue;
    }
    switch (outcomes[i]) {
      case ReplacementOutcome::kReplaced:
      case ReplacementOutcome::kAlready:
        if (s_.manifest != nullptr) {
          s_.manifest->Add(PasswordEntry(r.account->user_name, r.domain, "", "",
                                         ManifestEntry::Step::kSaved));
        }
        Line(s_.texts.password_followed + r.display);
        ++s_.stats->passwords_followed;
        break;
      case ReplacementOutcome::kChanged:
        // The server changed it between the look and the save.
        Kept(r.display);
        break;
      case ReplacementOutcome::kGone:
        break;
    }
  }
  if (s_.manifest != nullptr) s_.manifest->Flush();
}

// The accounts and domains the tool added that the source no longer
// lists: told, never removed.
void Follow::Gone() {
  const NameOps& names = s_.target->names;
  std::unordered_set<std::string> listed_accounts;
  std::unordered_set<std::string> listed_domains;
  for (const SourceDomain& domain : *s_.host->GetSourceDomains()) {
    listed_domains.insert(names.Fold(domain.name));
    for (const SourceAccount& account : domain.accounts) {
      listed_accounts.insert(names.Fold(account.user_name) + '\0' +
                             names.Fold(domain.name));
    }
  }
  std::vector<AccountPair> gone;
  for (const RecordedAccounts::Account& a : recorded_.accounts()) {
    if (listed_accounts.count(names.Fold(a.user) + '\0' +
                              names.Fold(a.domain)) == 0) {
      gone.emplace_back(a.user, a.domain);
    }
  }
  const std::vector<UserStore::FoundUser> found = users_->FindUsers(gone);
  for (size_t i = 0; i < gone.size(); ++i) {
    if (found[i].item.empty()) continue;  // not in the target any more
    Line(s_.texts.gone_account + Display(names, gone[i].first, gone[i].second));
    ++s_.stats->gone_accounts;
  }
  for (const std::string& domain : recorded_.domains()) {
    if (listed_domains.count(names.Fold(domain)) != 0 ||
        !domains_->DomainExists(domain)) {
      continue;
    }
    Line(s_.texts.gone_domain + domain);
    ++s_.stats->gone_domains;
  }
}

}  // namespace

std::string RecordedAccounts::Key(const std::string& user,
                                  const std::string& domain) const {
  return names_.Fold(user) + '\0' + names_.Fold(domain);
}

void RecordedAccounts::Add(const RunManifest& manifest) {
  using Kind = ManifestEntry::Kind;
  for (const ManifestEntry& e : manifest.entries) {
    if (e.step == ManifestEntry::Step::kSaved) continue;
    if (e.kind == Kind::kDomain) AddDomain(e.name);
    if (e.kind == Kind::kAccount) AddItem(e.name, e.domain, e.item.element);
    if (e.kind == Kind::kPassword) AddItem(e.name, e.domain, e.new_item);
  }
}

void RecordedAccounts::AddItem(const std::string& user,
                               const std::string& domain,
                               const std::string& item) {
  auto [it, added] = items_.try_emplace(Key(user, domain));
  if (added) accounts_.push_back({user, domain});
  it->second.insert(item);
}

void RecordedAccounts::AddDomain(const std::string& domain) {
  if (domain_keys_.insert(names_.Fold(domain)).second) {
    domains_.push_back(domain);
  }
}

bool RecordedAccounts::Wrote(const std::string& user, const std::string& domain,
                             const std::string& item) const {
  auto it = items_.find(Key(user, domain));
  return it != items_.end() && it->second.count(item) != 0;
}

bool RecordedAccounts::Recorded(const std::string& user,
                                const std::string& domain) const {
  return items_.count(Key(user, domain)) != 0;
}

RecordedAccounts ReadRecordedAccounts(FileSystem* fs,
                                      const std::string& target_dir,
                                      const NameOps& names) {
  RecordedAccounts recorded(names);
  std::vector<DirEntry> entries;
  if (!fs->List(RunRecordsFolder(fs, target_dir) + "\\*.manifest", &entries)) {
    return recorded;
  }
  for (const DirEntry& entry : entries) {
    if (entry.is_directory || entry.is_special || entry.unconvertible_name) {
      continue;
    }
    std::string text;
    RunManifest manifest;
    int bad_line = 0;
    if (fs->ReadFile(entry.path, &text, nullptr) &&
        ReadManifest(text, &manifest, &bad_line) == ManifestStatus::kRead &&
        ManifestIsOfTarget(fs, manifest, target_dir)) {
      recorded.Add(manifest);
    }
  }
  return recorded;
}

std::string WithPassword(const std::string& item, const std::string& password) {
  XmlDocument doc;
  if (!doc.LoadText(item) || doc.ElementName(1) != "item") return "";
  const int32_t field = FirstChildNamed(doc, 1, "password");
  const std::string markup = FieldMarkup("password", password);
  if (field == 0 || markup.empty()) return "";
  const ElementRecord& r = doc.Element(field);
  std::string after = item;
  after.replace(static_cast<size_t>(r.start), static_cast<size_t>(r.length),
                markup);
  return after;
}

void FollowSource(UserStore* users, DomainStore* domains,
                  const RecordedAccounts& recorded, bool passwords,
                  const ImportSteps& steps) {
  steps.stats->passwords_followed = 0;
  steps.stats->passwords_kept = 0;
  steps.stats->gone_accounts = 0;
  steps.stats->gone_domains = 0;
  Follow follow(users, domains, recorded, steps);
  if (passwords) follow.Passwords();
  follow.Gone();
}

}  // namespace vm
