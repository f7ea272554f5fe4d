#ifndef VM_SESSION_ACCOUNT_JSON_H_
#define VM_SESSION_ACCOUNT_JSON_H_

#include <string>

namespace vm {

class CodePage;
struct AccountRecord;
struct Texts;

// Appends one account's object of the JSON report to *out, as it stands in
// the report at `indent` spaces: its names, outcome, reason, target
// mailbox, counts and folders, members in name order, two spaces a level.
// Names are converted from the code page to UTF-8. Written as text, member
// by member: a run of many accounts writes one per account, and building
// a JSON value for each cost more than the rest of its account step.
void AppendAccountJson(std::string* out, const AccountRecord& account,
                       const Texts& texts, const CodePage& code_page,
                       int indent);

}  // namespace vm

#endif  // VM_SESSION_ACCOUNT_JSON_H_
