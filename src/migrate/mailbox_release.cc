// The end of a mailbox in the mailbox migrator: its staging folder
// published, its sync record entry kept, its pending mark let go once a
// flush has made its copies durable.

#include <string>
#include <utility>

#include "migrate/mailbox_in_flight.h"
#include "migrate/mailbox_migrator.h"
#include "migrate/run_host.h"
#include "migrate/staged_mailbox.h"
#include "migrate/texts.h"
#include "platform/file_system.h"

namespace vm {

void MailboxMigrator::BoxFailure(Mailbox* mailbox, const std::string& line,
                                 bool retry) {
  LogFailure(line);
  // Told in result-list order, after the folders before it.
  log_->Then([mailbox, line, retry] {
    mailbox->tally.Failed(line);
    if (retry) ++mailbox->tally.failed;
  });
}

void MailboxMigrator::ReleaseMailbox(Mailbox* mailbox, RunHost* host) {
  --in_flight_;
  if (mailbox->staged != nullptr) Publish(mailbox, host);
  const MailboxTally& tally = mailbox->tally;
  if (mailbox->done) {
    // The reason of an account is the line without its indent.
    const std::string& indent = texts_.folder_indent;
    const std::string& line = tally.failure;
    mailbox->done(tally.failed_copies,
                  line.compare(0, indent.size(), indent) == 0
                      ? line.substr(indent.size())
                      : line);
  }
  // With a failure the mark stays, so a later run tries again. A mailbox
  // this run wrote nothing into (a sync that found it complete) has
  // nothing to flush: its mark goes at once.
  if (!mailbox->record_key.empty() && mailbox->listed && tally.failed == 0 &&
      tally.failed_copies == 0 && tally.failure.empty()) {
    options_.record->Put(mailbox->record_key, mailbox->seen,
                         std::move(mailbox->entry));
  }
  if (tally.failed == 0 && tally.wrote) {
    if (marks_.AddComplete(tally.target_box, tally.bytes)) FlushFinished(host);
    return;
  }
  if (tally.failed == 0) marks_.Clear(tally.target_box);
  if (--unsettled_[tally.target_box] == 0) {
    unsettled_.erase(tally.target_box);
  }
}

void MailboxMigrator::Publish(Mailbox* mailbox, RunHost* host) {
  MailboxTally& tally = mailbox->tally;
  PublishOutcome outcome;
  const FolderMaker* marker = mailbox->marker.get();
  if (marker != nullptr) marker->Wait();
  if (marker == nullptr || marker->marked()) {
    outcome =
        PublishStaged(fs_, mailbox->staged.get(), texts_, options_.manifest);
  } else {
    // Published without its mark, a mailbox whose copies were never
    // flushed would look complete: it stays staged, and pending.
    outcome.box_ready = false;
    outcome.lines.push_back(texts_.folder_indent + texts_.mailbox_dir_failed +
                            fs_->DisplayPath(mailbox->staged->box()));
  }
  if (!outcome.box_ready) {
    // Its staged copies never reached the target: they are mail left
    // behind, not mail migrated.
    stats_->mail_count -= tally.copied;
    stats_->failed_copies += tally.copied;
    tally.failed_copies += tally.copied;
  }
  for (const std::string& line : outcome.lines) {
    host->AppendLogLine(line);
    host->SelectLastLine();
    ++failure_lines_;
    ++tally.failed;
    if (!outcome.box_ready) {
      tally.Failed(line);
      continue;
    }
    // A staged file left out was counted copied by its folder.
    --stats_->mail_count;
    ++stats_->failed_copies;
    ++tally.failed_copies;
  }
  if (outcome.merged) marks_.Discard(mailbox->staged->staging());
}

void MailboxMigrator::FlushFinished(RunHost* host) {
  // One flush at a time: the one running is waited for (and its outcome
  // written) before the next starts, so a failure line lands at the same
  // place of the result list however long a flush takes.
  CollectFlush(host);
  marks_.StartFlush();
}

void MailboxMigrator::CollectFlush(RunHost* host) {
  if (!marks_.flushing()) return;
  if (options_.phases != nullptr) options_.phases->PhaseBegin("flush");
  const PendingMarks::Outcome flush = marks_.Collect();
  if (options_.phases != nullptr) options_.phases->PhaseEnd("flush");
  for (const std::string& box : flush.boxes) {
    if (--unsettled_[box] == 0) unsettled_.erase(box);
  }
  if (!flush.ok) {
    host->AppendLogLine(texts_.folder_indent + texts_.copy_failed +
                        fs_->DisplayPath(options_.target_mail_dir) +
                        texts_.why_open + FileErrorWords(texts_, flush.error) +
                        texts_.why_close);
    host->SelectLastLine();
    ++failure_lines_;
  }
}

void MailboxMigrator::Finish() {
  log_->Drain();
  // Nothing is held now, so lines go straight to the host.
  FlushFinished(log_);
  CollectFlush(log_);
}

void MailboxMigrator::LogFailure(const std::string& line) {
  log_->AppendLogLine(line);
  log_->SelectLastLine();
  ++failure_lines_;
}

}  // namespace vm
