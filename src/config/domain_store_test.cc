#include "config/domain_store.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "config/config_test_util.h"

namespace vm {
namespace {

// The settings the domain step gives every migrated domain.
DomainRecord ImportedDomain(const std::string& name) {
  DomainRecord r;
  r.domain = name;
  r.maxmailboxquota = 20971520;
  r.maxmailboxmailnum = 10000;
  r.netstorequota = 104857600;
  r.netstoretotallimit = 1000;
  r.defaultwarninglimit = 80;
  r.addressnum = 100;
  r.signaturenum = 5;
  r.externalmailnum = 5;
  r.mailfilternum = 10;
  r.maxpop3mailsize = 5242880;
  r.maxpop3mailtotal = 100;
  return r;
}

std::string ImportedItem(const std::string& name, const char* type) {
  return "<item>\r\n<domain>" + name + "</domain>\r\n<type>" + type +
         "</type>\r\n"
         "<maxmailboxquota>20971520</maxmailboxquota>\r\n"
         "<maxmailboxmailnum>10000</maxmailboxmailnum>\r\n"
         "<netstorequota>104857600</netstorequota>\r\n"
         "<netstoretotallimit>1000</netstoretotallimit>\r\n"
         "<defaultwarninglimit>80</defaultwarninglimit>\r\n"
         "<addressnum>100</addressnum>\r\n"
         "<mailfilternum>10</mailfilternum>\r\n"
         "<signaturenum>5</signaturenum>\r\n"
         "<externalmailnum>5</externalmailnum>\r\n"
         "<maxpop3mailsize>5242880</maxpop3mailsize>\r\n"
         "<maxpop3mailtotal>100</maxpop3mailtotal>\r\n"
         "</item>\r\n";
}

std::string DomainFile(const std::string& items,
                       const std::string& aliases = "") {
  return "<database>\r\n<domain>\r\n" + items +
         "</domain>\r\n<domainalias>\r\n" + aliases +
         "</domainalias>\r\n</database>";
}

class DomainStoreTest : public testing::Test {
 protected:
  MemTarget t_;
};

TEST_F(DomainStoreTest, AddsItemsInTheTargetsLayout) {
  t_.Put("domain.cfg", kEmptyDomainCfg);
  DomainStore store(&t_.context);
  EXPECT_EQ(store.FindPrimaryDomain(), "");
  EXPECT_FALSE(store.DomainExists("example.com"));
  EXPECT_FALSE(store.AliasDomainExists("example.com"));

  ASSERT_TRUE(store.AddDomain(ImportedDomain("example.com")));
  EXPECT_EQ(t_.context.primary_domain, "example.com");
  ASSERT_TRUE(store.AddDomain(ImportedDomain("other.org")));
  EXPECT_EQ(t_.context.primary_domain, "example.com");
  EXPECT_EQ(t_.Get("domain.cfg"), DomainFile(ImportedItem("example.com", "1") +
                                             ImportedItem("other.org", "0")));
  EXPECT_EQ(store.FindPrimaryDomain(), "example.com");
}

TEST_F(DomainStoreTest, WritesEveryFieldInTheFilesOrder) {
  t_.Put("domain.cfg", kEmptyDomainCfg);
  t_.context.primary_domain = "main.com";
  DomainStore store(&t_.context);
  DomainRecord r;
  r.domain = "d.com";
  r.type = 1;  // never taken from the record
  r.description = "desc";
  r.everyonegroup = 9;  // never written
  r.senddomainlist = "a.com";
  r.recvdomainlist = "b.com";
  int32_t* numbers[] = {&r.pwdencrypt,
                        &r.publicuserinfo,
                        &r.maxmailboxmailnum,
                        &r.netstoretotallimit,
                        &r.defaultwarninglimit,
                        &r.sendcontrol,
                        &r.recvcontrol,
                        &r.pop3control,
                        &r.imapcontrol,
                        &r.webmailcontrol,
                        &r.netstorecontrol,
                        &r.calendarcontrol,
                        &r.notebookcontrol,
                        &r.modifyuserinfo,
                        &r.externalpop3,
                        &r.autoforward,
                        &r.autoreply,
                        &r.spamcontrol,
                        &r.publiccontact,
                        &r.smsnotify,
                        &r.sendsms,
                        &r.expiretime,
                        &r.chgpassword,
                        &r.pwdexpiredays,
                        &r.pwdlength,
                        &r.pwdlevel,
                        &r.addressnum,
                        &r.signaturenum,
                        &r.externalmailnum,
                        &r.mailfilternum,
                        &r.maxpop3mailsize,
                        &r.maxpop3mailtotal,
                        &r.sendmaxmsgsize,
                        &r.sendfreq,
                        &r.localtimes,
                        &r.localsize,
                        &r.remotetimes,
                        &r.remotesize};
  for (int32_t* n : numbers) *n = -3;
  r.maxmailboxquota = 5000000000;
  r.netstorequota = 7;
  ASSERT_TRUE(store.AddDomain(r));

  std::istringstream order(
      "domain type pwdencrypt description publicuserinfo maxmailboxquota "
      "maxmailboxmailnum netstorequota netstoretotallimit defaultwarninglimit "
      "sendcontrol recvcontrol senddomainlist recvdomainlist pop3control "
      "imapcontrol webmailcontrol netstorecontrol calendarcontrol "
      "notebookcontrol modifyuserinfo externalpop3 autoforward autoreply "
      "spamcontrol publiccontact smsnotify sendsms expiretime sendfreq "
      "sendmaxmsgsize localtimes localsize remotetimes remotesize chgpassword "
      "pwdexpiredays pwdlength pwdlevel addressnum mailfilternum signaturenum "
      "externalmailnum maxpop3mailsize maxpop3mailtotal");
  const std::map<std::string, std::string> special = {
      {"domain", "d.com"},         {"type", "0"},
      {"description", "desc"},     {"senddomainlist", "a.com"},
      {"recvdomainlist", "b.com"}, {"maxmailboxquota", "5000000000"},
      {"netstorequota", "7"}};
  std::string expected = "<item>\r\n";
  for (std::string name; order >> name;) {
    std::string value = special.count(name) ? special.at(name) : "-3";
    expected += "<" + name + ">" + value + "</" + name + ">\r\n";
  }
  expected += "</item>\r\n";
  EXPECT_EQ(t_.Get("domain.cfg"), DomainFile(expected));
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
  EXPECT_FALSE(store.AliasDomainExists("example.com"));
}

TEST_F(DomainStoreTest, PrimaryDomainIsTheFirstOfType1) {
  struct Case {
    const char* type;
    bool primary;
  } cases[] = {{"1", true},   {"  1", true}, {"001", true}, {"1abc", true},
               {"+1", true},  {"0", false},  {"2", false},  {"", false},
               {"x1", false}, {"11", false}};
  for (const Case& c : cases) {
    MemTarget t;
    t.Put("domain.cfg",
          DomainFile("<item><domain>none.com</domain></item>\r\n"
                     "<item><domain>a.com</domain><type>" +
                     std::string(c.type) +
                     "</type></item>\r\n"
                     "<item><domain>b.com</domain><type>1</type></item>\r\n"));
    DomainStore store(&t.context);
    EXPECT_EQ(store.FindPrimaryDomain(), c.primary ? "a.com" : "b.com")
        << c.type;
  }
}

TEST_F(DomainStoreTest, RefusedRecordsChangeNothing) {
  t_.Put("domain.cfg", kEmptyDomainCfg);
  DomainStore store(&t_.context);
  DomainRecord long_name = ImportedDomain(std::string(65, 'a'));
  DomainRecord long_description = ImportedDomain("d.com");
  long_description.description = std::string(129, 'x');
  for (const DomainRecord& r :
       {ImportedDomain(""), long_name, long_description}) {
    EXPECT_FALSE(store.AddDomain(r));
    EXPECT_EQ(t_.context.primary_domain, "");
  }
  EXPECT_EQ(t_.Get("domain.cfg"), kEmptyDomainCfg);
  EXPECT_EQ(store.document().DocumentText(), kEmptyDomainCfg);

  DomainRecord longest = ImportedDomain(std::string(64, 'a'));
  longest.description = std::string(128, 'x');
  EXPECT_TRUE(store.AddDomain(longest));
}

TEST_F(DomainStoreTest, FileWithoutDomainListFailsButSettlesPrimary) {
  t_.Put("domain.cfg", "<database>\r\n</database>");
  DomainStore store(&t_.context);
  EXPECT_FALSE(store.AddDomain(ImportedDomain("first.com")));
  EXPECT_EQ(t_.context.primary_domain, "first.com");
  EXPECT_FALSE(store.DomainExists("first.com"));
  EXPECT_EQ(store.FindPrimaryDomain(), "");
  std::vector<DomainRecord> all(3);
  EXPECT_FALSE(store.LoadAllDomains(&all));
  EXPECT_TRUE(all.empty());
  EXPECT_EQ(t_.fs.WriteCount(t_.Path("domain.cfg")), 1);  // only the Put
}

TEST_F(DomainStoreTest, FailedSaveKeepsItemForTheNextSave) {
  t_.Put("domain.cfg", kEmptyDomainCfg);
  DomainStore store(&t_.context);
  t_.fs.FailWritesAfter(0);
  EXPECT_FALSE(store.AddDomain(ImportedDomain("a.com")));
  EXPECT_TRUE(store.DomainExists("a.com"));
  EXPECT_EQ(t_.Get("domain.cfg"), kEmptyDomainCfg);
  t_.fs.FailWritesAfter(-1);
  EXPECT_TRUE(store.AddDomain(ImportedDomain("b.com")));
  EXPECT_EQ(t_.Get("domain.cfg"), DomainFile(ImportedItem("a.com", "1") +
                                             ImportedItem("b.com", "0")));
}

TEST_F(DomainStoreTest, LoadAllDomainsReadsAndConvertsSettings) {
  const std::string long_name(70, 'n');
  const std::string long_description(140, 'd');
  t_.Put(
      "domain.cfg",
      DomainFile(
          "<item><domain>" + long_name + "</domain><description>" +
          long_description +
          "</description><maxmailboxquota>9000000000</maxmailboxquota>"
          "<NetStoreQuota> -5</NetStoreQuota><unknown>3</unknown>"
          "<pop3control>1</pop3control><pop3control>2</pop3control>"
          "</item>\r\n"
          "<item><domain>a</domain><sendcontrol>1</sendcontrol>"
          "<recvcontrol>1</recvcontrol><allowalldomain>3</allowalldomain>"
          "<extdomainlist>x.com;y.com</extdomainlist></item>\r\n"
          "<item><domain>b</domain><sendcontrol>1</sendcontrol>"
          "<allowalldomain>2</allowalldomain><extdomainlist>e</extdomainlist>"
          "<recvcontrol>8</recvcontrol><recvdomainlist>own</recvdomainlist>"
          "</item>\r\n"
          "<item><domain>c</domain><sendcontrol>1</sendcontrol>"
          "<recvcontrol>1</recvcontrol><allowalldomain>1</allowalldomain>"
          "</item>\r\n"
          "<notitem><domain>skip</domain></notitem>\r\n"));
  DomainStore store(&t_.context);
  std::vector<DomainRecord> all;
  ASSERT_TRUE(store.LoadAllDomains(&all));
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0].domain, long_name.substr(0, 64));
  EXPECT_EQ(all[0].description, long_description.substr(0, 128));
  EXPECT_EQ(all[0].maxmailboxquota, 9000000000);
  EXPECT_EQ(all[0].netstorequota, -5);
  EXPECT_EQ(all[0].pop3control, 2);
  EXPECT_EQ(all[0].everyonegroup, 0);

