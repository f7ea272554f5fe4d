#include "config/domain_store.h"

#include <gtest/gtest.h>

#include "testing/golden.h"
#include "testing/mem_target.h"

namespace vm {
namespace {

std::string DomainFile(const std::string& items,
                       const std::string& aliases = "") {
  return "<database>\r\n<domain>\r\n" + items +
         "</domain>\r\n<domainalias>\r\n" + aliases +
         "</domainalias>\r\n</database>";
}

DomainRecord Named(const std::string& name) {
  DomainRecord r;
  r.domain = name;
  return r;
}

class DomainStoreTest : public testing::Test {
 protected:
  MemTarget t_;
};

// Every field has a value of its own, so a field read into or written from
// another one shows as a difference from the file read.
TEST_F(DomainStoreTest, WritesBackEveryFieldItReads) {
  const std::string every = Golden("config/domain_every_field.cfg");
  t_.Put("domain.cfg", every);
  std::vector<DomainRecord> all;
  ASSERT_TRUE(DomainStore(&t_.context).LoadAllDomains(&all));
  ASSERT_EQ(all.size(), 1u);
  t_.NewRun();
  t_.Put("domain.cfg", Golden("config/domain_empty.cfg"));
  t_.context.primary_domain = "main.example";
  DomainStore store(&t_.context);
  ASSERT_TRUE(store.AddDomain(all[0]));
  ASSERT_TRUE(store.SavePending());
  EXPECT_EQ(t_.Get("domain.cfg"), every);
}

TEST_F(DomainStoreTest, FirstAddedDomainBecomesPrimary) {
  DomainStore store(&t_.context);
  ASSERT_TRUE(store.AddDomain(Named("first.com")));
  ASSERT_TRUE(store.AddDomain(Named("second.com")));
  EXPECT_EQ(t_.context.primary_domain, "first.com");
  ASSERT_TRUE(store.SavePending());
  EXPECT_EQ(t_.Get("domain.cfg"),
            DomainFile("<item>\r\n<domain>first.com</domain>\r\n<type>1</type>"
                       "\r\n</item>\r\n<item>\r\n<domain>second.com</domain>"
                       "\r\n<type>0</type>\r\n</item>\r\n"));
  EXPECT_EQ(store.FindPrimaryDomain(), "first.com");
}

TEST_F(DomainStoreTest, NamesCompareWithAsciiCaseFolded) {
  t_.Put("domain.cfg",
         DomainFile("<item><domain>Example.COM</domain></item>\r\n"
                    "<item><domain>\xC4\xE3.com</domain></item>\r\n",
                    "<item><aliasdomain>Alias.net</aliasdomain></item>\r\n"));
  DomainStore store(&t_.context);
  EXPECT_TRUE(store.DomainExists("example.com"));
  EXPECT_TRUE(store.DomainExists("\xC4\xE3.COM"));
  EXPECT_FALSE(store.DomainExists("\xC4\xC3.com"));
  EXPECT_FALSE(store.DomainExists("alias.net"));
  EXPECT_TRUE(store.AliasDomainExists("ALIAS.NET"));
}

TEST_F(DomainStoreTest, PrimaryDomainIsTheFirstOfType1) {
  const struct {
    const char* type;
    bool primary;
  } kCases[] = {{"1", true},  {"  1", true}, {"001", true}, {"1abc", true},
                {"+1", true}, {"0", false},  {"", false},   {"11", false}};
  for (const auto& [type, primary] : kCases) {
    t_.NewRun();
    t_.Put("domain.cfg",
           DomainFile("<item><domain>none.com</domain></item>\r\n"
                      "<item><domain>a.com</domain><type>" +
                      std::string(type) +
                      "</type></item>\r\n"
                      "<item><domain>b.com</domain><type>1</type></item>\r\n"));
    EXPECT_EQ(DomainStore(&t_.context).FindPrimaryDomain(),
              primary ? "a.com" : "b.com")
        << type;
  }
}

TEST_F(DomainStoreTest, NamesAndDescriptionsOverTheirFieldsAreRefused) {
  DomainStore store(&t_.context);
  DomainRecord long_description = Named("d.com");
  long_description.description = std::string(129, 'x');
  for (const DomainRecord& r :
       {Named(""), Named(std::string(65, 'a')), long_description}) {
    EXPECT_FALSE(store.AddDomain(r));
  }
  EXPECT_EQ(t_.context.primary_domain, "");
  EXPECT_EQ(t_.Get("domain.cfg"), Golden("config/domain_empty.cfg"));
  DomainRecord longest = Named(std::string(64, 'a'));
  longest.description = std::string(128, 'x');
  EXPECT_TRUE(store.AddDomain(longest));
}

TEST_F(DomainStoreTest, FailedSaveKeepsItsAdditionsForTheNextSave) {
  {
    DomainStore store(&t_.context);
    EXPECT_TRUE(store.AddDomain(Named("a.com")));
    t_.fs.FailWritesAfter(0);
    EXPECT_FALSE(store.SavePending());
    EXPECT_EQ(t_.Get("domain.cfg"), Golden("config/domain_empty.cfg"));
    t_.fs.FailWritesAfter(-1);
    EXPECT_TRUE(store.AddDomain(Named("b.com")));
    EXPECT_TRUE(store.SavePending());
    EXPECT_TRUE(DomainStore(&t_.context).DomainExists("a.com"));
    EXPECT_TRUE(DomainStore(&t_.context).DomainExists("b.com"));
  }
  // Without a domain list nothing is added, but the primary is settled.
  t_.NewRun();
  t_.context.primary_domain.clear();
  t_.Put("domain.cfg", "<database>\r\n</database>");
  DomainStore listless(&t_.context);
  EXPECT_FALSE(listless.AddDomain(Named("first.com")));
  EXPECT_EQ(t_.context.primary_domain, "first.com");
  std::vector<DomainRecord> all(3);
  EXPECT_FALSE(listless.LoadAllDomains(&all));
  EXPECT_TRUE(all.empty());
}

TEST_F(DomainStoreTest, LoadAllDomainsCutsNamesAndConvertsOldControls) {
  t_.Put("domain.cfg",
         DomainFile(
             "<item><domain>" + std::string(70, 'n') +
             "</domain><description>" + std::string(140, 'd') +
             "</description><NetStoreQuota> -5</NetStoreQuota>"
             "<pop3control>1</pop3control><pop3control>2</pop3control></item>"
             "<item><domain>a</domain><sendcontrol>1</sendcontrol>"
             "<recvcontrol>1</recvcontrol><allowalldomain>3</allowalldomain>"
             "<extdomainlist>x.com</extdomainlist></item>"
             "<item><domain>b</domain><sendcontrol>1</sendcontrol>"
             "<allowalldomain>2</allowalldomain><extdomainlist>e"
             "</extdomainlist><recvcontrol>8</recvcontrol></item>"
             "<notitem><domain>skip</domain></notitem>\r\n"));
  std::vector<DomainRecord> all;
  ASSERT_TRUE(DomainStore(&t_.context).LoadAllDomains(&all));
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].domain, std::string(64, 'n'));
  EXPECT_EQ(all[0].description, std::string(128, 'd'));
  EXPECT_EQ(all[0].netstorequota, -5);
  EXPECT_EQ(all[0].pop3control, 2);
  EXPECT_EQ(all[1].sendcontrol, 8);
  EXPECT_EQ(all[1].senddomainlist, "x.com");
  EXPECT_EQ(all[1].recvcontrol, 8);
  EXPECT_EQ(all[1].recvdomainlist, "x.com");
  EXPECT_EQ(all[2].sendcontrol, 12);
  EXPECT_EQ(all[2].senddomainlist, "e");
  EXPECT_EQ(all[2].recvcontrol, 8);
  EXPECT_EQ(all[2].recvdomainlist, "");
}

}  // namespace
}  // namespace vm
