#ifndef VM_MIGRATE_RUN_SUMMARY_H_
#define VM_MIGRATE_RUN_SUMMARY_H_

#include "migrate/migration_run.h"
#include "migrate/run_tally.h"

namespace vm {

class FileSystem;
class RunHost;
struct Texts;

// One failure line per account the run leaves out: the steps never reach
// it, so without the line it would be missing in silence. Returns the
// lines.
int ReportLeftOut(RunHost* host, const Texts& texts, const RunTally& tally);

// Mailboxes of the source whose names the code page cannot hold: no
// account's name reaches them, so their mail would be passed over in
// silence. Each is a failure line; returns their number.
int ReportUnreachableMailboxes(FileSystem* fs, RunHost* host,
                               const Texts& texts, const RunSettings& settings);

// The summary: its head says whether the run succeeded, or that it is a
// preview's plan; then the counts, the failed copies, the mail left behind
// in accounts the target held, the accounts left out and those a stop
// left.
void LogSummary(RunHost* host, const Texts& texts, const RunSettings& settings,
                const MigrationStats& stats, const RunTally& tally,
                bool succeeded);

}  // namespace vm

#endif  // VM_MIGRATE_RUN_SUMMARY_H_
