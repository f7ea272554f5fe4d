#include "session/run_report.h"

#include <gtest/gtest.h>

#include "migrate/texts.h"
#include "platform/code_page.h"
#include "session/account_list.h"
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

}  // namespace
}  // namespace vm
