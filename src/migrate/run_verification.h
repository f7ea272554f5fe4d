#ifndef VM_MIGRATE_RUN_VERIFICATION_H_
#define VM_MIGRATE_RUN_VERIFICATION_H_

#include "migrate/migration_run.h"
#include "migrate/run_tally.h"

namespace vm {

class FileSystem;
class MailboxVerifier;
class RunHost;
class RunObserver;
struct TargetContext;
struct Texts;

// Checks each visited mailbox against its source; logs the banners, one
// line per missing or differing message or mailbox that is not there, and
// the number of messages checked. Returns the failure lines; sets
// *stopped when a stop request left mailboxes unchecked.
int VerifyMailboxes(MailboxVerifier* verifier, FileSystem* fs, RunHost* host,
                    const Texts& texts, const RunSettings& settings,
                    const RunTally& tally, RunObserver* observer,
                    bool* stopped);

// --verify-only: every source account the run would migrate is checked; the
// steps are left out and nothing is written. An account the target lacks,
// or whose mailbox it lacks, is a failure, and so are target lists that
// cannot be read.
RunOutcome VerifyOnly(RunHost* host, const Texts& texts,
                      const RunSettings& settings, TargetContext* target,
                      RunTally* tally, RunOutcome outcome);

}  // namespace vm

#endif  // VM_MIGRATE_RUN_VERIFICATION_H_
