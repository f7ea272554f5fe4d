#include "migrate/account_judges.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <utility>

#include "config/user_store.h"
#include "migrate/lazy_users.h"
#include "migrate/mailbox_migrator.h"

namespace vm {

namespace {

// How many accounts a judge takes at a time.
constexpr size_t kJudgedAtOnce = 16;

// Calls judge(begin, end) for runs of indexes that together are those below
// `count`, on up to `judges` threads (the caller's among them), and returns
// when all are done.
void JudgeEach(size_t count, int judges,
               const std::function<void(size_t, size_t)>& judge) {
  std::atomic<size_t> next{0};
  auto run = [&] {
    for (;;) {
      const size_t begin = next.fetch_add(kJudgedAtOnce);
      if (begin >= count) return;
      judge(begin, std::min(count, begin + kJudgedAtOnce));
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
    if (domain.accounts.empty()) continue;
    const SourceAccount* begin = domain.accounts.data();
    spans_.push_back(
        {begin, begin + domain.accounts.size(), count_, &domain.name});
    count_ += domain.accounts.size();
  }
  std::sort(spans_.begin(), spans_.end(), [](const Span& a, const Span& b) {
    return std::less<const SourceAccount*>()(a.begin, b.begin);
  });
  judged_.resize(count_);
  unchanged_.assign(count_, 0);
  {
    MutexLock lock(&mutex_);
    done_.assign(count_ / kJudgedAtOnce + 1, 0);
  }
  try {
    judging_ = std::thread([this] { Judge(); });
  } catch (const std::system_error&) {
    Judge();  // then before the user list, not beside it
  }
}

const AdvanceJudgement::Span* AdvanceJudgement::SpanOf(
    const SourceAccount* account) const {
  const std::less<const SourceAccount*> before;
  auto it = std::upper_bound(spans_.begin(), spans_.end(), account,
                             [&](const SourceAccount* a, const Span& s) {
                               return before(a, s.begin);
                             });
  if (it == spans_.begin()) return nullptr;
  --it;
  return before(account, it->end) ? &*it : nullptr;
}

void AdvanceJudgement::Judge() {
  if (ready_) ready_();
  {
    MutexLock lock(&mutex_);
    record_read_ = true;
    judged_some_.notify_all();
  }
  // Each account is judged as a copy spelled as the account step spells
  // it, made on the judge's own thread.
  std::vector<const Span*> of(count_);
  for (const Span& span : spans_) {
    std::fill_n(of.begin() + static_cast<std::ptrdiff_t>(span.first),
                span.end - span.begin, &span);
  }
  JudgeEach(count_, judges_, [&](size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
      const Span& span = *of[i];
      const SourceAccount& listed = span.begin[i - span.first];
      const SourceAccount account{listed.user_name, *span.domain,
                                  listed.password};
      unchanged_[i] =
          mailboxes_->Unchanged(account, primary_domain_, &judged_[i]);
    }
    MutexLock lock(&mutex_);
    done_[begin / kJudgedAtOnce] = 1;
    judged_some_.notify_all();
  });
}

void AdvanceJudgement::WaitForRecord() {
  MutexLock lock(&mutex_);
  while (!record_read_) lock.Wait(&judged_some_);
}

void AdvanceJudgement::AllExist() {
  exists_.assign(count_, 1);
  asked_users_ = true;
}

void AdvanceJudgement::AskUsers(const UserStore& users) {
  exists_.assign(count_, 0);
  for (const Span& span : spans_) {
    for (const SourceAccount* a = span.begin; a != span.end; ++a) {
      exists_[span.first + static_cast<size_t>(a - span.begin)] =
          users.UserExists(a->user_name, *span.domain);
    }
  }
  asked_users_ = true;
}

bool AdvanceJudgement::Take(const SourceAccount* account,
                            Judgement* judgement) {
  const Span* span = SpanOf(account);
  if (span == nullptr) return false;
  const size_t i = span->first + static_cast<size_t>(account - span->begin);
  if (!unchanged_[i] || !exists_[i]) return false;
  unchanged_[i] = 0;  // taken once
  *judgement = std::move(judged_[i]);
  return true;
}

bool AdvanceJudgement::TakeOnceJudged(const SourceAccount* account,
                                      Judgement* judgement) {
  const Span* span = SpanOf(account);
  if (span == nullptr || !asked_users_) return false;
  const size_t i = span->first + static_cast<size_t>(account - span->begin);
  {
    MutexLock lock(&mutex_);
    while (!done_[i / kJudgedAtOnce]) lock.Wait(&judged_some_);
  }
  if (judged_[i].confirmed != nullptr) return false;
  return Take(account, judgement);
}

UnchangedAccounts JudgeUnchanged(const std::vector<SourceAccount*>& accounts,
                                 LazyUsers* users, AdvanceJudgement* advance) {
  UnchangedAccounts unchanged;
  if (advance == nullptr) return unchanged;
  if (!advance->asked_users()) advance->AskUsers(*users->get());
  advance->Wait();
  // The one place a sync decides to leave a mailbox unlisted: an account
  // that exists, whose mailbox is not pending and the record shows
  // unchanged on both sides. Nothing else is looked at for it.
  for (const SourceAccount* account : accounts) {
    Judgement judgement;
    if (advance->Take(account, &judgement)) {
      unchanged.emplace(account, std::move(judgement));
    }
  }
  return unchanged;
}

}  // namespace vm
