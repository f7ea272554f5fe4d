#ifndef VM_MIGRATE_EXISTING_MAIL_H_
#define VM_MIGRATE_EXISTING_MAIL_H_

#include <cstdint>
#include <string>

#include "migrate/mailbox_verifier.h"
#include "util/name_ops.h"

namespace vm {

class FileSystem;
class RunHost;
class RunObserver;
struct Texts;

// What a run that does not sync finds in the accounts the target holds
// already. It leaves them as they are, but their mail that arrived since
// the run that migrated them would otherwise stay behind unseen, and the
// report would give them no source mail at all. Each one's source and
// target mailboxes are listed (only these accounts', which a run without
// sync meets few of) and compared by name and size as a sync compares
// them. Reads only.
class ExistingMail {
 public:
  ExistingMail(FileSystem* fs, const NameOps& names, std::string source_dir,
               const std::string& target_mail_dir);

  // Looks at the existing account `user` with target mailbox `target_box`:
  // tells `observer` one OnFolder per source folder (its messages and
  // bytes; present: those the target holds), and when the target lacks
  // some of its mail writes the line naming it into `host` and returns it
  // (the account's reason); else returns "". A source folder that cannot
  // be listed is told as none: its mail is not known.
  std::string Look(const std::string& user, const std::string& display,
                   const std::string& target_box, const Texts& texts,
                   RunHost* host, RunObserver* observer);

  // The accounts found lacking mail, and the messages they lack.
  int accounts() const { return accounts_; }
  int64_t messages() const { return messages_; }

 private:
  MailboxVerifier verifier_;
  std::string source_dir_;
  int accounts_ = 0;
  int64_t messages_ = 0;
};

}  // namespace vm

#endif  // VM_MIGRATE_EXISTING_MAIL_H_
