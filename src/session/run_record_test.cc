#include "session/run_record.h"

#include <gtest/gtest.h>

#include <string>

namespace vm {
namespace {

// A verification's result belongs to the account of that user *and* that
// domain. Two accounts share a user name across domains and two share a
// domain; the verification passes over bob@a.com and cy@b.com (their
// mailboxes were absent), so the next account of a matching user or of a
// matching domain is always at hand to take a result that is not its own.
// A result the record cannot place (it has no mailbox for eve@b.com) goes
// to no other account either.
TEST(RunRecordTest, VerificationGoesToTheAccountOfBothNames) {
  const struct {
    const char* user;
    const char* domain;
    int64_t missing;  // negative: not verified
    const char* box;
  } kAccounts[] = {{"ann", "a.com", 1, "box"}, {"bob", "a.com", -1, "box"},
                   {"bob", "b.com", 2, "box"}, {"cy", "b.com", -1, "box"},
                   {"dan", "b.com", 3, "box"}, {"eve", "b.com", 4, ""}};
  RunRecord record;
  for (const auto& a : kAccounts) {
    record.OnAccountBegin(a.user, a.domain, "box");
    FolderCounts inbox;
    inbox.name = "INBOX";
    inbox.messages = inbox.copied = 4;
    record.OnFolder(inbox);
    record.OnAccountEnd(a.user, a.domain, AccountOutcome::kAdded, "", a.box);
  }
  for (const auto& a : kAccounts) {
    if (a.missing < 0) continue;
    record.OnVerifyAccount(a.user, a.domain);
    record.OnVerified(a.user, a.domain, "INBOX", 4, a.missing, 0);
  }
  std::string got;
  for (const AccountRecord& a : record.accounts()) {
    got += a.user + "@" + a.domain + (a.verified ? " verified" : "");
    for (const FolderRecord& f : a.folders) {
      got += " " + f.counts.name + (f.verified ? " missing " : " unchecked ") +
             std::to_string(f.missing);
    }
    got += "\n";
  }
  EXPECT_EQ(got,
            "ann@a.com verified INBOX missing 1\n"
            "bob@a.com INBOX unchecked 0\n"
            "bob@b.com verified INBOX missing 2\n"
            "cy@b.com INBOX unchecked 0\n"
            "dan@b.com verified INBOX missing 3\n"
            "eve@b.com INBOX unchecked 0\n");
}

}  // namespace
}  // namespace vm
