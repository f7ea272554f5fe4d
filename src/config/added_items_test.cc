// Taking out the items a run added, through the stores, with a server
// writing the file between the request and the save.

#include "config/added_items.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "config/domain_store.h"
#include "config/user_store.h"
#include "testing/mem_target.h"

namespace vm {
namespace {

UserRecord Account(const std::string& name, const std::string& domain) {
  UserRecord u;
  u.name = name;
  u.domain = domain;
  u.password = "p-" + name;
  return u;
}

// The additions of one run that added `users` (name, domain) and saved.
std::vector<SavedAddition> AddUsers(
    MemTarget* t,
    const std::vector<std::pair<std::string, std::string>>& users) {
  UserStore store(&t->context);
  for (const auto& [name, domain] : users) {
    EXPECT_EQ(store.AddUser(Account(name, domain)), AddUserResult::kAdded);
  }
  EXPECT_TRUE(store.SavePending());
  return store.TakeSavedAdditions();
}

std::vector<AddedItem> NewestFirst(const std::vector<SavedAddition>& added) {
  std::vector<AddedItem> items;
  for (const SavedAddition& a : added) items.insert(items.begin(), a.item);
  return items;
}

// The lists in their three empty forms, LF ends, a comment and a blank
// line: the additions of one run, taken out by the next, leave the file
// as it was, and each recorded item is in the file as recorded.
TEST(StoreRemovalTest, UndoingARunsAdditionsGivesBackTheFile) {
  for (const std::string user_list :
       {"<user/>", "<user></user>", "<user>\n</user>"}) {
    const std::string before = "<!-- users -->\n<database>\n\n\t" + user_list +
                               "\n\t<useralias/>\n</database>\n";
    MemTarget t;
    t.Put("userauth.cfg", before);
    std::vector<SavedAddition> added =
        AddUsers(&t, {{"amy", "x.com"}, {"bob", "x.com"}, {"amy", "y.com"}});
    ASSERT_EQ(added.size(), 3u);
    EXPECT_EQ(added[2].name, "amy");
    EXPECT_EQ(added[2].domain, "y.com");
    const std::string file = t.Get("userauth.cfg");
    // Later items go after an item's layout, not into its bytes.
    for (const SavedAddition& a : added) {
      EXPECT_NE(file.find(a.item.layout.before + a.item.element),
                std::string::npos);
    }
    const AddedItem& last = added.back().item;
    EXPECT_NE(file.find(last.element + last.layout.after), std::string::npos);
    t.NewRun();
    UserStore store(&t.context);
    EXPECT_EQ(store.RemoveAddedUsers(NewestFirst(added)),
              std::vector<RemovalOutcome>(3, RemovalOutcome::kRemoved));
    EXPECT_FALSE(store.UserExists("amy", "y.com"));
    ASSERT_TRUE(store.SavePending());
    EXPECT_EQ(t.Get("userauth.cfg"), before);
    EXPECT_EQ(store.TakeSavedRemovals().size(), 3u);
  }
  MemTarget t;
  const std::string before = t.Get("domain.cfg");
  DomainStore adding(&t.context);
  DomainRecord a, b;
  a.domain = "a.com", b.domain = "b.com";
  ASSERT_TRUE(adding.AddDomain(a) && adding.AddDomain(b));
  ASSERT_TRUE(adding.SavePending());
  std::vector<SavedAddition> added = adding.TakeSavedAdditions();
  ASSERT_EQ(added.size(), 2u);
  EXPECT_EQ(added[0].name, "a.com");
  t.NewRun();
  DomainStore store(&t.context);
  store.RemoveAddedDomains(NewestFirst(added));
  ASSERT_TRUE(store.SavePending());
  EXPECT_EQ(t.Get("domain.cfg"), before);
}

std::string Without(std::string text, const std::string& part) {
  const size_t at = text.find(part);
  EXPECT_NE(at, std::string::npos) << part;
  return at == std::string::npos ? text : text.erase(at, part.size());
}

// The outcomes are settled against the file as the server left it, under
// its lock: what it changed is kept, what it took out counts as gone, what
// it added stays, and only the named domain's account goes.
TEST(StoreRemovalTest, ServerWritesBetweenRequestAndSaveAreKept) {
  MemTarget t;
  std::vector<SavedAddition> added = AddUsers(
      &t,
      {{"amy", "x.com"}, {"bob", "x.com"}, {"cy", "x.com"}, {"amy", "y.com"}});
  ASSERT_EQ(added.size(), 4u);
  t.NewRun();
  UserStore store(&t.context);
  std::vector<AddedItem> items = {added[2].item, added[1].item, added[0].item};
  AddedItem never_added = added[0].item;
  never_added.element.replace(never_added.element.find("amy"), 3, "dan");
  items.push_back(never_added);
  items.push_back({"<x>no item</x>", {}});
  EXPECT_EQ(store.RemoveAddedUsers(items),
            (std::vector<RemovalOutcome>{
                RemovalOutcome::kRemoved, RemovalOutcome::kRemoved,
                RemovalOutcome::kRemoved, RemovalOutcome::kGone,
                RemovalOutcome::kNotFound}));

  std::string server = t.Get("userauth.cfg");
  server = Without(server, added[2].item.element + "\r\n");  // cy
  const size_t bob = server.find("<password>p-bob</password>");
  ASSERT_NE(bob, std::string::npos);
  server.replace(bob, 26, "<password>new</password>");
  server.insert(server.find("</user>"), "<item><name>srv</name></item>\r\n");
  t.Put("userauth.cfg", server);

  ASSERT_TRUE(store.SavePending());
  EXPECT_EQ(store.TakeSavedRemovals(),
            (std::vector<RemovalOutcome>{
                RemovalOutcome::kGone, RemovalOutcome::kChanged,
                RemovalOutcome::kRemoved, RemovalOutcome::kGone,
                RemovalOutcome::kNotFound}));
  std::string expected = Without(server, added[0].item.element + "\r\n");
  EXPECT_EQ(t.Get("userauth.cfg"), expected);
  EXPECT_TRUE(store.UserExists("bob", "x.com"));
  EXPECT_TRUE(store.UserExists("amy", "y.com"));
  EXPECT_FALSE(store.UserExists("amy", "x.com"));
  EXPECT_TRUE(store.TakeSavedRemovals().empty());
}

}  // namespace
}  // namespace vm
