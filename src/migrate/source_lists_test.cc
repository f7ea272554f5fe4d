#include "migrate/source_lists.h"

#include <gtest/gtest.h>

#include "migrate/texts.h"
#include "platform/code_page.h"
#include "testing/mem_file_system.h"
#include "testing/recording_host.h"
#include "util/md5.h"

namespace vm {
namespace {

class SourceListsTest : public testing::Test {
 protected:
  void SetUp() override {
    texts_ = MakeTexts(*OpenCodePage("GBK"));
    ASSERT_TRUE(fs_.CreateDir("C:\\src"));
  }

  void Write(const std::string& name, const std::string& text) {
    ASSERT_TRUE(fs_.WriteFile("C:\\src\\" + name, text, nullptr));
  }

  bool Load() { return LoadSourceLists(&fs_, "C:\\src", texts_, &host_); }

  // "name@domain" of every attached account, in list order.
  std::vector<std::string> Attached() const {
    std::vector<std::string> out;
    for (const SourceDomain& d : host_.domains) {
      for (const SourceAccount& a : d.accounts) {
        out.push_back(d.name + ":" + a.user_name + "/" + a.domain);
      }
    }
    return out;
  }

  MemFileSystem fs_;
  RecordingHost host_;
  Texts texts_;
};

TEST_F(SourceListsTest, MissingListsShowTheirMessage) {
  EXPECT_FALSE(Load());
  EXPECT_EQ(host_.messages,
            std::vector<std::string>{texts_.domain_ini_missing});
  EXPECT_TRUE(host_.domains.empty());

  Write("domain.ini", "a.com\r\nb.com\r\n");
  host_.messages.clear();
  EXPECT_FALSE(Load());
  EXPECT_EQ(host_.messages,
            std::vector<std::string>{texts_.popusers_ini_missing});
  EXPECT_EQ(host_.domains.size(), 2u);  // the domains read stay
}

TEST_F(SourceListsTest, DomainLinesAreTakenAsTheyAre) {
  Write("domain.ini", "a.com\r\n\r\n b.com \nExample.com");
  Write("popusers.ini", "");
  ASSERT_TRUE(Load());
  std::vector<std::string> names;
  for (const SourceDomain& d : host_.domains) names.push_back(d.name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"a.com", "", " b.com ", "Example.com"}));
}

TEST_F(SourceListsTest, AccountsAttachByDomainOrderThenFieldOrder) {
  Write("domain.ini", "first.com\r\nsecond.com\r\n\r\nExample.com\r\n");
  Write("popusers.ini",
        "A\tc\tsecond.com\tfirst.com\r\n"  // first domain wins, by field 3
        "B\tc\tfirst.com\tfirst.com\r\n"   // same domain: by field 2
        "C\tc\tnone\tsecond.com\r\n"       // field 3
        "D\tc\texample.com\tx\r\n"         // case-sensitive: skipped
        "E\tc\t\tx\r\n"                    // empty field 2: empty domain
        "F\tc\r\n"                         // too few fields: skipped
        "\r\n"                             // empty line: skipped
        "G\tc\tnone\r\n");                 // no field 3, no match
  ASSERT_TRUE(Load());
  EXPECT_EQ(Attached(), (std::vector<std::string>{
                            "first.com:a/first.com", "first.com:b/first.com",
                            "second.com:c/second.com", ":e/"}));
}

