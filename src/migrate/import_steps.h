#ifndef VM_MIGRATE_IMPORT_STEPS_H_
#define VM_MIGRATE_IMPORT_STEPS_H_

namespace vm {

class AdvanceJudgement;
class ExistingMail;
class ManifestWriter;
class RunHost;
class RunObserver;
class StopRequest;
struct MigrationStats;
struct TargetContext;
struct Texts;

// What the domain and account steps work with besides their stores: the
// target, the host their lines go to, the texts, the counts they keep and
// the failure lines they add to, and, when given, the observer told every
// outcome, the stop request (the account step), the run's manifest and
// the look at existing accounts' mail of a run without sync. Nothing is
// owned.
struct ImportSteps {
  TargetContext* target;
  RunHost* host;
  const Texts& texts;
  MigrationStats* stats;
  int* failure_lines;
  RunObserver* observer = nullptr;
  const StopRequest* stop = nullptr;
  ManifestWriter* manifest = nullptr;
  ExistingMail* existing = nullptr;
  // A sync's judgement made while the user list loaded, if one was.
  AdvanceJudgement* advance = nullptr;
};

}  // namespace vm

#endif  // VM_MIGRATE_IMPORT_STEPS_H_
