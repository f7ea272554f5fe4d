// Saving over a file another writer changed since the store loaded it.

#include <gtest/gtest.h>

#include "config/domain_store.h"
#include "config/user_store.h"
#include "testing/mem_target.h"

namespace vm {
namespace {

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos;
       at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

const char kServerUsers[] =
    "<database>\r\n<user>\r\n<item><name>srv</name><domain>x.com</domain>"
    "</item>\r\n<item><name>bob</name><domain>x.com</domain></item>\r\n"
    "</user>\r\n<useralias>\r\n</useralias>\r\n</database>";

TEST(MergeOnSaveTest, UserFileChangedBetweenLoadAndSave) {
  const struct {
    const char* disk;  // written by another writer after the load; null:
                       // the file is removed
    bool saved;
    int bobs, srvs, amys;  // items in the file afterwards
    size_t written;        // of them, written by this store
  } kCases[] = {
      {kServerUsers, true, 1, 1, 1, 1},  // bob was added meanwhile: kept once
      {"<database>\r\n<user>\r\n</user>\r\n</database>", true, 1, 0, 1, 2},
      {"<bad", false, 0, 0, 0, 0},
      {"", false, 0, 0, 0, 0},
      {nullptr, false, 0, 0, 0, 0},
  };
  for (const auto& c : kCases) {
    MemTarget t;
    UserStore store(&t.context);
    UserRecord bob, amy;
    bob.name = "bob", bob.domain = "x.com";
    amy.name = "amy", amy.domain = "x.com";
    ASSERT_EQ(store.AddUser(bob), AddUserResult::kAdded);
    ASSERT_EQ(store.AddUser(amy), AddUserResult::kAdded);
    if (c.disk != nullptr) {
      t.Put("userauth.cfg", c.disk);
    } else {
      ASSERT_TRUE(t.fs.RemoveFile(t.Path("userauth.cfg"), nullptr));
    }
    EXPECT_EQ(store.SavePending(), c.saved) << c.disk;
    std::string after = t.Get("userauth.cfg");
    if (!c.saved) {
      // Nothing is written over what the other writer left.
      EXPECT_EQ(after, c.disk == nullptr ? "" : c.disk);
      EXPECT_EQ(t.fs.Exists(t.Path("userauth.cfg")), c.disk != nullptr);
      continue;
    }
    EXPECT_EQ(Count(after, "<name>bob</name>"), c.bobs) << after;
    EXPECT_EQ(Count(after, "<name>srv</name>"), c.srvs) << after;
    EXPECT_EQ(Count(after, "<name>amy</name>"), c.amys) << after;
    // The index follows the merged document.
    EXPECT_EQ(store.UserExists("srv", "x.com"), c.srvs == 1);
    // The record of the run names only what this store wrote, as written.
    std::vector<SavedAddition> written = store.TakeSavedAdditions();
    ASSERT_EQ(written.size(), c.written);
    EXPECT_EQ(written.back().name, "amy");
    EXPECT_NE(after.find(written.back().item.element + "\r\n</user>"),
              std::string::npos);
  }
}

TEST(MergeOnSaveTest, DomainFileChangedBetweenLoadAndSave) {
  MemTarget t;
  DomainStore store(&t.context);
  DomainRecord a, b;
  a.domain = "a.com";
  b.domain = "b.com";
  ASSERT_TRUE(store.AddDomain(a));
  ASSERT_TRUE(store.AddDomain(b));
  t.Put("domain.cfg",
        "<database>\r\n<domain>\r\n<item><domain>srv.com</domain></item>\r\n"
        "<item><domain>B.COM</domain></item>\r\n</domain>\r\n<domainalias>"
        "\r\n</domainalias>\r\n</database>");
  ASSERT_TRUE(store.SavePending());
  std::string after = t.Get("domain.cfg");
  EXPECT_EQ(Count(after, "<domain>srv.com</domain>"), 1) << after;
  EXPECT_EQ(Count(after, "<domain>a.com</domain>"), 1) << after;
  EXPECT_EQ(Count(after, "b.com</domain>") + Count(after, "B.COM</domain>"), 1)
      << after;
}

}  // namespace
}  // namespace vm
