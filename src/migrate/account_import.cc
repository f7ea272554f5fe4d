#include "migrate/account_import.h"

#include <string>
#include <utility>
#include <vector>

#include "config/domain_store.h"
#include "config/target_context.h"
#include "config/user_store.h"
#include "migrate/mailbox_migrator.h"
#include "migrate/migration_run.h"
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

UserRecord MakeUser(const SourceAccount& account, const DomainRecord& d) {
  UserRecord user;
  user.name = account.user_name;
  user.domain = account.domain;
  user.password = account.password;
  user.publicinfo = d.publicuserinfo;
  user.mailquota = d.maxmailboxquota;
  user.mailtotallimit = d.maxmailboxmailnum;
  user.netstorequota = d.netstorequota;
  user.netstoretotallimit = d.netstoretotallimit;
  user.warninglimit = d.defaultwarninglimit;
  user.sendcontrol = d.sendcontrol;
  user.recvcontrol = d.recvcontrol;
  user.senddomainlist = d.senddomainlist;
  user.recvdomainlist = d.recvdomainlist;
  user.pop3control = d.pop3control;
  user.imapcontrol = d.imapcontrol;
  user.webmailcontrol = d.webmailcontrol;
  user.netstorecontrol = d.netstorecontrol;
  user.calendarcontrol = d.calendarcontrol;
  user.notebookcontrol = d.notebookcontrol;
  user.modifyuserinfo = d.modifyuserinfo;
  user.externalpop3 = d.externalpop3;
  user.autoforward = d.autoforward;
  user.autoreply = d.autoreply;
  user.spamcontrol = d.spamcontrol;
  user.publiccontact = d.publiccontact;
  user.smsnotify = d.smsnotify;
  user.sendsms = d.sendsms;
  user.sendmaxmsgsize = d.sendmaxmsgsize;
  user.sendfreq = d.sendfreq;
  user.localtimes = d.localtimes;
  user.localsize = d.localsize;
  user.remotetimes = d.remotetimes;
  user.remotesize = d.remotesize;
  user.chgpassword = d.chgpassword;
  user.pwdexpiredays = d.pwdexpiredays;
  user.expiretime = d.expiretime;
  return user;
}

}  // namespace

