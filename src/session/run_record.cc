#include "session/run_record.h"

#include "platform/file_system.h"

namespace vm {

void RunRecord::OnDomain(const std::string& name, DomainOutcome outcome) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    domains_.push_back({name, outcome, ""});
  }
  RunObserverWrapper::OnDomain(name, outcome);
}

void RunRecord::OnAccountBegin(const std::string& user,
                               const std::string& domain,
                               const std::string& target_box) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_folders_.clear();
  }
  RunObserverWrapper::OnAccountBegin(user, domain, target_box);
}

void RunRecord::OnFolder(const FolderCounts& counts) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_folders_.push_back(FolderRecord{counts});
  }
  RunObserverWrapper::OnFolder(counts);
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
    record.target_box =
        paths_ != nullptr ? paths_->DisplayPath(target_box) : target_box;
    for (const FolderRecord& f : open_folders_) record.folders.push_back(f);
    open_folders_.clear();
    accounts_.push_back(record);
  }
  RunObserverWrapper::OnAccountEnd(user, domain, outcome, reason, target_box);
}

void RunRecord::OnDomainSaveFailed(const std::string& name,
                                   const std::string& reason) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (auto d = domains_.rbegin(); d != domains_.rend(); ++d) {
    if (d->name == name && d->outcome == DomainOutcome::kAdded) {
      d->outcome = DomainOutcome::kFailed;
      d->reason = reason;
      break;
    }
  }
  lock.unlock();
  RunObserverWrapper::OnDomainSaveFailed(name, reason);
}

size_t RunRecord::LastAccount(const std::string& user,
                              const std::string& domain) const {
  for (size_t i = accounts_.size(); i-- > 0;) {
    const AccountRecord a = accounts_[i];
    if (a.user == user && a.domain == domain) return i;
  }
  return accounts_.size();
}

void RunRecord::OnAccountSaveFailed(const std::string& user,
                                    const std::string& domain,
                                    const std::string& reason) {
  std::unique_lock<std::mutex> lock(mutex_);
  // Only the last account of that name can have been added by this run.
  const size_t i = LastAccount(user, domain);
  if (i < accounts_.size()) {
    AccountRecord a = accounts_[i];
    a.outcome = AccountOutcome::kFailed;
    a.reason = reason;
    accounts_.Set(i, a);
  }
  lock.unlock();
  RunObserverWrapper::OnAccountSaveFailed(user, domain, reason);
}

void RunRecord::OnAccountAddedByOther(const std::string& user,
                                      const std::string& domain,
                                      const std::string& reason) {
  std::unique_lock<std::mutex> lock(mutex_);
  const size_t i = LastAccount(user, domain);
  if (i < accounts_.size()) {
    AccountRecord a = accounts_[i];
    if (a.outcome == AccountOutcome::kAdded) {
      a.outcome = AccountOutcome::kExists;
      a.reason = reason;
      accounts_.Set(i, a);
    }
  }
  lock.unlock();
  RunObserverWrapper::OnAccountAddedByOther(user, domain, reason);
}

size_t RunRecord::VerifiedAccount(const std::string& user,
                                  const std::string& domain) {
  const size_t from = verifying_any_ ? verifying_ + 1 : 0;
  for (size_t pass = 0; pass < 2; ++pass) {
    for (size_t i = pass == 0 ? from : 0; i < accounts_.size(); ++i) {
      AccountRecord a = accounts_[i];
      if (a.user == user && a.domain == domain && !a.target_box.empty()) {
        verifying_ = i;
        verifying_any_ = true;
        if (!a.verified) {
          a.verified = true;
          accounts_.Set(i, a);
        }
        return i;
      }
    }
  }
  return accounts_.size();
}

void RunRecord::OnVerifyAccount(const std::string& user,
                                const std::string& domain) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    VerifiedAccount(user, domain);
  }
  RunObserverWrapper::OnVerifyAccount(user, domain);
}

void RunRecord::OnVerified(const std::string& user, const std::string& domain,
                           const std::string& folder, int64_t checked,
                           int64_t missing, int64_t different) {
  RunObserverWrapper::OnVerified(user, domain, folder, checked, missing,
                                 different);
  std::lock_guard<std::mutex> lock(mutex_);
  size_t i = accounts_.size();
  if (verifying_any_) {
    const AccountRecord a = accounts_[verifying_];
    if (a.user == user && a.domain == domain) i = verifying_;
  }
  if (i == accounts_.size()) i = VerifiedAccount(user, domain);
  if (i == accounts_.size()) return;
  AccountRecord stored = accounts_[i];
  AccountRecord* account = &stored;
  // A folder listed twice is checked twice: each check takes the first
  // folder of its name that has none yet.
  size_t index = 0;
  FolderRecord record;
  for (const FolderRecord& f : account->folders) {
    if (f.counts.name == folder && !f.verified) {
      record = f;
      break;
    }
    ++index;
  }
  record.counts.name = folder;
  record.verified = true;
  record.checked = checked;
  record.missing = missing;
  record.different = different;
  if (index == account->folders.size()) {
    account->folders.push_back(record);
  } else {
    account->folders.Set(index, record);
  }
  accounts_.Set(i, stored);
}

}  // namespace vm
