#include "migrate/account_judges.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <utility>

#include "config/user_store.h"
#include "migrate/mailbox_migrator.h"

namespace vm {

namespace {

// How many accounts a judge takes at a time.
constexpr size_t kJudgedAtOnce = 16;

// Calls judge(i) for each i below `count`, on up to `judges` threads (the
// caller's among them), and returns when all are done.
void JudgeEach(size_t count, int judges,
               const std::function<void(size_t)>& judge) {
  std::atomic<size_t> next{0};
  auto run = [&] {
    for (;;) {
      const size_t begin = next.fetch_add(kJudgedAtOnce);
      if (begin >= count) return;
      const size_t end = std::min(count, begin + kJudgedAtOnce);
      for (size_t i = begin; i < end; ++i) judge(i);
    }
  };
  std::vector<std::thread> threads;
  const size_t most = static_cast<size_t>(std::max(1, judges));
  const size_t helpers = std::min(most - 1, count / kJudgedAtOnce);
  for (size_t i = 0; i < helpers; ++i) {
    try {
      threads.emplace_back(run);
    } catch (const std::system_error&) {
      break;  // the threads there are judge the rest
    }
  }
  run();
  for (std::thread& thread : threads) thread.join();
}

}  // namespace

AdvanceJudgement::AdvanceJudgement(const SourceDomainList& domains,
                                   MailboxMigrator* mailboxes,
                                   const std::string& primary_domain,
                                   int judges, std::function<void()> ready)
    : mailboxes_(mailboxes),
      primary_domain_(primary_domain),
      judges_(judges),
      ready_(std::move(ready)) {
  for (const SourceDomain& domain : domains) {
    for (const SourceAccount& account : domain.accounts) {
      index_[&account] = accounts_.size();
      accounts_.push_back(account);
      accounts_.back().domain = domain.name;
    }
  }
  judged_.resize(accounts_.size());
  unchanged_.assign(accounts_.size(), 0);
  try {
    judging_ = std::thread([this] { Judge(); });
  } catch (const std::system_error&) {
    Judge();  // then before the user list, not beside it
  }
}

void AdvanceJudgement::Judge() {
  if (ready_) ready_();
  JudgeEach(accounts_.size(), judges_, [this](size_t i) {
    unchanged_[i] =
        mailboxes_->Unchanged(accounts_[i], primary_domain_, &judged_[i]);
  });
}

bool AdvanceJudgement::Take(const SourceAccount* account,
                            Judgement* judgement) {
  auto it = index_.find(account);
  if (it == index_.end() || !unchanged_[it->second]) return false;
  *judgement = std::move(judged_[it->second]);
  return true;
}

UnchangedAccounts JudgeUnchanged(const std::vector<SourceAccount*>& accounts,
                                 UserStore* users, AdvanceJudgement* advance) {
  UnchangedAccounts unchanged;
  if (advance == nullptr) return unchanged;
  advance->Wait();
  // The one place a sync decides to leave a mailbox unlisted: an account
  // that exists, whose mailbox is not pending and the record shows
  // unchanged on both sides. Nothing else is looked at for it.
  for (const SourceAccount* account : accounts) {
    Judgement judgement;
    if (users->UserExists(account->user_name, account->domain) &&
        advance->Take(account, &judgement)) {
      unchanged.emplace(account, std::move(judgement));
    }
  }
  return unchanged;
}

}  // namespace vm
