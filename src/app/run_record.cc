#include "app/run_record.h"

namespace vm {

int64_t AccountRecord::Copied() const {
  int64_t n = 0;
  for (const FolderRecord& f : folders) n += f.counts.copied;
  return n;
}

uint64_t AccountRecord::CopiedBytes() const {
  uint64_t n = 0;
  for (const FolderRecord& f : folders) n += f.counts.copied_bytes;
  return n;
}

bool AccountRecord::VerificationFailed() const {
  for (const FolderRecord& f : folders) {
    if (f.missing != 0 || f.different != 0) return true;
  }
  return false;
}

void RunRecord::OnSourceLoaded(const SourceDomainList& domains) {
  if (next_ != nullptr) next_->OnSourceLoaded(domains);
}

void RunRecord::OnDomain(const std::string& name, DomainOutcome outcome) {
  domains_.push_back({name, outcome});
}

void RunRecord::OnAccountBegin(const std::string&, const std::string&,
                               const std::string&) {
  open_folders_.clear();
}

void RunRecord::OnFolder(const FolderCounts& counts) {
  open_folders_.push_back(FolderRecord{counts});
  if (next_ != nullptr) next_->OnFolder(counts);
}

void RunRecord::OnMessage(uint64_t bytes, bool copied) {
  if (next_ != nullptr) next_->OnMessage(bytes, copied);
}

void RunRecord::OnAccountEnd(const std::string& user, const std::string& domain,
                             AccountOutcome outcome, const std::string& reason,
                             const std::string& target_box) {
  AccountRecord record;
  record.user = user;
  record.domain = domain;
  record.outcome = outcome;
  record.reason = reason;
  record.target_box = target_box;
  record.folders.swap(open_folders_);
  accounts_.push_back(std::move(record));
  if (next_ != nullptr) {
    next_->OnAccountEnd(user, domain, outcome, reason, target_box);
  }
}

void RunRecord::OnVerified(const std::string& user, const std::string& domain,
                           const std::string& folder, int64_t checked,
                           int64_t missing, int64_t different) {
  for (AccountRecord& account : accounts_) {
    if (account.user != user || account.domain != domain) continue;
    FolderRecord* record = nullptr;
    for (FolderRecord& f : account.folders) {
      if (f.counts.name == folder) record = &f;
    }
    if (record == nullptr) {
      account.folders.push_back(FolderRecord{});
      record = &account.folders.back();
      record->counts.name = folder;
    }
    record->verified = true;
    record->checked = checked;
    record->missing = missing;
    record->different = different;
    return;
  }
}

const char* OutcomeName(AccountOutcome outcome) {
  switch (outcome) {
    case AccountOutcome::kAdded:
      return "added";
    case AccountOutcome::kResumed:
      return "resumed";
    case AccountOutcome::kSynced:
      return "synced";
    case AccountOutcome::kExists:
      return "exists";
    case AccountOutcome::kAlias:
      return "alias";
    case AccountOutcome::kRefused:
      return "refused";
    case AccountOutcome::kFailed:
      return "failed";
    case AccountOutcome::kSkippedNoDomainLine:
      return "skipped-no-domain-line";
    case AccountOutcome::kSkippedAliasDomain:
      return "skipped-alias-domain";
    case AccountOutcome::kSkippedNoDomain:
      return "skipped-no-domain";
    case AccountOutcome::kAbsent:
      return "absent";
    case AccountOutcome::kStopped:
      return "stopped";
  }
  return "unknown";
}

const char* OutcomeName(DomainOutcome outcome) {
  switch (outcome) {
    case DomainOutcome::kAdded:
      return "added";
    case DomainOutcome::kExists:
      return "exists";
    case DomainOutcome::kAlias:
      return "alias";
    case DomainOutcome::kFailed:
      return "failed";
  }
  return "unknown";
}

}  // namespace vm
