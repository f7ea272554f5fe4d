#include "session/report_html.h"

#include <gtest/gtest.h>

#include "migrate/texts.h"
#include "platform/code_page.h"
#include "session/run_record.h"
#include "testing/golden.h"

namespace vm {
namespace {

// A name that would be markup, an attribute, the end of the style sheet or
// a control byte shows as text; bytes of other characters pass unchanged.
TEST(HtmlEscapedTest, HostileNamesBecomeText) {
  const std::pair<std::string, std::string> cases[] = {
      {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
      {"\"onmouseover='x'", "&quot;onmouseover=&#39;x&#39;"},
      {"</style>&amp;", "&lt;/style&gt;&amp;amp;"},
      {"a\x01\x1f\x7f\tb", "a\\u0001\\u001f\\u007f\\u0009b"},
      {"\xe5\xbc\xa0\xe4\xbc\x9f", "\xe5\xbc\xa0\xe4\xbc\x9f"},
  };
  for (const auto& [name, text] : cases) EXPECT_EQ(HtmlEscaped(name), text);
}

// The page of a small run, charts and style sheet aside: the verdict and
// the run's facts, tiles that sum every domain, the attention list (a
// failed domain, a refused and a left-out account, a folder with failed
// copies; not the account that merely has it), each domain's sums and its
// accounts in its own section, names converted from GBK and escaped.
TEST(HtmlReportTest, SmallRunPage) {
  auto gbk = OpenCodePage("GBK");
  const Texts texts = MakeTexts(*gbk);
  RunRecord record;
  record.OnDomain("a.com", DomainOutcome::kAdded);
  record.OnDomain("<b>", DomainOutcome::kFailed);
  record.OnDomain("\xca\xbe\xc0\xfd.cn", DomainOutcome::kAdded);
  record.OnAccountBegin("bob", "a.com", "s/bob");
  record.OnFolder({"INBOX", 3, 300, 2, 200, 0, 1});
  record.OnFolder({"Sent", 1, 50, 0, 0, 1, 0});
  record.OnAccountEnd("bob", "a.com", AccountOutcome::kAdded, "", "s/bob");
  record.OnAccountEnd("<i>", "a.com", AccountOutcome::kRefused,
                      texts.unsafe_mailbox_name + "<i>", "");
  record.OnAccountBegin("\xd5\xc5\xce\xb0", "\xca\xbe\xc0\xfd.cn", "s/z");
  record.OnFolder({"INBOX", 1, 2048, 1, 2048, 0, 0});
  record.OnAccountEnd("\xd5\xc5\xce\xb0", "\xca\xbe\xc0\xfd.cn",
                      AccountOutcome::kAdded, "", "s/z");
  record.OnAccountEnd("lost", "c.com", AccountOutcome::kSkippedNoDomainLine, "",
                      "");
  ReportHeader header;
  header.version = "1.2.3";
  header.started = 86400;
  header.ended = 86400 + 3725;
  header.options = {
      {"source", "C:\\V"}, {"output", "/tmp/o"}, {"verify", "none"}};
  header.flags = {{"dry_run", false}};
  header.stats.domain_count = 2;
  header.guide = "file:///g.html";
  std::string page;
  ASSERT_TRUE(WriteHtmlReport(
      [&page](std::string_view piece) {
        page += piece;
        return true;
      },
      header, record, *gbk));
  const size_t charts = page.find("<section class=\"charts\">");
  const size_t domains = page.find("<section id=\"domains\">");
  ASSERT_LT(charts, domains);
  EXPECT_EQ(page.substr(page.find("<header>"), charts - page.find("<header>")) +
                page.substr(domains),
            Golden("report/small_run_page.html"));
  // A write that fails ends the page.
  int writes = 0;
  EXPECT_FALSE(
      WriteHtmlReport([&writes](std::string_view) { return ++writes < 3; },
                      header, record, *gbk));
  EXPECT_EQ(writes, 3);
}

}  // namespace
}  // namespace vm
