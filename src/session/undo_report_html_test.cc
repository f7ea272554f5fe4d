#include "session/undo_report_html.h"

#include <gtest/gtest.h>

#include "platform/code_page.h"
#include "testing/golden.h"

namespace vm {
namespace {

// The page of a small undo, style sheet aside. Catches tiles that do not
// divide the items (a never-made item counted as gone too, a path outside
// the target counted as kept too), a kept item left out of the attention
// list or a removed one put in it, items filed under the wrong account or
// a domain under an account, and a name or reason not converted from GBK
// or not escaped.
TEST(UndoReportHtmlTest, SmallUndoPage) {
  auto gbk = OpenCodePage("GBK");
  using K = ManifestEntry::Kind;
  using O = UndoOutcome;
  UndoResult r;
  r.items = {
      {K::kMessageFile, "/s/bob@a.com/INBOX/1.in", O::kRemoved, "", false,
       "bob@a.com"},
      {K::kMessageFile, "/s/<i>@a.com/INBOX/2.in", O::kGone, "", true,
       "<i>@a.com"},
      {K::kDirectory, "/s/\xd5\xc5\xce\xb0", O::kKept, "\xca\xbe\xc0\xfd",
       false, "\xd5\xc5\xce\xb0@p.com"},
      {K::kDirectory, "/etc/x", O::kKept, "outside", false, ""},
      {K::kAccount, "bob@a.com", O::kGone, "", false, "bob@a.com"},
      {K::kAccount, "<i>@a.com", O::kStopped, "", false, "<i>@a.com"},
      {K::kDomain, "a.com", O::kRemoved, "", false, ""},
  };
  r.removed = 2;
  r.gone = 2;
  r.kept = 2;
  r.outside = 1;
  r.stopped = 1;
  UndoPageHeader header;
  header.version = "1.2.3";
  header.started = 86400;
  header.ended = 86400 + 61;
  header.target = "/t\"x";
  header.manifest = "/r/run.manifest";
  std::string page;
  ASSERT_TRUE(WriteUndoHtmlReport(
      [&page](std::string_view piece) {
        page += piece;
        return true;
      },
      header, r, *gbk));
  EXPECT_NE(page.find("<title>撤销报告：撤销未完成</title>"),
            std::string::npos);
  EXPECT_EQ(page.substr(page.find("<header>")),
            Golden("report/small_undo_page.html"));
}

}  // namespace
}  // namespace vm
