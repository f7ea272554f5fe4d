#include "session/account_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vm {
namespace {

AccountRecord Account(std::string user, std::string reason, std::string box) {
  AccountRecord a;
  a.user = std::move(user);
  a.domain = "x.com";
  a.outcome = AccountOutcome::kSynced;
  a.reason = std::move(reason);
  a.target_box = std::move(box);
  FolderRecord inbox;
  inbox.counts.name = "INBOX";
  inbox.counts.copied = 3;
  a.folders.push_back(inbox);
  return a;
}

std::vector<std::string> Shown(const AccountList& list) {
  std::vector<std::string> shown;
  for (const AccountRecord& a : list) {
    std::string folders;
    for (const FolderRecord& f : a.folders) {
      folders += " " + f.counts.name + ":" + std::to_string(f.counts.copied) +
                 (f.verified ? "v" + std::to_string(f.checked) : "");
    }
    shown.push_back(
        a.user + "@" + a.domain + " " +
        std::to_string(static_cast<int>(a.outcome)) + " [" + a.reason + "] " +
        (a.target_box.size() < 100 ? a.target_box
                                   : std::to_string(a.target_box.size())) +
        (a.verified ? " v" : " -") + folders);
  }
  return shown;
}

// A record replaced by a longer one must not run into its neighbour, one
// replaced by a shorter one must not keep bytes of the old, and a record
// larger than a block (a very long path) stays whole. Target mailboxes
// come back whole whatever folder they share with another, separator they
// use or byte (0x5C) ends a double-byte name.
TEST(AccountListTest, ReplacedRecordsLeaveTheirNeighboursAlone) {
  AccountList list;
  list.push_back(Account("amy", "a long reason given first", "/t/x.com/amy"));
  list.push_back(Account("bob", "", std::string(2 << 20, 'b')));
  list.push_back(Account("cy", "", ""));
  list.push_back(Account("dee", "", "/t/x.com/dee"));
  list.push_back(Account("eve", "", "C:\\t\\\xd5\\\\eve"));
  list.push_back(Account("fay", "", "/t/y.com/fay"));
  AccountRecord amy = list[0];
  amy.reason = "short";
  list.Set(0, amy);
  AccountRecord cy = list[2];
  cy.reason = std::string(40, 'r');
  cy.verified = true;
  FolderRecord checked = *cy.folders.begin();
  checked.verified = true;
  checked.checked = 300;
  cy.folders.Set(0, checked);
  cy.folders.push_back(checked);
  list.Set(2, cy);
  list.Set(1, list[1]);
  EXPECT_EQ(Shown(list), (std::vector<std::string>{
                             "amy@x.com 2 [short] /t/x.com/amy - INBOX:3",
                             "bob@x.com 2 [] 2097152 - INBOX:3",
                             "cy@x.com 2 [" + std::string(40, 'r') +
                                 "]  v INBOX:3v300 INBOX:3v300",
                             "dee@x.com 2 [] /t/x.com/dee - INBOX:3",
                             "eve@x.com 2 [] C:\\t\\\xd5\\\\eve - INBOX:3",
                             "fay@x.com 2 [] /t/y.com/fay - INBOX:3"}));
}

}  // namespace
}  // namespace vm
