#include "config/user_store.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <sstream>

#include "config/config_test_util.h"
#include "config/field_text.h"

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

// The item of an account whose settings are all 0 or empty.
std::string MinimalItem(const std::string& name, const std::string& domain) {
  return "<item>\r\n<name>" + name + "</name>\r\n" + domain + "\r\n<password>" +
         kPassword +
         "</password>\r\n<mailquota>0</mailquota>\r\n"
         "<mailtotallimit>0</mailtotallimit>\r\n"
         "<netstorequota>0</netstorequota>\r\n"
         "<netstoretotallimit>0</netstoretotallimit>\r\n"
         "<createtime>1234567890</createtime>\r\n"
         "<lastvisittime>1234567890</lastvisittime>\r\n</item>\r\n";
}

TEST_F(UserStoreTest, MinimalAccountOfThePrimaryDomain) {
  t_.Put("userauth.cfg", kEmptyUserauthCfg);
  UserStore store(&t_.context);
  EXPECT_EQ(store.AddUser(Account("bob", "MAIN.com")), kUserAdded);
  EXPECT_EQ(store.AddUser(Account("amy", "other.org")), kUserAdded);
  EXPECT_EQ(t_.Get("userauth.cfg"),
            UserFile(MinimalItem("bob", "<domain/>") +
                     MinimalItem("amy", "<domain>other.org</domain>")));
  EXPECT_TRUE(store.UserExists("BOB", ""));
  EXPECT_TRUE(store.UserExists("bob", "main.COM"));
  EXPECT_FALSE(store.UserExists("amy", ""));
  EXPECT_TRUE(store.UserExists("amy", "Other.Org"));
}

TEST_F(UserStoreTest, WritesEveryFieldInTheFilesOrder) {
  t_.Put("userauth.cfg", kEmptyUserauthCfg);
  UserStore store(&t_.context);
  UserRecord u = Account("x@y.z", "d.com");
  for (std::string* text :
       {&u.fullname, &u.description, &u.mailstorepath, &u.netstorepath,
        &u.senddomainlist, &u.recvdomainlist}) {
    *text = "t";
  }
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
    *n = 7;
  }
  u.mailquota = 5000000000;
  u.netstorequota = INT64_MIN;  // 20 characters with its sign
  ASSERT_EQ(store.AddUser(u), kUserAdded);

  const std::map<std::string, std::string> special = {
      {"name", "x"},
      {"domain", "d.com"},
      {"password", kPassword},
      {"mailquota", "5000000000"},
      {"netstorequota", "-9223372036854775808"},
      {"lastchgpwdtime", "1234567890"},
      {"createtime", "1234567890"},
      {"lastvisittime", "1234567890"}};
  const std::set<std::string> texts = {"fullname",       "description",
                                       "mailstorepath",  "netstorepath",
                                       "senddomainlist", "recvdomainlist"};
  std::string item = "<item>\r\n";
  std::istringstream order(
      "name domain password authtype accountstatus fullname description "
      "publicinfo mailquota mailtotallimit netstorequota netstoretotallimit "
      "warninglimit mailstorepath netstorepath sendcontrol recvcontrol "
      "senddomainlist recvdomainlist pop3control imapcontrol webmailcontrol "
      "netstorecontrol calendarcontrol notebookcontrol modifyuserinfo "
      "externalpop3 autoforward autoreply spamcontrol publiccontact smsnotify "
      "sendsms sendmaxmsgsize sendfreq localtimes localsize remotetimes "
      "remotesize chgpassword lastchgpwdtime pwdexpiredays expiretime "
      "createtime lastvisittime");
  for (std::string name; order >> name;) {
    std::string value = special.count(name) ? special.at(name)
                        : texts.count(name) ? "t"
                                            : "7";
    item += "<" + std::string(name) + ">" + value + "</" + name + ">\r\n";
  }
  EXPECT_EQ(t_.Get("userauth.cfg"), UserFile(item + "</item>\r\n"));
}

TEST_F(UserStoreTest, ExistingUsersAndAliasesAreNotAddedAgain) {
  t_.Put("userauth.cfg", UserFile("",
                                  "<item><aliasname>Sales</aliasname>"
                                  "<domain>shop.com</domain></item>\r\n"));
  UserStore store(&t_.context);
  ASSERT_EQ(store.AddUser(Account("bob@example.com", "shop.com")), kUserAdded);
  std::string after_first = t_.Get("userauth.cfg");
  int writes = t_.fs.WriteCount(t_.Path("userauth.cfg"));

  struct Case {
    const char* name;
    const char* domain;
    int result;
  } cases[] = {
      {"bob@example.com", "shop.com", kUserExists},
      {"BOB", "SHOP.COM", kUserExists},
      {"bob@elsewhere", "shop.com", kUserExists},
      {"sales", "shop.com", kUserAliasExists},
      {"sales@x", "Shop.com", kUserAliasExists},
      {"", "shop.com", kUserFailed},
      {"@shop.com", "shop.com", kUserFailed},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(store.AddUser(Account(c.name, c.domain)), c.result) << c.name;
  }
  EXPECT_EQ(t_.Get("userauth.cfg"), after_first);
  EXPECT_EQ(t_.fs.WriteCount(t_.Path("userauth.cfg")), writes);

  // A second store on the saved file (a second run) knows the user too.
  UserStore again(&t_.context);
  EXPECT_EQ(again.AddUser(Account("bob@example.com", "shop.com")), kUserExists);
  EXPECT_EQ(again.AddUser(Account("bob", "main.com")), kUserAdded);
}

