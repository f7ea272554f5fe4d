// The sync record in a session: read before the run, saved after it.

#include <string>

#include "migrate/run_host.h"
#include "migrate/texts.h"
#include "platform/clock.h"
#include "session/record_paths.h"
#include "session/run_session.h"
#include "session/session_mirror.h"

namespace vm {

void RunSession::LoadSyncRecord(FileSystem* fs, RunSettings* settings) {
  if (options_.kind == SessionKind::kVerify) return;
  // A preview reads it to tell what a sync would skip, and never writes
  // it.
  sync_record_ = SyncRecordFile::Load(fs, env_.state.target_dir,
                                      env_.state.target_mail_dir);
  if (sync_record_ == nullptr) return;
  // Read while the run loads the target's lists; it waits before it asks.
  settings->sync_record = sync_record_->record_to_come();
  settings->sync_record_ready = [file = sync_record_.get()] { file->Wait(); };
  settings->sync_record_users = [file = sync_record_.get()] {
    return file->UsersInHead();
  };
  // A sync with a record lists only what changed; a progress that listed
  // every mailbox ahead would cost what the record spares.
  if (settings->sync && sync_record_->found()) progress_.CountAsItGoes();
}

void RunSession::SaveSyncRecord(RunHost* host) {
  const bool writes = options_.kind == SessionKind::kMigrate;
  // A first migration may spend a tenth of its time more for the
  // mailboxes it finished last to settle, so that the first sync trusts
  // them without listing; a sync is the switch, and a stopped run was
  // asked to end: they wait for nothing.
  const int64_t patience =
      options_.sync || stop_.requested()
          ? 0
          : (env_.clock->MonotonicMicros() - first_pass_started_) / 10;
  // A mirror's proofs tell the sizes of the files the tool wrote, which a
  // folder the pass changed last is listed for without a look at each.
  SizeTeller tell;
  if (mirror_ != nullptr) tell = mirror_->Sizes();
  std::string unsaved;
  if (writes && result_.outcome.loaded && sync_record_ != nullptr &&
      !sync_record_->Save(*env_.clock, patience, &unsaved, tell)) {
    // Not a failure of the run: the next sync lists every mailbox.
    host->AppendLogLine(env_.texts->sync_record_unsaved +
                        FileErrorMessage(*env_.texts, unsaved));
  }
}

}  // namespace vm
