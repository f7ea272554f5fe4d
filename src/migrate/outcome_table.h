#ifndef VM_MIGRATE_OUTCOME_TABLE_H_
#define VM_MIGRATE_OUTCOME_TABLE_H_

#include <span>
#include <string>

#include "migrate/run_observer.h"
#include "migrate/texts.h"

namespace vm {

// Every word an outcome has, in one row: the report's name, the plans'
// words and the reason it gives when the steps gave none. The report,
// the plans and the record read these rows and spell nothing themselves.
struct AccountOutcomeWords {
  AccountOutcome outcome;
  const char* name;                 // the report's `outcome`
  const char* plan_word;            // the console plan's word (English)
  std::string Texts::*plan_text;    // the dialog plan's word
  const char* reason_key;           // empty for a plain success
  std::string Texts::*reason_text;  // nullptr for a plain success
};

struct DomainOutcomeWords {
  DomainOutcome outcome;
  const char* name;
  const char* reason_key;           // empty for kAdded
  std::string Texts::*reason_text;  // nullptr for kAdded
};

// Every outcome, in the order the report counts them.
std::span<const AccountOutcomeWords> AccountOutcomeTable();
std::span<const DomainOutcomeWords> DomainOutcomeTable();

const AccountOutcomeWords& WordsOf(AccountOutcome outcome);
const DomainOutcomeWords& WordsOf(DomainOutcome outcome);

inline const char* OutcomeName(AccountOutcome outcome) {
  return WordsOf(outcome).name;
}
inline const char* OutcomeName(DomainOutcome outcome) {
  return WordsOf(outcome).name;
}

// Why an outcome came about: a stable key for scripts ("unsafe_folder_name")
// and the text the result list shows (ANSI, as `texts`).
struct OutcomeReason {
  std::string key;
  std::string text;
};

// The reason of an outcome whose line (a result-list line, may be empty)
// the steps gave: the line's key and the line itself, or, without a line,
// the outcome's own key and text. A line no key knows takes the outcome's
// key.
OutcomeReason AccountReason(const Texts& texts, AccountOutcome outcome,
                            const std::string& line);
OutcomeReason DomainReason(const Texts& texts, DomainOutcome outcome,
                           const std::string& line);

}  // namespace vm

#endif  // VM_MIGRATE_OUTCOME_TABLE_H_
