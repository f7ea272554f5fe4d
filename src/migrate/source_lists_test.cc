#include "migrate/source_lists.h"

#include <gtest/gtest.h>

#include "testing/mem_installation.h"
#include "util/md5.h"

namespace vm {
namespace {

class SourceListsTest : public testing::Test {
 protected:
  bool Load(int* refused = nullptr) {
    t_.host.messages.clear();
    return LoadSourceLists(&t_.fs, t_.settings.source_dir, t_.texts, &t_.host,
                           t_.settings.passwords, refused, nullptr,
                           t_.code_page.get());
  }
  // "domain:user/account domain" of every attached account, in list order.
  std::vector<std::string> Attached() const {
    std::vector<std::string> out;
    for (const SourceDomain& d : t_.host.domains) {
      for (const SourceAccount& a : d.accounts) {
        out.push_back(d.name + ":" + a.user_name + "/" + a.domain);
      }
    }
    return out;
  }
  std::string Message() const {
    return t_.host.messages.size() == 1
               ? t_.code_page->ToUtf8(t_.host.messages[0])
               : std::to_string(t_.host.messages.size()) + " messages";
  }

  MemInstallation t_;
};

TEST_F(SourceListsTest, MissingListsShowTheirMessage) {
  EXPECT_FALSE(Load());
  EXPECT_EQ(Message(), "没有找到domain.ini文件");
  t_.PutSource("domain.ini", "a.com\r\n\r\n b.com \nExample.com\n\na.com");
  EXPECT_FALSE(Load());
  EXPECT_EQ(Message(), "没有找到popusers.ini文件");
  // Domain lines are taken as they are, a repeated one once.
  std::vector<std::string> names;
  for (const SourceDomain& d : t_.host.domains) names.push_back(d.name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"a.com", "", " b.com ", "Example.com"}));
}

// Lists re-saved by other editors: CR, LF and CR LF line ends in one file,
// and UTF-8 text behind a byte-order mark, converted to the code page.
TEST_F(SourceListsTest, LineEndsAndUtf8Lists) {
  t_.PutSource("domain.ini", "\xEF\xBB\xBF\xE5\x9F\x9F.com\rb.com\r\nc.com\n");
  t_.PutSource("popusers.ini",
               "\xEF\xBB\xBF\xE5\xBC\xA0\tc\t\xE5\x9F\x9F.com\rBob\tc\tc.com");
  ASSERT_TRUE(Load());
  EXPECT_EQ(Attached(),
            (std::vector<std::string>{"\xD3\xF2.com:\xD5\xC5/\xD3\xF2.com",
                                      "c.com:bob/c.com"}));
  ASSERT_EQ(t_.host.domains.size(), 3u);
  EXPECT_EQ(t_.host.domains[1].name, "b.com");
}

TEST_F(SourceListsTest, AccountsAttachByDomainOrderThenFieldOrder) {
  t_.PutSource("domain.ini", "first.com\r\nsecond.com\r\n\r\nExample.com\r\n");
  t_.PutSource("popusers.ini",
               "A\tc\tsecond.com\tfirst.com\r\n"  // first domain wins
               "B\tc\tfirst.com\tfirst.com\r\n"   // same domain: field 2
               "C\tc\tnone\tsecond.com\r\n"       // field 3
               "D\tc\texample.com\tx\r\n"         // case-sensitive: skipped
               "E\tc\t\tx\r\n"                    // empty field 2: empty domain
               "F\tc\r\n"                         // too few fields: skipped
               "\r\n"
               "G\tc\tnone\r\n");  // no field 3, no match
  ASSERT_TRUE(Load());
  EXPECT_EQ(Attached(), (std::vector<std::string>{
                            "first.com:a/first.com", "first.com:b/first.com",
                            "second.com:c/second.com", ":e/"}));
}

TEST_F(SourceListsTest, PasswordOptions) {
  t_.PutSource("domain.ini", "d.com\r\n");
  t_.PutSource("popusers.ini", "Bob\tCipher\td.com\r\n");
  const struct {
    PasswordMode mode;
    std::string text;  // suffix or common password
    std::string digested;
  } kCases[] = {
      {PasswordMode::kSameAsUserName, "", "bob"},
      {PasswordMode::kUserNamePlusSuffix, "  Xy1 ", "bobXy1"},
      {PasswordMode::kUserNamePlusSuffix, std::string(20, 's'),
       "bob" + std::string(20, 's')},
      {PasswordMode::kCommonPassword, "\tSecret ", "Secret"},
      {PasswordMode::kSourceCipherText, "", "Cipher"},
      // Refused texts: empty, or over 20 bytes.
      {PasswordMode::kUserNamePlusSuffix, "   ", ""},
      {PasswordMode::kUserNamePlusSuffix, std::string(21, 's'), ""},
      {PasswordMode::kCommonPassword, "", ""},
      {PasswordMode::kCommonPassword, "\xd6\xd0" + std::string(19, 'p'), ""},
  };
  for (const auto& c : kCases) {
    t_.settings.passwords = {c.mode, c.text, c.text};
    EXPECT_EQ(Load(), !c.digested.empty()) << c.text;
    ASSERT_EQ(t_.host.domains.size(), 1u);  // emptied before each load
    if (c.digested.empty()) {
      EXPECT_EQ(Message(), "密码不能为空且不能超过20个字符！");
      EXPECT_TRUE(t_.host.domains[0].accounts.empty());
    } else {
      ASSERT_EQ(t_.host.domains[0].accounts.size(), 1u);
      EXPECT_EQ(t_.host.domains[0].accounts[0].password,
                "{md5}" + Md5Hex(c.digested));
    }
  }
}

// Names over 64 bytes, or holding a NUL (which would cut them short in the
// target's records, making them other names) or another control character
// (which the target's XML files cannot hold), are refused by name.
TEST_F(SourceListsTest, OverlongNulAndControlNamesAreRefusedVisibly) {
  using namespace std::string_literals;
  const std::string long_domain(65, 'd');
  t_.PutSource("domain.ini",
               "d.com\r\n" + long_domain + "\r\nx\0y.com\r\nv\x0By.com\r\n"s);
  t_.PutSource("popusers.ini", std::string(65, 'u') + "\tc\td.com\r\n" +
                                   std::string(64, 'v') + "\tc\td.com\r\n" +
                                   "w\tc\t" + long_domain + "\r\n" +
                                   "nu\0l\tc\td.com\r\nf\x1F\tc\td.com\r\n"s);
  int refused = 0;
  ASSERT_TRUE(Load(&refused));
  EXPECT_EQ(refused, 6);
  EXPECT_EQ(Attached(), std::vector<std::string>{
                            "d.com:" + std::string(64, 'v') + "/d.com"});
  EXPECT_EQ(t_.ResultList(),
            "名称含有空字符，未导入:x\0y.com\n"s
            "名称含有控制字符，未导入:v\x0By.com\n"
            "用户名或域名超过64字节，该帐户未导入:" +
                std::string(65, 'u') +
                "\n用户名或域名超过64字节，该帐户未导入:w\n"
                "名称含有空字符，未导入:nu\0l\n"s
                "名称含有控制字符，未导入:f\x1F\n");
}

}  // namespace
}  // namespace vm
