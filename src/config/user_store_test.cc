#include "config/user_store.h"

#include <gtest/gtest.h>

#include <random>

#include "config/field_text.h"
#include "testing/golden.h"
#include "testing/mem_target.h"

namespace vm {
namespace {

const char kPassword[] = "{md5}0123456789abcdef0123456789abcdef";

UserRecord Account(const std::string& name, const std::string& domain) {
  UserRecord u;
  u.name = name;
  u.domain = domain;
  u.password = kPassword;
  return u;
}

std::string UserFile(const std::string& users,
                     const std::string& aliases = "") {
  return "<database>\r\n<user>\r\n" + users + "</user>\r\n<useralias>\r\n" +
         aliases + "</useralias>\r\n</database>";
}

class UserStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    t_.context.primary_domain = "main.com";
    t_.clock.Set(1234567890);
  }
  MemTarget t_;
};

// Every field has a value of its own, so a field written from another one
// shows as a difference from the hand-written item.
TEST_F(UserStoreTest, WritesEveryFieldInTheFilesLayout) {
  UserRecord u = Account("x@y.z", "d.example");
  u.fullname = "Full Name";
  u.description = "About";
  u.mailstorepath = "D:\\mail";
  u.netstorepath = "D:\\net";
  u.senddomainlist = "send.example";
  u.recvdomainlist = "recv.example";
  int32_t value = 0;
  for (int32_t* n :
       {&u.authtype,        &u.accountstatus,      &u.publicinfo,
        &u.mailtotallimit,  &u.netstoretotallimit, &u.warninglimit,
        &u.sendcontrol,     &u.recvcontrol,        &u.pop3control,
        &u.imapcontrol,     &u.webmailcontrol,     &u.netstorecontrol,
        &u.calendarcontrol, &u.notebookcontrol,    &u.modifyuserinfo,
        &u.externalpop3,    &u.autoforward,        &u.autoreply,
        &u.spamcontrol,     &u.publiccontact,      &u.smsnotify,
        &u.sendsms,         &u.sendmaxmsgsize,     &u.sendfreq,
        &u.localtimes,      &u.localsize,          &u.remotetimes,
        &u.remotesize,      &u.chgpassword,        &u.pwdexpiredays,
        &u.expiretime}) {
    *n = ++value;
  }
  u.mailquota = 5000000000;
  u.netstorequota = INT64_MIN;
  ASSERT_EQ(UserStore(&t_.context).AddUser(u),
            AddUserResult::kAdded);  // saved at the end
  EXPECT_EQ(t_.Get("userauth.cfg"), Golden("config/userauth_every_field.cfg"));
}

TEST_F(UserStoreTest, ExistingUsersAndAliasesAreNotAddedAgain) {
  t_.Put("userauth.cfg", UserFile("",
                                  "<item><aliasname>Sales</aliasname>"
                                  "<domain>shop.com</domain></item>\r\n"));
  UserStore store(&t_.context);
  ASSERT_EQ(store.AddUser(Account("bob@example.com", "shop.com")),
            AddUserResult::kAdded);
  ASSERT_TRUE(store.SavePending());
  const std::string after_first = t_.Get("userauth.cfg");
  const struct {
    const char* name;
    const char* domain;
    AddUserResult result;
  } kCases[] = {
      {"BOB", "SHOP.COM", AddUserResult::kExists},
      {"bob@elsewhere", "shop.com", AddUserResult::kExists},
      {"sales@x", "Shop.com", AddUserResult::kAliasExists},
      {"", "shop.com", AddUserResult::kFailed},
      {"@shop.com", "shop.com", AddUserResult::kFailed},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(store.AddUser(Account(c.name, c.domain)), c.result) << c.name;
  }
  EXPECT_TRUE(store.SavePending());
  EXPECT_EQ(t_.Get("userauth.cfg"), after_first);
  // A second store on the saved file (a second run) knows the user too;
  // an account of the primary domain is stored with an empty domain.
  UserStore again(&t_.context);
  EXPECT_EQ(again.AddUser(Account("bob", "shop.com")), AddUserResult::kExists);
  EXPECT_EQ(again.AddUser(Account("amy", "MAIN.com")), AddUserResult::kAdded);
  ASSERT_TRUE(again.SavePending());
  EXPECT_NE(t_.Get("userauth.cfg").find("<name>amy</name>\r\n<domain/>\r\n"),
            std::string::npos);
  EXPECT_TRUE(again.UserExists("AMY", ""));
  EXPECT_FALSE(again.UserExists("amy", "other.org"));
}

// A failed group save keeps its additions for the next save.
TEST_F(UserStoreTest, FailedSaveKeepsItsAdditionsForTheNextSave) {
  UserStore store(&t_.context);
  EXPECT_EQ(store.AddUser(Account("a", "x.com")), AddUserResult::kAdded);
  t_.fs.FailWritesAfter(100);
  EXPECT_FALSE(store.SavePending());
  EXPECT_EQ(t_.Get("userauth.cfg"), Golden("config/userauth_empty.cfg"));
  EXPECT_TRUE(store.UserExists("a", "x.com"));
  t_.fs.FailWritesAfter(-1);
  EXPECT_EQ(store.AddUser(Account("b", "x.com")), AddUserResult::kAdded);
  EXPECT_TRUE(store.SavePending());
  EXPECT_NE(t_.Get("userauth.cfg").find("<name>a</name>"), std::string::npos);
  EXPECT_NE(t_.Get("userauth.cfg").find("<name>b</name>"), std::string::npos);
  // A file without a user list refuses additions and stays as it was.
  for (const char* text : {"<database>\r\n</database>", "", "<bad"}) {
    t_.NewRun();
    t_.Put("userauth.cfg", text);
    EXPECT_EQ(UserStore(&t_.context).AddUser(Account("c", "a.com")),
              AddUserResult::kFailed);
    EXPECT_EQ(t_.Get("userauth.cfg"), text);
  }
}

