#include "migrate/run_summary.h"

#include <string>

#include "migrate/run_host.h"
#include "migrate/source_scan.h"
#include "migrate/texts.h"
#include "platform/file_system.h"

namespace vm {

int ReportLeftOut(RunHost* host, const Texts& texts, const RunTally& tally) {
  for (const RunTally::LeftOut& account : tally.left_out) {
    host->AppendLogLine((account.outcome == AccountOutcome::kSkippedNoDomainLine
                             ? texts.left_out_no_domain_line
                             : texts.left_out_alias_domain) +
                        DisplayName(account.user, account.domain));
    host->SelectLastLine();
  }
  return static_cast<int>(tally.left_out.size());
}

int ReportUnreachableMailboxes(FileSystem* fs, RunHost* host,
                               const Texts& texts,
                               const RunSettings& settings) {
  int lines = 0;
  for (const std::string& path :
       UnreachableMailboxes(fs, settings.source_dir)) {
    host->AppendLogLine(texts.mailbox_name_unconvertible +
                        fs->DisplayPath(path));
    host->SelectLastLine();
    ++lines;
  }
  return lines;
}

void LogSummary(RunHost* host, const Texts& texts, const RunSettings& settings,
                const MigrationStats& stats, const RunTally& tally,
                bool succeeded) {
  host->AppendLogLine(settings.preview ? texts.summary_head_preview
                      : succeeded      ? texts.summary_head
                                       : texts.summary_head_unclean);
  host->AppendLogLine(
      texts.summary_domains + std::to_string(stats.domain_count) +
      texts.summary_users + std::to_string(stats.user_count) +
      texts.summary_mails + std::to_string(stats.mail_count) +
      (stats.already_present > 0
           ? texts.summary_present + std::to_string(stats.already_present)
           : std::string()));
  if (settings.sync) {
    host->AppendLogLine(
        (settings.preview ? texts.sync_listed_preview : texts.sync_listed) +
        std::to_string(stats.listed_boxes) + texts.sync_unchanged +
        std::to_string(stats.unchanged_boxes) + texts.sync_unchanged_folders +
        std::to_string(stats.unchanged_folders) + texts.sync_unchanged_tail);
  }
  if (stats.failed_copies > 0) {
    host->AppendLogLine(texts.copies_failed +
                        std::to_string(stats.failed_copies));
  }
  if (stats.behind_mail > 0) {
    host->AppendLogLine(
        texts.summary_behind + std::to_string(stats.behind_accounts) +
        texts.summary_behind_accounts + std::to_string(stats.behind_mail));
  }
  if (!tally.left_out.empty()) {
    host->AppendLogLine(texts.accounts_left_out +
                        std::to_string(tally.left_out.size()));
  }
  if (tally.stopped > 0) {
    host->AppendLogLine(texts.accounts_stopped + std::to_string(tally.stopped));
    host->AppendLogLine(texts.run_stopped);
  }
  host->SelectLastLine();
}

}  // namespace vm
