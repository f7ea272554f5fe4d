// The words a session ends with: the end message every front end shows,
// and the line on the accounts the target held already.

#include <string>

#include "migrate/texts.h"
#include "session/run_plan.h"
#include "session/run_session.h"

namespace vm {

std::string RunSession::ExistingLine() const {
  const Texts& texts = *env_.texts;
  const MigrationStats& s = result_.stats;
  std::string line = texts.existing_accounts + std::to_string(result_.existing);
  if (s.behind_mail == 0) return line + texts.existing_complete;
  return line + texts.existing_behind + std::to_string(s.behind_accounts) +
         texts.existing_behind_mails + std::to_string(s.behind_mail) +
         texts.existing_behind_tail +
         (options_.sync_hint.empty() ? texts.sync_hint_dialog
                                     : options_.sync_hint);
}

namespace {

// A run whose one flaw is the new mail it left in accounts the target held:
// its end message says that, not that nothing failed.
bool OnlyMailBehind(const SessionResult& r, int failures) {
  return r.stats.behind_mail > 0 && failures == 0 &&
         r.stats.failed_copies == 0 && r.left_out == 0;
}

}  // namespace

EndMessage RunSession::End() const {
  const Texts& texts = *env_.texts;
  const SessionResult& r = result_;
  EndMessage end;
  if (!r.outcome.loaded) return end;  // the run said why itself
  // Each account left out has a failure line of its own; it is counted
  // once, as left out.
  const int failures = r.outcome.failure_lines - r.left_out;
  std::string body;
  if (options_.kind == SessionKind::kPreview) {
    int accounts = 0;
    for (const PlanAccount& a : r.plan.accounts) {
      if (a.outcome == AccountOutcome::kAdded) ++accounts;
    }
    body = texts.preview_done + "\n" + texts.end_preview_domains +
           std::to_string(r.plan.domains_to_add.size()) +
           texts.end_preview_accounts + std::to_string(accounts) +
           texts.end_preview_mails + std::to_string(r.plan.messages) +
           texts.end_preview_size + Megabytes(r.plan.bytes) +
           texts.end_preview_size_close;
    if (r.plan.free_known) {
      body += "\n" + texts.end_free + Megabytes(r.plan.free_bytes) +
              texts.end_period;
    }
    if (!r.plan.fits) {
      body += "\n\n" + texts.end_no_space +
              Megabytes(r.plan.bytes - r.plan.free_bytes) + texts.no_space_tail;
    }
  } else if (r.outcome.stopped) {
    body = options_.kind == SessionKind::kVerify ? texts.verify_stopped
                                                 : texts.end_stopped;
  } else if (r.clean) {
    body = options_.kind == SessionKind::kVerify ? texts.verify_passed
           : env_.state.target_installed         ? texts.success_installed
                                                 : texts.success_temporary;
  } else {
    body = options_.kind == SessionKind::kVerify ? texts.end_verify_failed
                                                 : texts.end_unclean;
  }
  if (options_.kind == SessionKind::kPreview &&
      (r.outcome.failure_lines > 0 || r.left_out > 0)) {
    body += "\n\n" + texts.end_will_fail + std::to_string(failures) +
            texts.end_will_fail_left_out + std::to_string(r.left_out) +
            texts.end_see_list;
  } else if (!r.clean && !r.outcome.stopped &&
             options_.kind != SessionKind::kPreview &&
             !OnlyMailBehind(r, failures)) {
    body += "\n" + texts.end_failures + std::to_string(failures) +
            texts.end_failed_copies + std::to_string(r.stats.failed_copies) +
            texts.end_failed_copies_left_out + std::to_string(r.left_out) +
            texts.end_see_list;
  }
  // Mail left behind in accounts the target held: how to copy it.
  if (r.stats.behind_mail > 0 && !r.outcome.stopped) {
    body += "\n\n" + ExistingLine();
  }
  if (!r.log_path.empty()) {
    body += "\n\n" + texts.end_log + r.log_path + "\n" + texts.end_report +
            r.report_path;
    if (!r.html_path.empty()) body += "\n" + texts.end_report + r.html_path;
  }
  if (!r.record_error.empty()) {
    body += "\n\n" + texts.end_record_failed + r.record_error;
  }
  end.text = body;
  end.kind = r.clean && r.record_error.empty() ? MessageKind::kInformation
                                               : MessageKind::kWarning;
  return end;
}

}  // namespace vm
