#include "session/changes_only.h"

namespace vm {

ChangesOnlyFilter::ChangesOnlyFilter(LineSink* log, RunObserver* next)
    : RunObserverWrapper(next), log_(log) {}

void ChangesOnlyFilter::PassHeld() {
  if (held_) log_->AppendLogLine(held_line_);
  held_ = false;
}

void ChangesOnlyFilter::AppendLogLine(const std::string& line) {
  if (in_account_) {
    account_lines_.push_back(line);
    return;
  }
  PassHeld();
  held_ = true;
  held_line_ = line;
}

void ChangesOnlyFilter::RemoveLastLine() {
  if (in_account_) {
    if (account_lines_.size() > 1) account_lines_.pop_back();
  } else if (held_) {
    held_ = false;
  } else {
    log_->RemoveLastLine();
  }
}

void ChangesOnlyFilter::SelectLastLine() {
  // A line held back is not in the list yet.
  if (!in_account_ && !held_) log_->SelectLastLine();
}

void ChangesOnlyFilter::Finish() {
  for (const std::string& line : account_lines_) log_->AppendLogLine(line);
  account_lines_.clear();
  in_account_ = false;
  PassHeld();
}

void ChangesOnlyFilter::OnAccountBegin(const std::string& user,
                                       const std::string& domain,
                                       const std::string& target_box) {
  // The line just written ("importing", "syncing") heads the account.
  account_lines_.clear();
  if (held_) account_lines_.push_back(held_line_);
  held_ = false;
  in_account_ = true;
  RunObserverWrapper::OnAccountBegin(user, domain, target_box);
}

void ChangesOnlyFilter::OnFolder(const FolderCounts& counts) {
  // The folder's line is the last one; its failures follow it.
  if (in_account_ && counts.copied == 0 && counts.failed == 0 &&
      counts.removed == 0 && account_lines_.size() > 1) {
    account_lines_.pop_back();
  }
  RunObserverWrapper::OnFolder(counts);
}

void ChangesOnlyFilter::OnAccountEnd(const std::string& user,
                                     const std::string& domain,
                                     AccountOutcome outcome,
                                     const std::string& reason,
                                     const std::string& target_box) {
  if (in_account_) {
    // A synced account with nothing left but its head line saw no change.
    if (outcome != AccountOutcome::kSynced || account_lines_.size() > 1) {
      for (const std::string& line : account_lines_) log_->AppendLogLine(line);
    }
    account_lines_.clear();
    in_account_ = false;
  }
  RunObserverWrapper::OnAccountEnd(user, domain, outcome, reason, target_box);
}

}  // namespace vm
