#include "migrate/outcome_table.h"

#include <string_view>

namespace vm {

namespace {

using A = AccountOutcome;
using D = DomainOutcome;

const AccountOutcomeWords kAccountWords[] = {
    {A::kAdded, "added", "add", &Texts::plan_added, "", nullptr},
    {A::kResumed, "resumed", "finish", &Texts::plan_resumed, "", nullptr},
    {A::kSynced, "synced", "sync", &Texts::plan_synced, "", nullptr},
    {A::kExists, "exists", "present", &Texts::plan_exists, "account_exists",
     &Texts::reason_exists},
    {A::kAlias, "alias", "alias", &Texts::plan_alias, "alias_exists",
     &Texts::reason_alias},
    {A::kRefused, "refused", "refused", &Texts::plan_refused, "name_refused",
     &Texts::reason_refused},
    {A::kFailed, "failed", "fails", &Texts::plan_failed, "not_migrated",
     &Texts::reason_failed},
    {A::kSkippedNoDomainLine, "skipped-no-domain-line",
     "left out: its domain is no line of domain.ini",
     &Texts::plan_no_domain_line, "no_domain_line",
     &Texts::reason_no_domain_line},
    {A::kSkippedAliasDomain, "skipped-alias-domain",
     "left out: the target holds its domain only as an alias",
     &Texts::plan_alias_domain, "alias_domain", &Texts::reason_alias_domain},
    {A::kSkippedNoDomain, "skipped-no-domain",
     "left out: the target does not hold its domain", &Texts::plan_no_domain,
     "no_domain", &Texts::reason_no_domain},
    {A::kAbsent, "absent", "absent", &Texts::plan_absent, "account_absent",
     &Texts::reason_absent},
    {A::kUnfinished, "unfinished", "not reached: the run was stopped",
     &Texts::plan_unfinished, "run_stopped", &Texts::account_stopped},
};

const DomainOutcomeWords kDomainWords[] = {
    {D::kAdded, "added", "", nullptr},
    {D::kExists, "exists", "domain_exists", &Texts::reason_domain_exists},
    {D::kAlias, "alias", "alias_domain", &Texts::reason_domain_alias},
    {D::kFailed, "failed", "domain_not_added", &Texts::domain_failed},
};

// The lines an outcome's reason can be, each with its key. A line is known
// by the text it starts with (after a folder line's indent).
struct LineKey {
  const char* key;
  std::string Texts::*text;
};

const LineKey kLineKeys[] = {
    {"name_too_long", &Texts::name_too_long},
    {"name_has_nul", &Texts::name_has_nul},
    {"name_has_control", &Texts::name_has_control},
    {"domain_not_added", &Texts::domain_failed},
    {"unsafe_domain_name", &Texts::unsafe_domain_name},
    {"domain_list_unreadable", &Texts::domain_list_unreadable},
    {"account_not_added", &Texts::account_failed},
    {"account_not_saved", &Texts::account_not_saved},
    {"domain_not_saved", &Texts::domain_not_saved},
    {"mailbox_not_created", &Texts::mailbox_not_created},
    {"added_by_other", &Texts::account_added_by_other},
    {"shared_mailbox", &Texts::shared_mailbox},
    {"unsafe_folder_name", &Texts::unsafe_folder_name},
    {"unsafe_mailbox_name", &Texts::unsafe_mailbox_name},
    {"mailbox_not_made", &Texts::mailbox_dir_failed},
    {"mailbox_name_unconvertible", &Texts::mailbox_name_unconvertible},
    {"target_differs", &Texts::target_differs},
    {"unreadable_folder_list", &Texts::folder_list_unreadable},
    {"unreadable_index", &Texts::index_unreadable},
    {"copy_failed", &Texts::copy_failed},
    {"unreadable_folder", &Texts::folder_unlistable},
    {"copies_failed", &Texts::copies_failed},
    {"run_stopped", &Texts::account_stopped},
    {"new_mail_not_copied", &Texts::existing_new_mail},
};

// The key of the longest known text `line` starts with; `fallback` when
// none.
std::string KeyOfLine(const Texts& texts, const std::string& line,
                      const char* fallback) {
  const size_t start = line.find_first_not_of(' ');
  const std::string_view body = start == std::string::npos
                                    ? std::string_view()
                                    : std::string_view(line).substr(start);
  const char* key = fallback;
  size_t longest = 0;
  for (const LineKey& k : kLineKeys) {
    const std::string& text = texts.*k.text;
    if (text.size() > longest && body.starts_with(text)) {
      key = k.key;
      longest = text.size();
    }
  }
  return key;
}

}  // namespace

std::span<const AccountOutcomeWords> AccountOutcomeTable() {
  return kAccountWords;
}

std::span<const DomainOutcomeWords> DomainOutcomeTable() {
  return kDomainWords;
}

const AccountOutcomeWords& WordsOf(AccountOutcome outcome) {
  for (const AccountOutcomeWords& w : kAccountWords) {
    if (w.outcome == outcome) return w;
  }
  return kAccountWords[static_cast<int>(A::kFailed)];
}

const DomainOutcomeWords& WordsOf(DomainOutcome outcome) {
  for (const DomainOutcomeWords& w : kDomainWords) {
    if (w.outcome == outcome) return w;
  }
  return kDomainWords[static_cast<int>(D::kFailed)];
}

OutcomeReason AccountReason(const Texts& texts, AccountOutcome outcome,
                            const std::string& line) {
  const AccountOutcomeWords& words = WordsOf(outcome);
  if (!line.empty()) return {KeyOfLine(texts, line, words.reason_key), line};
  return {words.reason_key,
          words.reason_text != nullptr ? texts.*words.reason_text : ""};
}

OutcomeReason DomainReason(const Texts& texts, DomainOutcome outcome,
                           const std::string& line) {
  const DomainOutcomeWords& words = WordsOf(outcome);
  if (!line.empty()) return {KeyOfLine(texts, line, words.reason_key), line};
  return {words.reason_key,
          words.reason_text != nullptr ? texts.*words.reason_text : ""};
}

}  // namespace vm