  EXPECT_EQ(all[1].sendcontrol, 8);
  EXPECT_EQ(all[1].senddomainlist, "x.com;y.com");
  EXPECT_EQ(all[1].recvcontrol, 8);
  EXPECT_EQ(all[1].recvdomainlist, "x.com;y.com");

  EXPECT_EQ(all[2].sendcontrol, 12);
  EXPECT_EQ(all[2].senddomainlist, "e");
  EXPECT_EQ(all[2].recvcontrol, 8);
  EXPECT_EQ(all[2].recvdomainlist, "own");

  EXPECT_EQ(all[3].sendcontrol, 8);
  EXPECT_EQ(all[3].senddomainlist, "");
  EXPECT_EQ(all[3].recvcontrol, 8);
}

TEST_F(DomainStoreTest, LargeQuotaSurvivesTheRoundTrip) {
  t_.Put("domain.cfg", kEmptyDomainCfg);
  DomainStore store(&t_.context);
  DomainRecord r = ImportedDomain("big.com");
  r.maxmailboxquota = INT64_MAX;  // 19 digits
  r.netstorequota = -4294967296;
  ASSERT_TRUE(store.AddDomain(r));
  EXPECT_NE(t_.Get("domain.cfg")
                .find("<maxmailboxquota>9223372036854775807</maxmailboxquota>"),
            std::string::npos);
  DomainStore reader(&t_.context);
  std::vector<DomainRecord> all;
  ASSERT_TRUE(reader.LoadAllDomains(&all));
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].maxmailboxquota, INT64_MAX);
  EXPECT_EQ(all[0].netstorequota, -4294967296);
  EXPECT_EQ(all[0].type, 1);
}

}  // namespace
}  // namespace vm