TEST_F(SourceListsTest, PasswordOptions) {
  Write("domain.ini", "d.com\r\n");
  Write("popusers.ini", "Bob\tCipher\td.com\r\n");
  struct Case {
    PasswordMode mode;
    std::string suffix, common, digested;
  } cases[] = {
      {PasswordMode::kSameAsUserName, "", "", "bob"},
      {PasswordMode::kUserNamePlusSuffix, "  Xy1 ", "", "bobXy1"},
      {PasswordMode::kCommonPassword, "", "\tSecret ", "Secret"},
      {PasswordMode::kSourceCipherText, "", "", "Cipher"},
      {PasswordMode::kUserNamePlusSuffix, std::string(20, 's'), "",
       "bob" + std::string(20, 's')},
  };
  for (const Case& c : cases) {
    host_.mode = c.mode;
    host_.suffix = c.suffix;
    host_.common_password = c.common;
    ASSERT_TRUE(Load());
    ASSERT_EQ(host_.domains.size(), 1u);  // emptied before each load
    ASSERT_EQ(host_.domains[0].accounts.size(), 1u);
    EXPECT_EQ(host_.domains[0].accounts[0].password,
              "{md5}" + Md5Hex(c.digested))
        << c.digested;
  }
}

TEST_F(SourceListsTest, BadPasswordTextFailsOnlyWhenAnAccountNeedsIt) {
  Write("domain.ini", "d.com\r\n");
  Write("popusers.ini", "x\tc\tother.com\r\n");
  host_.mode = PasswordMode::kUserNamePlusSuffix;
  host_.suffix = "   ";
  EXPECT_TRUE(Load());
  EXPECT_EQ(host_.edit_reads, 0);

  struct Case {
    PasswordMode mode;
    std::string text;
  } cases[] = {
      {PasswordMode::kUserNamePlusSuffix, "   "},
      {PasswordMode::kUserNamePlusSuffix, std::string(21, 's')},
      {PasswordMode::kCommonPassword, ""},
      {PasswordMode::kCommonPassword, "\xd6\xd0" + std::string(19, 'p')},
  };
  Write("popusers.ini", "a\tc\td.com\r\nb\tc\td.com\r\n");
  for (const Case& c : cases) {
    host_.mode = c.mode;
    host_.suffix = host_.common_password = c.text;
    host_.messages.clear();
    EXPECT_FALSE(Load());
    EXPECT_EQ(host_.messages,
              std::vector<std::string>{texts_.bad_password_text});
    EXPECT_TRUE(host_.domains[0].accounts.empty());
  }
}

TEST_F(SourceListsTest, OverlongNamesAreRefusedVisibly) {
  std::string long_domain(65, 'd');
  Write("domain.ini", "d.com\r\n" + long_domain + "\r\n");
  Write("popusers.ini", std::string(65, 'u') + "\tc\td.com\r\n" +
                            std::string(64, 'v') + "\tc\td.com\r\n" + "w\tc\t" +
                            long_domain + "\r\n");
  int refused = 0;
  ASSERT_TRUE(LoadSourceLists(&fs_, "C:\\src", texts_, &host_, &refused));
  EXPECT_EQ(refused, 2);
  EXPECT_EQ(Attached(), std::vector<std::string>{
                            "d.com:" + std::string(64, 'v') + "/d.com"});
  EXPECT_EQ(host_.lines, (std::vector<std::string>{
                             texts_.name_too_long + std::string(65, 'u'),
                             texts_.name_too_long + "w"}));
}

// A NUL inside a name would cut it short in the target's records, making
// it another name: such domains and accounts are refused, by name.
TEST_F(SourceListsTest, NamesWithNulAreRefusedVisibly) {
  using namespace std::string_literals;
  Write("domain.ini", "d.com\r\nx\0y.com\r\n"s);
  Write("popusers.ini",
        "nu\0l\tc\td.com\r\nok\tc\td.com\r\n"
        "w\tc\tx\0y.com\r\n"s);
  int refused = 0;
  ASSERT_TRUE(LoadSourceLists(&fs_, "C:\\src", texts_, &host_, &refused));
  EXPECT_EQ(refused, 2);
  EXPECT_EQ(Attached(), std::vector<std::string>{"d.com:ok/d.com"});
  EXPECT_EQ(host_.lines,
            (std::vector<std::string>{texts_.name_has_nul + "x\0y.com"s,
                                      texts_.name_has_nul + "nu\0l"s}));
}

}  // namespace
}  // namespace vm