TEST_F(UserStoreTest, ItemWithoutDomainMatchesOnlyAnEmptyWantedDomain) {
  t_.Put("userauth.cfg", UserFile("<item><name>solo</name></item>\r\n"));
  {
    UserStore store(&t_.context);
    EXPECT_FALSE(store.UserExists("solo", ""));
    EXPECT_FALSE(store.UserExists("solo", "main.com"));
  }
  t_.context.primary_domain = "";
  UserStore store(&t_.context);
  EXPECT_TRUE(store.UserExists("solo", ""));
  EXPECT_FALSE(store.UserExists("solo", "x.com"));
}

TEST_F(UserStoreTest, FileWithoutUserListRefusesAdditions) {
  for (const char* text : {"<database>\r\n</database>", "", "<bad"}) {
    MemTarget t;
    t.Put("userauth.cfg", text);
    UserStore store(&t.context);
    EXPECT_EQ(store.AddUser(Account("bob", "a.com")), kUserFailed) << text;
    EXPECT_EQ(t.Get("userauth.cfg"), text);
    EXPECT_FALSE(store.UserExists("bob", "a.com"));
  }
}

TEST_F(UserStoreTest, FailedSaveKeepsItemForTheNextSave) {
  t_.Put("userauth.cfg", kEmptyUserauthCfg);
  UserStore store(&t_.context);
  t_.fs.FailWritesAfter(100);
  EXPECT_EQ(store.AddUser(Account("a", "x.com")), kUserFailed);
  EXPECT_EQ(t_.Get("userauth.cfg"), kEmptyUserauthCfg);
  EXPECT_EQ(store.AddUser(Account("a", "x.com")), kUserExists);
  t_.fs.FailWritesAfter(-1);
  EXPECT_EQ(store.AddUser(Account("b", "x.com")), kUserAdded);
  std::string text = t_.Get("userauth.cfg");
  EXPECT_NE(text.find("<name>a</name>"), std::string::npos);
  EXPECT_NE(text.find("<name>b</name>"), std::string::npos);
}

// The existence check exactly as a walk over the items does it, for
// comparison with the store's index.
bool WalkFinds(const XmlDocument& source, const char* list,
               const char* name_field, const std::string& name,
               const std::string& domain, const std::string& primary) {
  XmlDocument doc(source);
  std::string wanted = domain.empty() ? primary : domain;
  if (!doc.MoveTo(0, 0, 0) || !doc.SeekElement("database") ||
      !doc.EnterElement() || !doc.SeekElement(list) || !doc.EnterElement()) {
    return false;
  }
  while (doc.SeekElement("item")) {
    int32_t parent = doc.ParentPosition();
    int32_t item = doc.CurrentPosition();
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
  const std::vector<std::string> names = {"a",        "A", "bob", "Bob",
                                          "\xC4\xE3", "",  "  ",  "a&b"};
  const std::vector<std::string> domains = {
      "x.com", "X.COM", " ", "main.com", "Main.Com", "y.org", ""};
  auto pick = [&](const std::vector<std::string>& from) {
    return from[random() % from.size()];
  };
  auto random_item = [&](const char* name_field) {
    std::string item = "<item>";
    if (random() % 5 != 0) {
      item += "<" + std::string(name_field) + ">" + pick(names) + "</" +
              name_field + ">";
    }
    if (random() % 4 == 0) item += "<name>zz</name><aliasname>zz</aliasname>";
    switch (random() % 4) {
      case 0:
        break;  // no domain element
      case 1:
        item += "<domain/>";
        break;
      case 2:
        item += "<domain></domain>";
        break;
      default:
        item += "<domain>" + pick(domains) + "</domain>";
    }
    if (random() % 4 == 0) item += "<domain>y.org</domain>";
    return item + "</item>\r\n";
  };

  for (int round = 0; round < 60; ++round) {
    MemTarget t;
    std::string users, aliases;
    for (int i = random() % 8; i > 0; --i) users += random_item("name");
    for (int i = random() % 4; i > 0; --i) aliases += random_item("aliasname");
    t.Put("userauth.cfg", UserFile(users, aliases));
    t.context.primary_domain = pick(domains);
    UserStore store(&t.context);

    for (int step = 0; step < 40; ++step) {
      if (step % 10 == 9) {
        // Additions must keep the index in step with the document.
        store.AddUser(Account(pick(names), pick(domains)));
      }
      if (step == 20) t.context.primary_domain = pick(domains);
      std::string name = pick(names), domain = pick(domains);
      const std::string& primary = t.context.primary_domain;
      ASSERT_EQ(
          store.UserExists(name, domain),
          WalkFinds(store.document(), "user", "name", name, domain, primary))
          << "round " << round << " name '" << name << "' domain '" << domain
          << "' primary '" << primary << "'\n"
          << store.document().DocumentText();
      ASSERT_EQ(store.AliasExists(name, domain),
                WalkFinds(store.document(), "useralias", "aliasname", name,
                          domain, primary))
          << "round " << round << " name '" << name << "' domain '" << domain
          << "' primary '" << primary << "'\n"
          << store.document().DocumentText();
    }
  }
}

}  // namespace
}  // namespace vm
