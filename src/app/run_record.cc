#include "app/run_record.h"

#include <map>

namespace vm {

namespace {

// Matches an account's final word with its line of the source lists; the
// domain as the steps spell it may differ in letter case.
std::string AccountKey(const std::string& user, const std::string& domain) {
  std::string key = user + '\n';
  for (char c : domain) key += c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c;
  return key;
}

}  // namespace

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
  {
    std::lock_guard<std::mutex> lock(mutex_);
    source_accounts_.clear();
    for (const SourceDomain& domain : domains) {
      for (const SourceAccount& account : domain.accounts) {
        source_accounts_.emplace_back(account.user_name, domain.name);
      }
    }
  }
  if (next_ != nullptr) next_->OnSourceLoaded(domains);
}

void RunRecord::OnDomain(const std::string& name, DomainOutcome outcome) {
  std::lock_guard<std::mutex> lock(mutex_);
  domains_.push_back({name, outcome});
}

void RunRecord::OnAccountBegin(const std::string& user,
                               const std::string& domain,
                               const std::string& target_box) {
  std::lock_guard<std::mutex> lock(mutex_);
  open_folders_.clear();
  open_.user = user;
  open_.domain = domain;
  open_.target_box = target_box;
}

void RunRecord::OnFolder(const FolderCounts& counts) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_folders_.push_back(FolderRecord{counts});
  }
  if (next_ != nullptr) next_->OnFolder(counts);
}

void RunRecord::OnMessage(uint64_t bytes, bool copied) {
  if (next_ != nullptr) next_->OnMessage(bytes, copied);
}

void RunRecord::OnAccountEnd(const std::string& user, const std::string& domain,
                             AccountOutcome outcome, const std::string& reason,
                             const std::string& target_box) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    AccountRecord record;
    record.user = user;
    record.domain = domain;
    record.outcome = outcome;
    record.reason = reason;
    record.target_box = target_box;
    record.folders.swap(open_folders_);
    accounts_.push_back(std::move(record));
    open_.user.clear();
  }
  if (next_ != nullptr) {
    next_->OnAccountEnd(user, domain, outcome, reason, target_box);
  }
}

void RunRecord::OnVerified(const std::string& user, const std::string& domain,
                           const std::string& folder, int64_t checked,
                           int64_t missing, int64_t different) {
  std::lock_guard<std::mutex> lock(mutex_);
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

void RunRecord::CopyStopped(RunRecord* stopped) const {
  std::lock_guard<std::mutex> lock(mutex_);
  stopped->domains_ = domains_;
  stopped->accounts_ = accounts_;
  std::map<std::string, int> ended;
  for (const AccountRecord& a : accounts_)
    ++ended[AccountKey(a.user, a.domain)];
  std::string open_key =
      open_.user.empty() ? std::string() : AccountKey(open_.user, open_.domain);
  for (const auto& [user, domain] : source_accounts_) {
    const std::string key = AccountKey(user, domain);
    auto it = ended.find(key);
    if (it != ended.end() && it->second > 0) {
      --it->second;
      continue;
    }
    AccountRecord record;
    record.user = user;
    record.domain = domain;
    record.outcome = AccountOutcome::kUnfinished;
    if (key == open_key) {
      record.domain = open_.domain;
      record.target_box = open_.target_box;
      record.folders = open_folders_;
      open_key.clear();
    }
    stopped->accounts_.push_back(std::move(record));
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
    case AccountOutcome::kUnfinished:
      return "unfinished";
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
