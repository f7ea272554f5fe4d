#include <set>
#include <string>
#include <utility>
#include <vector>

#include "config/target_context.h"
#include "migrate/texts.h"
#include "platform/change_notice.h"
#include "platform/clock.h"
#include "session/run_session.h"
#include "session/sync_record_file.h"
#include "session/watch_pace.h"
#include "util/shown_text.h"

// The watch: after the migration, sync passes until stopped, each a line
// of the result list, all in the one run (its lock, manifest and records).

namespace vm {

namespace {

// The lines of a pass that the changes-only filter lets through: those of
// accounts that changed or failed, the banners and the summary.
class HeldLines : public LineSink {
 public:
  int AppendLogLine(const std::string& line) override {
    lines.push_back(line);
    return static_cast<int>(lines.size()) - 1;
  }
  void RemoveLastLine() override {
    if (!lines.empty()) lines.pop_back();
  }
  void SelectLastLine() override {}
  int LineCount() override { return static_cast<int>(lines.size()); }
  void ResetLog() override {}

  std::vector<std::string> lines;
};

// The host of a pass: its lines go through the filter into HeldLines, its
// errors and warnings are kept there as lines, its notices (a wait for a
// lock) are said at once and its closing word is left out.
class PassHost : public RunHost {
 public:
  PassHost(ChangesOnlyFilter* filter, HeldLines* held, MessageSink* front)
      : filter_(filter), held_(held), front_(front) {}

  int AppendLogLine(const std::string& raw) override {
    filter_->AppendLogLine(ShownText(raw));
    return count_++;
  }
  void RemoveLastLine() override {
    filter_->RemoveLastLine();
    if (count_ > 0) --count_;
  }
  void SelectLastLine() override { filter_->SelectLastLine(); }
  int LineCount() override { return count_; }
  void ResetLog() override {}
  void ShowMessage(MessageKind kind, const std::string& raw) override {
    if (kind == MessageKind::kNotice) {
      front_->ShowMessage(kind, ShownText(raw, true));
    } else if (kind != MessageKind::kInformation) {
      held_->lines.push_back(ShownText(raw, true));
    }
  }
  SourceDomainList* GetSourceDomains() override { return &domains_; }

