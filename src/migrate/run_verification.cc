#include "migrate/run_verification.h"

#include <string>
#include <utility>
#include <vector>

#include "config/domain_store.h"
#include "config/target_context.h"
#include "config/user_store.h"
#include "migrate/mailbox_migrator.h"
#include "migrate/mailbox_verifier.h"
#include "migrate/run_host.h"
#include "migrate/run_summary.h"
#include "migrate/source_mailbox.h"
#include "migrate/stop_request.h"
#include "migrate/texts.h"
#include "platform/file_system.h"

namespace vm {

namespace {

bool StopRequested(const RunSettings& settings) {
  return settings.stop != nullptr && settings.stop->requested();
}

std::string ProblemLine(const VerifyProblem& problem, const Texts& texts,
                        FileSystem* fs) {
  switch (problem.kind) {
    case VerifyProblem::kMissing:
    case VerifyProblem::kDifferent:
      return (problem.kind == VerifyProblem::kMissing
                  ? texts.verify_missing
                  : texts.verify_different) +
             fs->DisplayPath(problem.source) + " -> " +
             fs->DisplayPath(problem.target);
    case VerifyProblem::kUnreadable:
      break;
  }
  return texts.verify_unreadable + fs->DisplayPath(problem.source);
}

const DomainRecord* FindDomain(const std::vector<DomainRecord>& domains,
                               const NameOps& names, const std::string& name) {
  for (const DomainRecord& record : domains) {
    if (names.EqualsIgnoringCase(record.domain, name)) return &record;
  }
  return nullptr;
}

// The target's lists as --verify-only reads them.
struct TargetLists {
  DomainStore* domain_store;
  const std::vector<DomainRecord>* domains;
  const UserStore* users;
  bool read;  // both files could be read
};

// What --verify-only finds of one source account in the target; a problem
// that is a failure line goes to *problem.
AccountOutcome CheckedOutcome(const Texts& texts, const TargetContext& target,
                              const TargetLists& lists,
                              MailboxVerifier* verifier,
                              const SourceAccount& account,
                              const std::string& box, std::string* problem) {
  const std::string& user = account.user_name;
  if (!lists.read) return AccountOutcome::kAbsent;  // the file's line says why
  if (FindDomain(*lists.domains, target.names, account.domain) == nullptr &&
      lists.domain_store->AliasDomainExists(account.domain)) {
    return AccountOutcome::kSkippedAliasDomain;  // as a run leaves it
  }
  if (lists.users->AliasExists(user, account.domain)) {
    return AccountOutcome::kAlias;
  }
  if (!lists.users->UserExists(user, account.domain)) {
    *problem = texts.verify_account_absent + DisplayName(user, account.domain);
    return AccountOutcome::kAbsent;
  }
  if (box.empty()) {
    *problem = texts.unsafe_mailbox_name + user;
    return AccountOutcome::kRefused;
  }
  if (!verifier->HasMailbox(box)) {
    *problem = texts.verify_mailbox_absent + target.fs->DisplayPath(box);
    return AccountOutcome::kAbsent;
  }
  return AccountOutcome::kExists;
}

}  // namespace

int VerifyMailboxes(MailboxVerifier* verifier, FileSystem* fs, RunHost* host,
                    const Texts& texts, const RunSettings& settings,
                    const RunTally& tally, RunObserver* observer,
                    bool* stopped) {
  host->AppendLogLine(texts.verify_begin);
  int failures = 0;
  int64_t checked = 0;
  for (const RunTally::Mailbox& m : tally.visited) {
    std::vector<std::string> lines;
    if (!m.problem.empty()) {
      lines.push_back(m.problem);
    } else if (m.box.empty()) {
      continue;  // refused; it has its own line
    } else if (StopRequested(settings)) {
      *stopped = true;
      host->AppendLogLine(texts.verify_stopped);
      break;
    } else {
      std::vector<FolderCheck> checks;
      observer->OnVerifyAccount(m.user, m.domain);
      if (!verifier->Verify(SourceMailbox(settings.source_dir, m.user), m.box,
                            &checks)) {
        lines.push_back(texts.verify_mailbox_absent + fs->DisplayPath(m.box));
      }
      for (const FolderCheck& check : checks) {
        checked += check.checked;
        observer->OnVerified(m.user, m.domain, check.name, check.checked,
                             check.missing, check.different);
        for (const VerifyProblem& problem : check.problems) {
          lines.push_back(ProblemLine(problem, texts, fs));
        }
      }
    }
    if (lines.empty()) continue;
    host->AppendLogLine(texts.verify_account_failed +
                        DisplayName(m.user, m.domain));
    for (const std::string& line : lines) {
      host->AppendLogLine(texts.folder_indent + line);
      ++failures;
    }
  }
  host->AppendLogLine(texts.verify_checked + std::to_string(checked));
  host->AppendLogLine(texts.verify_end);
  host->SelectLastLine();
  return failures;
}

RunOutcome VerifyOnly(RunHost* host, const Texts& texts,
                      const RunSettings& settings, TargetContext* target,
                      RunTally* tally, RunOutcome outcome) {
  DomainStore domain_store(target);
  std::vector<DomainRecord> domains;
  const bool domains_read = domain_store.LoadAllDomains(&domains);
  target->primary_domain = domain_store.FindPrimaryDomain();
  UserStore users(target);
  // It refuses every name only when the file has no user list.
  const bool users_read = users.CanAdd("a");
  MigrationStats unused;
  MailboxMigrator::Options options;
  options.source_dir = settings.source_dir;
  options.target_mail_dir = settings.target_mail_dir;
  options.names = target->names;
  options.code_page = settings.code_page;
  MailboxMigrator mailboxes(target->fs, host, texts, options, &unused);
  MailboxVerifier verifier(target->fs, settings.verify == VerifyMode::kContent,
                           target->names, settings.target_mail_dir);
  host->AppendLogLine(texts.separator);
  for (const auto& [read, file] :
       {std::pair{domains_read, "domain.cfg"}, {users_read, "userauth.cfg"}}) {
    if (read) continue;
    host->AppendLogLine(texts.verify_config_unreadable + file);
    host->SelectLastLine();
    ++outcome.failure_lines;
  }
  const TargetLists lists{&domain_store, &domains, &users,
                          domains_read && users_read};
  for (SourceDomain& source : *host->GetSourceDomains()) {
    for (SourceAccount& account : source.accounts) {
      account.domain = source.name;
      const std::string box =
          mailboxes.TargetBox(account, target->primary_domain);
      std::string problem;
      const AccountOutcome result = CheckedOutcome(
          texts, *target, lists, &verifier, account, box, &problem);
      // An account found there is kept by the tally as it is told.
      if (!problem.empty()) {
        tally->visited.push_back(
            {account.user_name, account.domain, box, problem});
      }
      tally->OnAccountEnd(account.user_name, account.domain, result, problem,
                          box);
    }
  }
  // An account the migration leaves out is not in the target either.
  outcome.failure_lines += ReportLeftOut(host, texts, *tally);
  outcome.failure_lines +=
      VerifyMailboxes(&verifier, target->fs, host, texts, settings, *tally,
                      tally, &outcome.stopped);
  host->AppendLogLine(texts.separator);
  if (outcome.failure_lines == 0 && !outcome.stopped) {
    host->ShowMessage(MessageKind::kInformation, texts.verify_passed);
    outcome.succeeded = true;
  }
  return outcome;
}

}  // namespace vm
