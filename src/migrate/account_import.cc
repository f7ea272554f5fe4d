#include "migrate/account_import.h"

#include <string>
#include <utility>
#include <vector>

#include "config/domain_store.h"
#include "config/target_context.h"
#include "config/user_store.h"
#include "migrate/account_judges.h"
#include "migrate/existing_mail.h"
#include "migrate/import_steps.h"
#include "migrate/lazy_users.h"
#include "migrate/mailbox_migrator.h"
#include "migrate/migration_run.h"
#include "migrate/new_user.h"
#include "migrate/run_host.h"
#include "migrate/run_manifest.h"
#include "migrate/run_observer.h"
#include "migrate/safe_name.h"
#include "migrate/stop_request.h"
#include "migrate/texts.h"

namespace vm {

namespace {

const DomainRecord* FindDomain(const std::vector<DomainRecord>& domains,
                               const NameOps& names, const std::string& name) {
  for (const DomainRecord& record : domains) {
    if (names.EqualsIgnoringCase(record.domain, name)) return &record;
  }
  return nullptr;
}

// The account step of one run: the target's domains, read once, and the
// accounts added since the user store last saved. A failed save names
// each of those with its failure line and marks its mailbox pending again,
// so a later run adds it and finishes its mail.
class AccountStep {
 public:
  AccountStep(LazyUsers* users, MailboxMigrator* mailboxes,
              const ImportSteps& steps, RunObserver* observer)
      : users_(users),
        mailboxes_(mailboxes),
        s_(steps),
        observer_(observer),
        domain_store_(steps.target) {}

  bool Run();

 private:
  // An account of a domain the target has, with what its steps share.
  struct Account {
    SourceAccount* source;
    std::string display;  // "user@domain" as the result list names it
    std::string box;      // its target mailbox; empty when refused
  };

  bool LoadDomains();
  size_t TellHead();
  void JudgeAll(const std::vector<SourceAccount*>& accounts);
  bool LeaveUnchanged(const SourceAccount& account);
  bool Tell(const SourceAccount& account, Judgement* judgement);
  void Commit(bool at_end);
  void TellAddedByOthers();
  void LeaveDomainOut(const SourceDomain& source);
  bool ImportAccount(SourceAccount* account, const DomainRecord& record);
  bool SharesMailbox(const Account& a);
  bool Refused(const Account& a);
  void Fail(const Account& a, AccountOutcome outcome, const std::string& line,
            const std::string& box);
  void AddNew(const Account& a, const DomainRecord& record, bool resume,
              bool resumed_sync);
  void Migrate(const Account& a, bool resume_box, AccountOutcome done);

  // The user list, read once an account needs it.
  UserStore* users() { return users_->get(); }

