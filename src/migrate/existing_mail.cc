#include "migrate/existing_mail.h"

#include <utility>
#include <vector>

#include "migrate/run_host.h"
#include "migrate/run_observer.h"
#include "migrate/source_mailbox.h"
#include "migrate/texts.h"

namespace vm {

ExistingMail::ExistingMail(FileSystem* fs, const NameOps& names,
                           std::string source_dir,
                           const std::string& target_mail_dir)
    : verifier_(fs, false, names, target_mail_dir),
      source_dir_(std::move(source_dir)) {}

std::string ExistingMail::Look(const std::string& user,
                               const std::string& display,
                               const std::string& target_box,
                               const Texts& texts, RunHost* host,
                               RunObserver* observer) {
  std::vector<FolderCheck> checks;
  verifier_.Survey(SourceMailbox(source_dir_, user), target_box, &checks);
  int64_t lacking = 0;
  for (const FolderCheck& check : checks) {
    int64_t unread = 0;
    for (const VerifyProblem& problem : check.problems) {
      if (problem.kind == VerifyProblem::kUnreadable) ++unread;
    }
    if (unread > 0) continue;  // its mail is not known
    // A message whose name the target holds with another size is not in
    // the target either; a sync names it as a failure.
    lacking += check.missing + check.different;
    FolderCounts counts;
    counts.name = check.name;
    counts.messages = check.checked;
    counts.bytes = check.bytes;
    counts.present = check.checked - check.missing - check.different;
    observer->OnFolder(counts);
  }
  if (lacking == 0) return std::string();
  ++accounts_;
  messages_ += lacking;
  const std::string line = texts.existing_new_mail + display +
                           texts.existing_new_mail_count +
                           std::to_string(lacking) + texts.mails_close;
  host->AppendLogLine(line);
  return line;
}

}  // namespace vm
