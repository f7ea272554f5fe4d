#include "migrate/account_judges.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <utility>

#include "config/user_store.h"
#include "migrate/mailbox_migrator.h"
#include "migrate/source_lists.h"

namespace vm {

namespace {

// How many accounts a judge takes at a time.
constexpr size_t kJudgedAtOnce = 16;

}  // namespace

// Each judgement is kept in the account's own slot, so the order accounts
// are told in later does not depend on which thread judged them.
UnchangedAccounts JudgeUnchanged(const std::vector<SourceAccount*>& accounts,
                                 UserStore* users, MailboxMigrator* mailboxes,
                                 const std::string& primary_domain,
                                 int judges) {
  UnchangedAccounts unchanged;
  if (!mailboxes->sync()) return unchanged;
  std::vector<Judgement> judged(accounts.size());
  std::vector<char> unlisted(accounts.size(), 0);
  std::atomic<size_t> next{0};
  // The one place a sync decides to leave a mailbox unlisted: an account
  // that exists, whose mailbox is not pending and the record shows
  // unchanged on both sides. Nothing else is looked at for it.
  auto judge = [&] {
    for (;;) {
      const size_t begin = next.fetch_add(kJudgedAtOnce);
      if (begin >= accounts.size()) return;
      const size_t end = std::min(accounts.size(), begin + kJudgedAtOnce);
      for (size_t i = begin; i < end; ++i) {
        const SourceAccount& account = *accounts[i];
        unlisted[i] = users->UserExists(account.user_name, account.domain) &&
                      mailboxes->Unchanged(account, primary_domain, &judged[i]);
      }
    }
  };
  std::vector<std::thread> threads;
  const size_t most = static_cast<size_t>(std::max(1, judges));
  const size_t helpers = std::min(most - 1, accounts.size() / kJudgedAtOnce);
  for (size_t i = 0; i < helpers; ++i) {
    try {
      threads.emplace_back(judge);
    } catch (const std::system_error&) {
      break;  // the threads there are judge the rest
    }
  }
  judge();
  for (std::thread& thread : threads) thread.join();
  for (size_t i = 0; i < accounts.size(); ++i) {
    if (unlisted[i]) unchanged[accounts[i]] = std::move(judged[i]);
  }
  return unchanged;
}

}  // namespace vm