// Whether a domain still has users, as an undo asks before it removes
// one. Faults: alias items ignored; the primary-domain form (<domain/>)
// not counted for the primary domain, or counted for every domain; an
// item without a domain element taken for the primary domain's.
TEST_F(UserStoreTest, DomainInUseCountsAliasesAndThePrimaryDomainForm) {
  const std::string users =
      "<item>\r\n<name>a</name>\r\n<domain>X.COM</domain>\r\n</item>\r\n"
      "<item>\r\n<name>n</name>\r\n</item>\r\n";
  const std::string primary_form =
      "<item>\r\n<name>p</name>\r\n<domain/>\r\n</item>\r\n";
  const std::string alias =
      "<item>\r\n<aliasname>s</aliasname>\r\n<domain>alias.org</domain>"
      "\r\n</item>\r\n";
  const struct {
    std::string file;
    const char* domain;
    bool in_use;
  } kCases[] = {
      {UserFile(users, alias), "x.com", true},
      {UserFile(users, alias), "alias.org", true},
      {UserFile(users, alias), "main.com", false},
      {UserFile(users + primary_form, alias), "main.com", true},
      {UserFile(users + primary_form, alias), "other.org", false},
      {UserFile(users + primary_form), "alias.org", false},
  };
  for (const auto& c : kCases) {
    t_.NewRun();
    t_.Put("userauth.cfg", c.file);
    EXPECT_EQ(UserStore(&t_.context).DomainInUse(c.domain), c.in_use)
        << c.domain << "\n"
        << c.file;
  }
}

// The existence check as a plain walk over the items does it.
bool WalkFinds(const XmlDocument& source, const char* list,
               const char* name_field, const std::string& name,
               const std::string& domain, const std::string& primary) {
  XmlDocument doc(source);
  const std::string wanted = domain.empty() ? primary : domain;
  if (!doc.MoveTo(0, 0, 0) || !doc.SeekElement("database") ||
      !doc.EnterElement() || !doc.SeekElement(list) || !doc.EnterElement()) {
    return false;
  }
  while (doc.SeekElement("item")) {
    const int32_t parent = doc.ParentPosition();
    const int32_t item = doc.CurrentPosition();
    std::string item_name, item_domain;
    if (doc.SeekChild(name_field)) item_name = doc.ChildText();
    doc.MoveTo(parent, item, 0);
    if (doc.SeekChild("domain")) {
      item_domain = doc.ChildText();
      if (item_domain.empty()) item_domain = primary;
    }
    doc.MoveTo(parent, item, 0);
    if (EqualsIgnoringAsciiCase(item_name, name) &&
        EqualsIgnoringAsciiCase(item_domain, wanted)) {
      return true;
    }
  }
  return false;
}

TEST_F(UserStoreTest, IndexAnswersAsTheWalkDoes) {
  std::mt19937 random(20261206);
  const std::vector<std::string> names = {"a", "A", "Bob", "\xC4\xE3", "", " "};
  const std::vector<std::string> domains = {"x.com",    "X.COM",    " ",
                                            "main.com", "Main.Com", ""};
  auto pick = [&](const std::vector<std::string>& from) {
    return from[random() % from.size()];
  };
  auto random_item = [&](const std::string& name_field) {
    std::string item = "<item>";
    if (random() % 5 != 0) {
      item += "<" + name_field + ">" + pick(names) + "</" + name_field + ">";
    }
    const char* kDomainForms[] = {"", "<domain/>", "<domain></domain>"};
    const unsigned form = random() % 4;
    item += form < 3 ? kDomainForms[form]
                     : "<domain>" + pick(domains) + "</domain>";
    if (random() % 4 == 0) item += "<domain>y.org</domain>";
    return item + "</item>\r\n";
  };
  for (int round = 0; round < 60; ++round) {
    std::string users, aliases;
    for (int i = random() % 8; i > 0; --i) users += random_item("name");
    for (int i = random() % 4; i > 0; --i) aliases += random_item("aliasname");
    t_.NewRun();
    t_.Put("userauth.cfg", UserFile(users, aliases));
    t_.context.primary_domain = pick(domains);
    UserStore store(&t_.context);
    for (int step = 0; step < 40; ++step) {
      if (step % 10 == 9) store.AddUser(Account(pick(names), pick(domains)));
      if (step == 20) t_.context.primary_domain = pick(domains);
      const std::string name = pick(names), domain = pick(domains);
      const std::string& primary = t_.context.primary_domain;
      ASSERT_EQ(
          store.UserExists(name, domain),
          WalkFinds(store.document(), "user", "name", name, domain, primary))
          << "round " << round << " '" << name << "' '" << domain << "'";
      ASSERT_EQ(store.AliasExists(name, domain),
                WalkFinds(store.document(), "useralias", "aliasname", name,
                          domain, primary))
          << "round " << round << " '" << name << "' '" << domain << "'";
    }
  }
}

}  // namespace
}  // namespace vm
