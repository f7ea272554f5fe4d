#include "session/run_report.h"

#include <gtest/gtest.h>

#include "migrate/texts.h"
#include "platform/code_page.h"
#include "session/account_list.h"
#include "session/report_file.h"
#include "session/run_record.h"
#include "testing/golden.h"

namespace vm {
namespace {

// A name from the source tree must neither break the row for a spreadsheet
// nor run in it as a formula.
TEST(RunReportTest, CsvRowQuotesAndNeutralisesNames) {
  const auto code_page = OpenCodePage("GBK");
  ASSERT_NE(code_page, nullptr);
  const Texts texts = MakeTexts(*code_page);
  ExpectGoldenTable("session/csv_names.txt", [&](const std::string& user) {
    AccountRecord a;
    a.user = user;
    a.domain = "a.com";
    a.outcome = AccountOutcome::kAdded;
    a.target_box = "box";
    return CsvAccountRows(a, texts, *code_page);
  });
}

// The accounts of the JSON report as a reader parses them: members in
// name order, two spaces a level, each count from its own field, an
// account without folders an empty list, quotes, backslashes and control
// bytes escaped, GBK names as UTF-8.
TEST(RunReportTest, JsonAccountsAsWritten) {
  const auto gbk = OpenCodePage("GBK");
  ASSERT_NE(gbk, nullptr);
  RunRecord record;
  record.OnAccountBegin("bob", "a.com", "s/bob");
  record.OnFolder({"INBOX", 3, 300, 2, 200, 5, 1, 7, 700});
  record.OnFolder({"say \"hi\"\\\x01\t", 1, 50, 0, 0, 1, 0});
  record.OnAccountEnd("bob", "a.com", AccountOutcome::kAdded, "", "s/bob");
  record.OnAccountEnd("=cmd", "a.com", AccountOutcome::kRefused, "bad \"name\"",
                      "");
  record.OnAccountBegin("\xd5\xc5\xce\xb0", "\xca\xbe\xc0\xfd.cn", "s/z");
  record.OnFolder({"INBOX", 1, 2048, 1, 2048, 0, 0});
  record.OnAccountEnd("\xd5\xc5\xce\xb0", "\xca\xbe\xc0\xfd.cn",
                      AccountOutcome::kAdded, "", "s/z");
  record.OnVerifyAccount("bob", "a.com");
  record.OnVerified("bob", "a.com", "INBOX", 4, 1, 2);
  record.OnVerifyAccount("\xd5\xc5\xce\xb0", "\xca\xbe\xc0\xfd.cn");
  record.OnVerified("\xd5\xc5\xce\xb0", "\xca\xbe\xc0\xfd.cn", "INBOX", 1, 0,
                    0);
  const std::string text =
      ReportText(ReportFormat::kJson, ReportHeader(), record, *gbk);
  const size_t end = text.find("\n  ],\n");
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(text.substr(0, end + 6), Golden("report/small_run_accounts.json"));
}

}  // namespace
}  // namespace vm
