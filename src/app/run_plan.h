#ifndef VM_APP_RUN_PLAN_H_
#define VM_APP_RUN_PLAN_H_

#include <cstdint>
#include <string>

namespace vm {

class CodePage;
class RunRecord;

// The plan a dry run prints after its result list (UTF-8): the domains to
// add and those present, every source account with what the run would do
// to it and why, the messages and bytes each would get, and the total
// against `free_bytes` of the mail store's volume (`free_known` false when
// it could not be measured). Sets *fits to false when the total does not
// fit.
std::string PlanText(const RunRecord& record, const CodePage& code_page,
                     bool free_known, uint64_t free_bytes, bool* fits);

}  // namespace vm

#endif  // VM_APP_RUN_PLAN_H_