 private:
  ChangesOnlyFilter* filter_;
  HeldLines* held_;
  MessageSink* front_;
  int count_ = 0;
  SourceDomainList domains_;  // read anew by every pass
};

}  // namespace

bool RunSession::watch_stopping() const {
  std::lock_guard<std::mutex> lock(watch_mutex_);
  return watch_stopping_;
}

void RunSession::WatchLine(RunHost* front_host, const std::string& line) {
  if (!env_.record_dirs.empty()) lines_.push_back(line);
  front_host->AppendLogLine(line);
  front_host->SelectLastLine();
}

void RunSession::PassRecords(RunHost* front_host, const WatchPace& pace) {
  WatchLine(front_host, pace.PassLine(*env_.texts, pass_copied_));
  result_.passes = pace.passes();
  ended_ = env_.clock->NowSeconds();
  WriteRecords();
  if (hooks_.pass_ended) hooks_.pass_ended(*this, pace.Status(*env_.texts));
}

// The notice starts before the migration lists anything, and what it told
// so far is taken: the migration sees every change made before then, the
// notice every one after, so the first pass after it may look only where
// the notice named changes, as later ones do.
void RunSession::ArmWatch() {
  const std::string& dir = env_.state.source_mail_dir;
  armed_notice_ = env_.watch_notice ? env_.watch_notice(dir)
                                    : WatchFolderTree(*env_.code_page, dir);
  std::vector<std::string> before;
  armed_notice_->TakeNamed(&before);
}

// A stop during the migration ends the session as any run's. Once the
// passes have begun, the first stop wakes the wait (or is seen by it after
// the pass in flight) and one last pass follows, which starts after the
// stop: whatever the source held at the stop is copied.
void RunSession::Watch(RunHost* front_host, TargetContext* target,
                       RunSettings settings) {
  std::unique_ptr<ChangeNotice> notice = std::move(armed_notice_);
  {
    std::lock_guard<std::mutex> lock(watch_mutex_);
    if (stop_.requested()) return;
    watch_notice_ = notice.get();
  }
  WatchPace pace(env_.clock, notice.get(), options_.watch_seconds);
  pace.PassStarted(first_pass_started_);
  pace.PassEnded(true);
  pass_copied_ = result_.stats.mail_count;
  PassRecords(front_host, pace);
  settings.sync = true;
  settings.verify = VerifyMode::kNone;
  // The pace follows a pass's time: threads that shorten it at the same
  // processor time would make a watch that sees nothing poll more often
  // and cost more than its share of a core.
  settings.judges = 1;
  // A pass looks only where the notices told changes
  // (RunSettings::named_boxes), unless the pace has it look everywhere.
  std::set<std::string> named_boxes;
  for (bool more = true; more && !stop_.requested();) {
    more = pace.WaitForNextPass();
    pace.PassStarted(env_.clock->MonotonicMicros());
    std::vector<std::string> named;
    const bool known = notice->TakeNamed(&named);
    named_boxes.clear();
    settings.named_boxes = nullptr;
    if (!pace.LooksEverywhere(known, !more)) {
      for (const std::string& box : named) {
        named_boxes.insert(target->names.Fold(box));
      }
      settings.named_boxes = &named_boxes;
    }
    if (mirror_ != nullptr) mirror_->Reload();
    bool changed = false;
    WatchPass(front_host, target, settings, &changed);
    pace.PassEnded(changed);
    PassRecords(front_host, pace);
  }
  {
    std::lock_guard<std::mutex> lock(watch_mutex_);
    watch_notice_ = nullptr;
    result_.watch_stopped = watch_stopping_;
  }
  if (result_.watch_stopped) WatchLine(front_host, env_.texts->watch_stopped);
}

// One sync pass. Its record replaces the last pass's, so a watch of any
// length keeps one pass's record; the list gets its lines only when it
// did not end clean.
bool RunSession::WatchPass(RunHost* front_host, TargetContext* target,
                           const RunSettings& settings, bool* changed) {
  auto record = std::make_unique<RunRecord>(nullptr, env_.disk);
  HeldLines held;
  ChangesOnlyFilter filter(&held, record.get());
  PassHost host(&filter, &held, front_host);
  MigrationStats stats;
  const RunOutcome outcome = MigrationRun(&host, *env_.texts, settings, target,
                                          &stats, hooks_.phases, &filter);
  filter.Finish();
  pass_record_ = std::move(record);
  const bool clean = outcome.loaded && outcome.succeeded &&
                     outcome.failure_lines == 0 && stats.failed_copies == 0 &&
                     !outcome.stopped;
  if (!clean) {
    for (const std::string& line : held.lines) WatchLine(front_host, line);
  }
  *changed = stats.domain_count + stats.user_count + stats.mail_count > 0;
  // What the pass listed is settled in the sync record, so that the next
  // pass skips it; a pass that listed nothing leaves the record as it is.
  std::string unsaved;
  if (outcome.loaded && sync_record_ != nullptr &&
      (*changed || stats.listed_boxes > 0) &&
      !sync_record_->Save(*env_.clock, 0, &unsaved)) {
    WatchLine(front_host, env_.texts->sync_record_unsaved +
                              FileErrorMessage(*env_.texts, unsaved));
  }
  pass_copied_ = stats.mail_count;
  MigrationStats& total = result_.stats;
  total.domain_count += stats.domain_count;
  total.user_count += stats.user_count;
  total.mail_count += stats.mail_count;
  total.failed_copies += stats.failed_copies;
  total.already_present = stats.already_present;
  result_.outcome.failure_lines += outcome.failure_lines;
  result_.outcome.succeeded = result_.outcome.succeeded && outcome.succeeded;
  result_.outcome.stopped = outcome.stopped;
  if (outcome.stopped) {
    result_.stopped = 0;
    for (const AccountRecord& a : pass_record_->accounts()) {
      if (a.outcome == AccountOutcome::kUnfinished) ++result_.stopped;
    }
  }
  result_.clean = result_.clean && clean;
  return clean;
}

}  // namespace vm