bool ImportAccounts(UserStore* users, TargetContext* target, RunHost* host,
                    const Texts& texts, MailboxMigrator* mailboxes,
                    MigrationStats* stats, int* failure_lines,
                    RunObserver* observer, const StopRequest* stop,
                    ManifestWriter* manifest) {
  RunObserver null_observer;
  if (observer == nullptr) observer = &null_observer;
  DomainStore domain_store(target);
  stats->user_count = 0;
  stats->mail_count = 0;
  stats->failed_copies = 0;
  stats->already_present = 0;
  std::vector<DomainRecord> domains;
  if (!domain_store.LoadAllDomains(&domains)) {
    host->ShowMessage(MessageKind::kError, texts.domain_list_unreadable);
    // Every source account still gets its outcome.
    for (const SourceDomain& source : *host->GetSourceDomains()) {
      for (const SourceAccount& account : source.accounts) {
        observer->OnAccountEnd(account.user_name, source.name,
                               AccountOutcome::kFailed,
                               texts.domain_list_unreadable, "");
      }
    }
    return false;
  }

  // Accounts added since the user store last saved. A failed save names
  // each with its failure line and marks its mailbox pending again, so a
  // later run adds it and finishes its mail.
  std::vector<std::pair<SourceAccount, std::string>> held;
  auto commit = [&](bool at_end) {
    const bool ok = at_end ? users->SavePending() : users->SaveIfDue();
    // What the save wrote goes into the run's manifest with it, and so do
    // the folders and message files recorded meanwhile.
    const std::vector<SavedAddition> saved = users->TakeSavedAdditions();
    if (manifest != nullptr) {
      for (const SavedAddition& added : saved)
        manifest->Add(AccountEntry(added));
      // A flush rewrites the manifest: only with a save, not per call.
      if (at_end || !saved.empty()) manifest->Flush();
    }
    if (!ok) {
      for (const auto& [account, display] : held) {
        mailboxes->MarkPending(account, target->primary_domain);
        const std::string line = texts.account_failed + display;
        host->AppendLogLine(line);
        host->SelectLastLine();
        ++*failure_lines;
        --stats->user_count;
        // The account was told added; this is the last word on it.
        observer->OnAccountSaveFailed(account.user_name, account.domain, line);
      }
    }
    // Another writer (a second run, say) added some of them before the
    // save could: they existed, and this run did not import them.
    for (const auto& [user, domain] : users->TakeAddedByOthers()) {
      for (const auto& [account, display] : held) {
        if (account.user_name != user || account.domain != domain) continue;
        --stats->user_count;
        const std::string line = texts.account_added_by_other + display;
        host->AppendLogLine(line);
        observer->OnAccountAddedByOther(user, domain, line);
        break;
      }
    }
    // After a failure the additions stay pending and a later save may
    // still write them; they were reported (and their mail marked) now.
    if (!ok || !users->HasPending()) held.clear();
  };

  // The mailboxes of accounts in domains the target has, in run order.
  std::vector<std::string> visited;
  for (const SourceDomain& source : *host->GetSourceDomains()) {
    if (FindDomain(domains, target->names, source.name) == nullptr) continue;
    for (const SourceAccount& account : source.accounts) {
      visited.push_back(account.user_name);
    }
  }
  mailboxes->ReadAheadOf(visited);

  for (SourceDomain& source : *host->GetSourceDomains()) {
    const DomainRecord* record =
        FindDomain(domains, target->names, source.name);
    if (record == nullptr) {
      // A domain the domain step refused for its name refuses its accounts.
      const bool refused = !IsSafeDirectoryName(source.name, target->names);
      AccountOutcome skipped = refused ? AccountOutcome::kRefused
                               : domain_store.AliasDomainExists(source.name)
                                   ? AccountOutcome::kSkippedAliasDomain
                                   : AccountOutcome::kSkippedNoDomain;
      const std::string reason =
          refused ? texts.unsafe_domain_name + source.name : std::string();
      for (const SourceAccount& account : source.accounts) {
        observer->OnAccountEnd(account.user_name, source.name, skipped, reason,
                               "");
      }
      continue;
    }
    for (SourceAccount& account : source.accounts) {
      if (stop != nullptr && stop->requested()) {
        // Left for the next run; nothing of it has been written.
        observer->OnAccountEnd(account.user_name, source.name,
                               AccountOutcome::kUnfinished,
                               texts.account_stopped, "");
        continue;
      }
      account.domain = source.name;
      std::string display = account.user_name;
      if (target->names.Find(display, '@') == std::string::npos) {
        display += "@" + account.domain;
      }
      // The mailbox is marked pending before the account is saved and
      // unmarked when its mail is copied, so an account a killed run
      // added without (all of) its mail is finished by the next run.
      const std::string& primary = target->primary_domain;
      const std::string box = mailboxes->TargetBox(account, primary);
      // No mailbox can be made, so its mail could not be copied now or by
      // a later run; the account is left for a run that can.
      auto no_mailbox = [&] {
        host->AppendLogLine(texts.mailbox_not_created + display);
        host->SelectLastLine();
        ++*failure_lines;
        observer->OnAccountEnd(account.user_name, account.domain,
                               AccountOutcome::kFailed,
                               texts.mailbox_not_created + display, box);
      };
      // Two source accounts (bob and bob@a.com of one domain) are one
      // target account: the second one's mail is not mixed into the
      // first one's mailbox, where a message of the same name would be
      // taken for its own.
      const std::string other = mailboxes->SharedBoxUser(account, primary);
      if (!other.empty()) {
        const std::string line =
            texts.shared_mailbox + display + " (" + other + ")";
        host->AppendLogLine(line);
        host->SelectLastLine();
        ++*failure_lines;
        observer->OnAccountEnd(account.user_name, account.domain,
                               AccountOutcome::kFailed, line, box);
        continue;
      }
      bool resumed_sync = false;
      const bool resume = mailboxes->IsPending(account, primary, &resumed_sync);
      const bool adding =
          !resume && !users->UserExists(account.user_name, account.domain) &&
          !users->AliasExists(account.user_name, account.domain);
      if (adding && !users->CanAdd(account.user_name)) {
        // Refused by the user store: no mailbox is made for it. A name
        // that is nothing before its "@" is named in the line; without a
        // user list every addition fails alike.
        const std::string& user = account.user_name;
        const bool no_name = target->names.Find(user, '@') == 0 || user.empty();
        const std::string line =
            texts.account_failed + (no_name ? display : "");
        host->AppendLogLine(line);
        host->SelectLastLine();
        ++*failure_lines;
        observer->OnAccountEnd(
            user, account.domain,
            no_name ? AccountOutcome::kRefused : AccountOutcome::kFailed, line,
            "");
        continue;
      }
      if (adding && box.empty()) {
        // A name that cannot be a mailbox directory (a path piece, a device
        // name) is written nowhere: the account would be one without mail.
        const std::string line = texts.unsafe_mailbox_name + account.user_name;
        host->AppendLogLine(line);
        host->SelectLastLine();
        ++*failure_lines;
        observer->OnAccountEnd(account.user_name, account.domain,
                               AccountOutcome::kRefused, line, "");
        continue;
      }
      if (adding && !mailboxes->MarkPending(account, primary)) {
        no_mailbox();
        continue;
      }
      // Migrates the mailbox and tells the observer how it ended.
      auto migrate = [&](bool resume_box, AccountOutcome done) {
        observer->OnAccountBegin(account.user_name, account.domain, box);
        // The copies may still be running when MigrateMailbox returns; the
        // outcome is told once they have finished, in run order.
        auto told = [observer, &texts, user = account.user_name,
                     domain = account.domain, box,
                     done](int failed, const std::string& failure) {
          // Mail that could not all be read or copied fails the account.
          if (!failure.empty() || failed > 0) {
            observer->OnAccountEnd(
                user, domain, AccountOutcome::kFailed,
                !failure.empty() ? failure
                                 : texts.copies_failed + std::to_string(failed),
                box);
          } else {
            observer->OnAccountEnd(user, domain, done, "", box);
          }
        };
        if (!mailboxes->MigrateMailbox(account, primary, resume_box, told)) {
          observer->OnAccountEnd(
              account.user_name, account.domain,
              box.empty() ? AccountOutcome::kRefused : AccountOutcome::kFailed,
              box.empty() ? texts.unsafe_mailbox_name + account.user_name
                          : texts.mailbox_dir_failed + box,
              box);
        }
      };
      switch (users->AddUser(MakeUser(account, *record))) {
        case AddUserResult::kAdded:
          ++stats->user_count;
          held.emplace_back(account, display);
          host->AppendLogLine(texts.importing_account + display);
          host->SelectLastLine();
          // The migrator counts its own failure lines.
          migrate(resume, AccountOutcome::kAdded);
          break;
        case AddUserResult::kFailed:
          // When the item stayed in the document a later save may still
          // write it, so the mark stays for the next run to copy its mail.
          if (!users->UserExists(account.user_name, account.domain)) {
            mailboxes->ClearPending(account, primary);
          }
          host->AppendLogLine(texts.account_failed);
          host->SelectLastLine();
          ++*failure_lines;
          observer->OnAccountEnd(account.user_name, account.domain,
                                 AccountOutcome::kFailed, texts.account_failed,
                                 box);
          break;
        case AddUserResult::kExists:
          if (resume || mailboxes->sync()) {
            // A sync is marked too, so that an interrupted one is finished
            // by the next run, which may replace a copy it left cut short.
            if (!resume && !mailboxes->MarkPending(account, primary, true)) {
              no_mailbox();
              break;
            }
            // An account whose addition this run finishes counts as
            // imported; a sync that it finishes does not.
            const bool syncing = !resume || resumed_sync;
            if (!syncing) ++stats->user_count;
            host->AppendLogLine(
                (syncing ? texts.syncing_account : texts.importing_account) +
                display);
            host->SelectLastLine();
            migrate(resume, syncing ? AccountOutcome::kSynced
                                    : AccountOutcome::kResumed);
          } else {
            observer->OnAccountEnd(account.user_name, account.domain,
                                   AccountOutcome::kExists, "", box);
          }
          break;
        case AddUserResult::kAliasExists:
          if (resume) mailboxes->ClearPending(account, primary);
          observer->OnAccountEnd(account.user_name, account.domain,
                                 AccountOutcome::kAlias, "", "");
          break;
      }
      commit(false);
    }
  }
  commit(true);
  return true;
}

}  // namespace vm
