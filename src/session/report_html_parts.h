#ifndef VM_SESSION_REPORT_HTML_PARTS_H_
#define VM_SESSION_REPORT_HTML_PARTS_H_

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "migrate/run_observer.h"
#include "session/folder_list.h"
#include "session/progress_samples.h"

// The pieces of the HTML report shared by its files: the writer the page
// goes through and the sums the summary and the charts draw.

namespace vm {

class CodePage;
class RunRecord;
struct AccountRecord;
struct ReportHeader;
struct Texts;

// Passes text on until a write fails, then drops the rest.
class HtmlOut {
 public:
  explicit HtmlOut(const std::function<bool(std::string_view)>& add)
      : add_(add) {}
  HtmlOut& operator<<(std::string_view text) {
    ok_ = ok_ && add_(text);
    return *this;
  }
  HtmlOut& operator<<(int64_t n) { return *this << std::to_string(n); }
  HtmlOut& operator<<(uint64_t n) { return *this << std::to_string(n); }
  bool ok() const { return ok_; }

 private:
  const std::function<bool(std::string_view)>& add_;
  bool ok_ = true;
};

// The page's head (its security policy, `title` as HTML text, the style
// sheet) and the opening of its body.
void WriteHtmlHead(HtmlOut* out, std::string_view title);

// One count as a tile, marked when `alarm` and the count is not zero.
void Tile(HtmlOut* out, std::string_view key, std::string_view label,
          int64_t value, bool alarm);

// One domain's accounts summed, its name converted and escaped.
struct HtmlDomainSum {
  std::string name;  // HTML text
  int64_t accounts = 0;
  FolderRecord sum;
};

// A flag or an option of the report's header; false or empty when absent.
bool Flag(const ReportHeader& header, std::string_view name);
std::string Option(const ReportHeader& header, std::string_view name);

// An account's outcome as HTML text: what the run did, or, in a preview,
// the plan's word for what it would do.
std::string OutcomeWord(AccountOutcome outcome, bool preview,
                        const Texts& texts, const CodePage& cp);

// Whether the account's outcome or one of its folders needs attention.
bool NeedsAttention(const AccountRecord& account);

// What needs attention (`items` of it: accounts and failed domains):
// failed domains; failed, refused, left-out and
// unfinished accounts; folders with failed copies or a failed check. Each
// with its reason and the guide's section on it.
void WriteAttention(HtmlOut* out, const ReportHeader& header,
                    const RunRecord& record, int64_t items, const Texts& texts,
                    const CodePage& cp);
// One row of counts per domain.
void WriteDomainTable(HtmlOut* out, const std::vector<HtmlDomainSum>& domains);
// Every account with its folders, a collapsible section per domain.
void WriteAccounts(HtmlOut* out, const RunRecord& record, bool preview,
                   const Texts& texts, const CodePage& cp);

// "12.3 MB" (binary units), for people; the exact count stays beside it.
std::string SizeText(uint64_t bytes);

// Bars of messages and bytes per domain, the largest domains first.
void WriteDomainCharts(HtmlOut* out, const std::vector<HtmlDomainSum>& domains);
// One bar per outcome that occurred: (label as HTML text, count).
void WriteOutcomeChart(
    HtmlOut* out, const std::vector<std::pair<std::string, int64_t>>& bars);
// Messages copied against time.
void WriteProgressChart(HtmlOut* out, const std::vector<ProgressPoint>& points);

}  // namespace vm

#endif  // VM_SESSION_REPORT_HTML_PARTS_H_
