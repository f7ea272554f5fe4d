#ifndef VM_APP_RUN_PLAN_H_
#define VM_APP_RUN_PLAN_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "migrate/run_observer.h"

namespace vm {

class CodePage;
class RunRecord;
struct Texts;

struct PlanAccount {
  std::string name;  // ANSI: user@domain
  AccountOutcome outcome = AccountOutcome::kExists;
  bool has_mail = false;  // its mailbox would be visited
  int64_t messages = 0;   // to copy
  uint64_t bytes = 0;
  int64_t failing = 0;  // copies that would fail
  std::string reason;   // ANSI: result-list text or a fixed reason
};

// What a dry run found it would do: the domains to add and those present
// (with whether the target holds them as alias domains), every source
// account with its outcome, the messages and bytes to copy, and whether
// they fit into `free_bytes` of the mail store's volume.
struct RunPlan {
  std::vector<std::string> domains_to_add;  // ANSI
  std::vector<std::pair<std::string, bool>> domains_present;
  // Domains the target's list would not take, with the reason.
  std::vector<std::pair<std::string, std::string>> domains_failing;
  std::vector<PlanAccount> accounts;
  int64_t messages = 0;
  uint64_t bytes = 0;
  bool free_known = false;  // false: the free space could not be measured
  uint64_t free_bytes = 0;
  bool fits = true;
};

RunPlan MakePlan(const RunRecord& record, bool free_known, uint64_t free_bytes);

// The plan a dry run prints after its result list (UTF-8, English). Sets
// *fits to false when the total does not fit.
std::string PlanText(const RunRecord& record, const CodePage& code_page,
                     bool free_known, uint64_t free_bytes, bool* fits);

// A size in megabytes, one decimal: "12.5 MB".
std::string Megabytes(uint64_t bytes);

// The same plan as lines for the dialog's result list (ANSI, Chinese), in
// the words of `texts`, the session's table.
std::vector<std::string> PlanLines(const RunPlan& plan, const Texts& texts);

}  // namespace vm

#endif  // VM_APP_RUN_PLAN_H_