  LazyUsers* users_;
  MailboxMigrator* mailboxes_;
  const ImportSteps& s_;
  RunObserver* observer_;
  DomainStore domain_store_;
  std::vector<DomainRecord> domains_;
  // The accounts added since the user store last saved them all.
  struct Held {
    SourceAccount account;
    std::string display;
    bool marked = false;  // marked pending again after a failed save
  };
  std::vector<Held> held_;
  // The existing accounts a sync leaves unlisted, with the folders that
  // spares: the record shows their mailboxes unchanged. Judged before the
  // read-ahead is given the rest.
  UnchangedAccounts unchanged_;
};

// Every source account gets its outcome, also when the target's domain
// list cannot be read.
bool AccountStep::LoadDomains() {
  if (domain_store_.LoadAllDomains(&domains_)) return true;
  s_.host->ShowMessage(MessageKind::kError, s_.texts.domain_list_unreadable);
  for (const SourceDomain& source : *s_.host->GetSourceDomains()) {
    for (const SourceAccount& account : source.accounts) {
      observer_->OnAccountEnd(account.user_name, source.name,
                              AccountOutcome::kFailed,
                              s_.texts.domain_list_unreadable, "");
    }
  }
  return false;
}

// Saves when due (at the end: whatever is pending). The manifest names
// the accounts a save is about to write before it writes them (see
// WriteAheadOf), and confirms them after. A failed save keeps them
// pending and their mailboxes marked; they are told failed only when the
// last save of the step fails too, since a later one may still write them.
void AccountStep::Commit(bool at_end) {
  // A list never read holds nothing to save.
  if (!users_->loaded()) return;
  const bool ok = at_end ? users()->SavePending() : users()->SaveIfDue();
  const std::vector<SavedAddition> saved = users()->TakeSavedAdditions();
  if (s_.manifest != nullptr) {
    for (const SavedAddition& added : saved) {
      s_.manifest->Add(AccountEntry(added, ManifestEntry::Step::kSaved));
    }
  }
  for (Held& held : held_) {
    if (ok || held.marked) continue;
    mailboxes_->MarkPending(held.account, s_.target->primary_domain);
    held.marked = true;
  }
  TellAddedByOthers();
  if (!ok && at_end) {
    const std::string why =
        s_.texts.why_open +
        SaveErrorWords(s_.texts, users()->last_save_error()) +
        s_.texts.why_close;
    for (const Held& held : held_) {
      const std::string line = s_.texts.account_not_saved + held.display + why;
      s_.host->AppendLogLine(line);
      s_.host->SelectLastLine();
      ++*s_.failure_lines;
      --s_.stats->user_count;
      // The account was told added; this is the last word on it.
      observer_->OnAccountSaveFailed(held.account.user_name,
                                     held.account.domain, line);
    }
  }
  if (at_end || !users()->HasPending()) held_.clear();
}

// Another writer (a second run, say) added some of the held accounts
// before the save could: they existed, and this run did not import them.
void AccountStep::TellAddedByOthers() {
  for (const auto& [user, domain] : users()->TakeAddedByOthers()) {
    for (auto it = held_.begin(); it != held_.end(); ++it) {
      if (it->account.user_name != user || it->account.domain != domain) {
        continue;
      }
      --s_.stats->user_count;
      const std::string line = s_.texts.account_added_by_other + it->display;
      s_.host->AppendLogLine(line);
      observer_->OnAccountAddedByOther(user, domain, line);
      held_.erase(it);
      break;
    }
  }
}

// A domain the target does not have: its accounts are left out; a domain
// the domain step refused for its name refuses them.
void AccountStep::LeaveDomainOut(const SourceDomain& source) {
  const bool refused = !IsSafeDirectoryName(source.name, s_.target->names);
  const AccountOutcome skipped = refused ? AccountOutcome::kRefused
                                 : domain_store_.AliasDomainExists(source.name)
                                     ? AccountOutcome::kSkippedAliasDomain
                                     : AccountOutcome::kSkippedNoDomain;
  const std::string reason =
      refused ? s_.texts.unsafe_domain_name + source.name : std::string();
  for (const SourceAccount& account : source.accounts) {
    observer_->OnAccountEnd(account.user_name, source.name, skipped, reason,
                            "");
  }
}

void AccountStep::Fail(const Account& a, AccountOutcome outcome,
                       const std::string& line, const std::string& box) {
  s_.host->AppendLogLine(line);
  s_.host->SelectLastLine();
  ++*s_.failure_lines;
  observer_->OnAccountEnd(a.source->user_name, a.source->domain, outcome, line,
                          box);
}

// Two source accounts (bob and bob@a.com of one domain) are one target
// account: the second one's mail is not mixed into the first one's
// mailbox, where a message of the same name would be taken for its own.
// True when it was refused (and told so).
bool AccountStep::SharesMailbox(const Account& a) {
  const std::string other = mailboxes_->SharedBoxUser(*a.source, a.box);
  if (other.empty()) return false;
  Fail(a, AccountOutcome::kFailed,
       s_.texts.shared_mailbox + a.display + " (" + other + ")", a.box);
  return true;
}

// The refusals of an account to add, before anything of it is written.
// True when it was refused (and told so).
bool AccountStep::Refused(const Account& a) {
  const SourceAccount& account = *a.source;
  if (!users()->CanAdd(account.user_name)) {
    // Refused by the user store: no mailbox is made for it. A name that is
    // nothing before its "@" is named in the line; without a user list
    // every addition fails alike.
    const std::string& user = account.user_name;
    const bool no_name = s_.target->names.Find(user, '@') == 0 || user.empty();
    Fail(a, no_name ? AccountOutcome::kRefused : AccountOutcome::kFailed,
         s_.texts.account_failed + (no_name ? a.display : ""), "");
    return true;
  }
  if (a.box.empty()) {
    // A name that cannot be a mailbox directory (a path piece, a device
    // name) is written nowhere: the account would be one without mail.
    Fail(a, AccountOutcome::kRefused,
         s_.texts.unsafe_mailbox_name + account.user_name, "");
    return true;
  }
  return false;
}

// Migrates the mailbox and tells the observer how it ended.
void AccountStep::Migrate(const Account& a, bool resume_box,
                          AccountOutcome done) {
  const SourceAccount& account = *a.source;
  observer_->OnAccountBegin(account.user_name, account.domain, a.box);
  // The copies may still be running when MigrateMailbox returns; the
  // outcome is told once they have finished, in run order.
  auto told = [observer = observer_, &texts = s_.texts,
               user = account.user_name, domain = account.domain, box = a.box,
               done](int failed, const std::string& failure) {
    // Mail that could not all be read or copied fails the account.
    if (!failure.empty() || failed > 0) {
      observer->OnAccountEnd(user, domain, AccountOutcome::kFailed,
                             !failure.empty()
                                 ? failure
                                 : texts.copies_failed + std::to_string(failed),
                             box);
    } else {
      observer->OnAccountEnd(user, domain, done, "", box);
    }
  };
  if (!mailboxes_->MigrateMailbox(account, s_.target->primary_domain,
                                  resume_box, told)) {
    observer_->OnAccountEnd(
        account.user_name, account.domain,
        a.box.empty() ? AccountOutcome::kRefused : AccountOutcome::kFailed,
        a.box.empty()
            ? s_.texts.unsafe_mailbox_name + account.user_name
            : s_.texts.mailbox_dir_failed + s_.target->fs->DisplayPath(a.box),
        a.box);
  }
}

// Adds the account (or finds it there) and hands its mailbox on.
void AccountStep::AddNew(const Account& a, const DomainRecord& record,
                         bool resume, bool resumed_sync) {
  SourceAccount& account = *a.source;
  const std::string& primary = s_.target->primary_domain;
  switch (users()->AddUser(MakeUser(account, record))) {
    case AddUserResult::kAdded:
      ++s_.stats->user_count;
      held_.push_back({account, a.display});
      s_.host->AppendLogLine(s_.texts.importing_account + a.display);
      s_.host->SelectLastLine();
      // The migrator counts its own failure lines.
      Migrate(a, resume, AccountOutcome::kAdded);
      break;
    case AddUserResult::kFailed:
      // When the item stayed in the document a later save may still
      // write it, so the mark stays for the next run to copy its mail.
      if (!users()->UserExists(account.user_name, account.domain)) {
        mailboxes_->ClearPending(account, primary);
      }
      Fail(a, AccountOutcome::kFailed, s_.texts.account_failed, a.box);
      break;
    case AddUserResult::kExists:
      if (!resume && !mailboxes_->sync()) {
        // Left as it is; what its source holds, and whether the target
        // lacks some of it, is told all the same.
        const std::string lacking =
            s_.existing != nullptr && !a.box.empty()
                ? s_.existing->Look(account.user_name, a.display, a.box,
                                    s_.texts, s_.host, observer_)
                : std::string();
        observer_->OnAccountEnd(account.user_name, account.domain,
                                AccountOutcome::kExists, lacking, a.box);
        break;
      }
      if (!resume) ++s_.stats->listed_boxes;
      // A sync is marked too, so that an interrupted one is finished by
      // the next run, which may replace a copy it left cut short.
      if (!resume && !mailboxes_->MarkPending(account, primary, true)) {
        Fail(a, AccountOutcome::kFailed,
             s_.texts.mailbox_not_created + a.display, a.box);
        break;
      }
      {
        // An account whose addition this run finishes counts as imported;
        // a sync that it finishes does not.
        const bool syncing = !resume || resumed_sync;
        if (!syncing) ++s_.stats->user_count;
        s_.host->AppendLogLine(
            (syncing ? s_.texts.syncing_account : s_.texts.importing_account) +
            a.display);
        s_.host->SelectLastLine();
        Migrate(a, resume,
                syncing ? AccountOutcome::kSynced : AccountOutcome::kResumed);
      }
      break;
    case AddUserResult::kAliasExists:
      if (resume) mailboxes_->ClearPending(account, primary);
      observer_->OnAccountEnd(account.user_name, account.domain,
                              AccountOutcome::kAlias, "", "");
      break;
  }
}

// One account of a domain the target has. Returns false when it was
// refused before the user store was asked.
bool AccountStep::ImportAccount(SourceAccount* account,
                                const DomainRecord& record) {
  Account a{account, account->user_name, ""};
  if (s_.target->names.Find(a.display, '@') == std::string::npos) {
    a.display += "@" + account->domain;
  }
  // The mailbox is marked pending before the account is saved and
  // unmarked when its mail is copied, so an account a killed run added
  // without (all of) its mail is finished by the next run.
  const std::string& primary = s_.target->primary_domain;
  a.box = mailboxes_->TargetBox(*account, primary);
  if (SharesMailbox(a)) return false;
  bool resumed_sync = false;
  const bool resume = mailboxes_->IsPending(*account, primary, &resumed_sync);
  const bool adding =
      !resume && !users()->UserExists(account->user_name, account->domain) &&
      !users()->AliasExists(account->user_name, account->domain);
  if (adding && Refused(a)) return false;
  if (adding && !mailboxes_->MarkNew(*account, primary)) {
    // No mailbox can be made, so its mail could not be copied now or by a
    // later run; the account is left for a run that can.
    Fail(a, AccountOutcome::kFailed, s_.texts.mailbox_not_created + a.display,
         a.box);
    return false;
  }
  AddNew(a, record, resume, resumed_sync);
  return true;
}

// The accounts a sync leaves unlisted (see JudgeUnchanged), counted.
void AccountStep::JudgeAll(const std::vector<SourceAccount*>& accounts) {
  unchanged_ = JudgeUnchanged(accounts, users_, s_.advance);
  for (const auto& [account, judgement] : unchanged_) {
    ++s_.stats->unchanged_boxes;
    s_.stats->unchanged_folders += judgement.folders;
  }
}

// An account judged unchanged, in its turn: synced with nothing to copy,
// as a listing would have found it. Unless another account's mail went
// into its mailbox since it was judged: then it is imported as any
// account, which refuses it for sharing that mailbox.
bool AccountStep::LeaveUnchanged(const SourceAccount& account) {
  auto it = unchanged_.find(&account);
  if (it == unchanged_.end()) return false;
  if (!Tell(account, &it->second)) {
    --s_.stats->unchanged_boxes;
    s_.stats->unchanged_folders -= it->second.folders;
    unchanged_.erase(it);
    return false;
  }
  return true;
}

bool AccountStep::Tell(const SourceAccount& account, Judgement* judgement) {
  const std::string box =
      mailboxes_->TargetBox(account, s_.target->primary_domain);
  if (!mailboxes_->SharedBoxUser(account, box).empty()) return false;
  mailboxes_->LeftUnchanged(account, box, std::move(judgement->confirmed));
  observer_->OnAccountEnd(account.user_name, account.domain,
                          AccountOutcome::kSynced, "", box);
  return true;
}

// The accounts at the head of the lists judged unchanged, told in their
// turn while the judges go on with the rest, so that a sync where nothing
// changed has little left to tell once they are done. The head ends at the
// first account told otherwise: one of a domain the target lacks, one not
// judged unchanged (or whose judgement settled doubts, confirmed after the
// judges are done), one sharing a mailbox, or a stop. Returns how many.
size_t AccountStep::TellHead() {
  if (s_.advance == nullptr) return 0;
  size_t told = 0;
  for (SourceDomain& source : *s_.host->GetSourceDomains()) {
    if (FindDomain(domains_, s_.target->names, source.name) == nullptr) {
      return told;
    }
    for (SourceAccount& account : source.accounts) {
      Judgement judgement;
      if ((s_.stop != nullptr && s_.stop->requested()) ||
          !s_.advance->TakeOnceJudged(&account, &judgement) ||
          !Tell(account, &judgement)) {
        return told;
      }
      ++s_.stats->unchanged_boxes;
      s_.stats->unchanged_folders += judgement.folders;
      ++told;
    }
  }
  return told;
}

bool AccountStep::Run() {
  if (!LoadDomains()) return false;
  // The accounts in domains the target has, in run order, and the
  // mailboxes of those a sync lists.
  std::vector<SourceAccount*> present;
  for (SourceDomain& source : *s_.host->GetSourceDomains()) {
    if (FindDomain(domains_, s_.target->names, source.name) == nullptr) {
      continue;
    }
    for (SourceAccount& account : source.accounts) {
      account.domain = source.name;
      present.push_back(&account);
    }
  }
  const size_t told = TellHead();
  // Past the head some account is told otherwise, and most likely needs
  // the user list: it is read while the judges finish.
  if (told < present.size()) users();
  JudgeAll(present);
  std::vector<const SourceAccount*> visited;
  for (size_t i = told; i < present.size(); ++i) {
    if (unchanged_.count(present[i]) == 0) visited.push_back(present[i]);
  }
  std::vector<SourceAccount*>().swap(present);
  mailboxes_->ReadAheadOf(visited, s_.target->primary_domain);
  if (!visited.empty()) users()->ExpectAdditions(visited.size());
  std::vector<const SourceAccount*>().swap(visited);
  size_t seen = 0;
  for (SourceDomain& source : *s_.host->GetSourceDomains()) {
    const DomainRecord* record =
        FindDomain(domains_, s_.target->names, source.name);
    if (record == nullptr) {
      LeaveDomainOut(source);
      continue;
    }
    for (SourceAccount& account : source.accounts) {
      if (seen++ < told) continue;  // told with the head
      if (s_.stop != nullptr && s_.stop->requested()) {
        // Left for the next run; nothing of it has been written.
        observer_->OnAccountEnd(account.user_name, source.name,
                                AccountOutcome::kUnfinished,
                                s_.texts.account_stopped, "");
        continue;
      }
      account.domain = source.name;
      if (LeaveUnchanged(account)) continue;
      if (ImportAccount(&account, *record)) Commit(false);
    }
  }
  Commit(true);
  return true;
}

}  // namespace

bool ImportAccounts(LazyUsers* users, MailboxMigrator* mailboxes,
                    const ImportSteps& steps) {
  RunObserver null_observer;
  RunObserver* observer =
      steps.observer != nullptr ? steps.observer : &null_observer;
  steps.stats->user_count = 0;
  steps.stats->mail_count = 0;
  steps.stats->failed_copies = 0;
  steps.stats->already_present = 0;
  steps.stats->behind_accounts = 0;
  steps.stats->behind_mail = 0;
  steps.stats->listed_boxes = 0;
  steps.stats->unchanged_boxes = 0;
  steps.stats->unchanged_folders = 0;
  if (steps.manifest != nullptr) {
    users->SetWriteAhead(WriteAheadOf(steps.manifest, &AccountEntry));
  }
  return AccountStep(users, mailboxes, steps, observer).Run();
}

}  // namespace vm
